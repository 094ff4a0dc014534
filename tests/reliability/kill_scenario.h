// The batch the kill sweep interrupts, known to both the driver program that
// runs it and the test that checks what each interruption left behind.
//
// Phase 1 encrypts the folder in place; one file finds an older encrypted
// copy of itself in its output's way and replaces it, and one file's first
// write fails once, so it is retried. Phase 2 puts a decoy where one original
// will be restored, then decrypts every output of phase 1 in place, so that
// file replaces the decoy and the retry file is retried again; the busy
// file's encrypted form is busy when the cipher first opens it, so it is
// decrypted from a copy.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/reliability/reliability.h"

namespace halvex::reliability::scenario {

// The work folder, relative to the drive.
inline const std::string kFolder = "work";

struct PlainFile {
  std::string name;
  size_t size;
};

// Sizes around the 64 KiB chunk: empty, inside one chunk, several chunks.
inline const std::vector<PlainFile>& Files() {
  static const std::vector<PlainFile> files = {
      {"empty.txt", 0},        {"notes.txt", 5000},   {"photo.bin", 200000},
      {"blocked.bin", 70000},  {"retry.bin", 3000},   {"decoy.txt", 100000},
  };
  return files;
}

// Stands in blocked.bin's output's way before phase 1: an encrypted copy of
// an older version.
inline const std::string kBlockedName = "blocked.bin";
inline const std::string kBlockedOutput = "blocked.bin.qelmenc";
inline std::string OlderVersion() { return Pattern(1234, 99); }

// Written under decoy.txt's name before phase 2.
inline const std::string kDecoyName = "decoy.txt";
inline std::string DecoyBytes() { return Pattern(777, 42); }

// The first write after this file (or its encrypted form) is opened fails
// once per phase.
inline const std::string kRetryName = "retry.bin";

// The cipher's first open of this file's encrypted form in phase 2 finds it
// in use by another program.
inline const std::string kBusyName = "photo.bin";

inline std::map<std::string, std::string> Originals() {
  std::map<std::string, std::string> originals;
  unsigned seed = 1;
  for (const PlainFile& f : Files()) originals[f.name] = Pattern(f.size, seed++);
  return originals;
}

inline std::vector<WString> PhaseOneList() {
  std::vector<WString> list;
  for (const PlainFile& f : Files()) list.push_back(SuiteEnvironment::Path(kFolder + "/" + f.name));
  return list;
}

}  // namespace halvex::reliability::scenario
