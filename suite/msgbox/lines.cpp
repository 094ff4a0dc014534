// Lines on stderr above the status line.
#include "suite/msgbox/lines.h"

#include <cstdio>
#include <mutex>

namespace halvex::msgbox {
namespace {

// The batch draws from its own thread; a host may write from another.
std::mutex& Guard() {
  static std::mutex guard;
  return guard;
}

std::string& Drawn() {
  static std::string drawn;
  return drawn;
}

// "\r" and erase to the end: the cursor stays at the start of a clean line.
void Erase() { std::fputs("\r\x1b[K", stderr); }

void Draw(const std::string& text) {
  std::fputs(("\r" + text + "\x1b[K").c_str(), stderr);
}

}  // namespace

void SetStatusLine(const std::string& text) {
  std::lock_guard<std::mutex> lock(Guard());
  std::string& drawn = Drawn();
  if (text == drawn) return;
  if (text.empty()) Erase();
  else Draw(text);
  drawn = text;
  std::fflush(stderr);
}

void WriteLines(const std::string& text) {
  std::lock_guard<std::mutex> lock(Guard());
  const std::string& drawn = Drawn();
  if (!drawn.empty()) Erase();
  std::fputs(text.c_str(), stderr);
  if (!drawn.empty()) Draw(drawn);
  std::fflush(stderr);
}

}  // namespace halvex::msgbox
