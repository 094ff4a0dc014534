// The lines the suite and its host write to stderr on a terminal, and the
// one status line (the progress line) that stands below them: a line written
// while it is drawn goes above it, never into it.
#pragma once

#include <string>

namespace halvex::msgbox {

// Draws text as the status line (it holds no line ending), replacing the one
// drawn before; empty text erases it.
void SetStatusLine(const std::string& text);
// Writes text, whole lines, to stderr: the status line is erased first and
// drawn again below it.
void WriteLines(const std::string& text);

}  // namespace halvex::msgbox
