// What the command prints: a summary with one line per file that was not
// done, or JSON for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "suite/keystore/keystore.h"

namespace halvex::cli {

// Exit statuses, as documented in the help and the README.
enum ExitStatus : int {
  kExitDone = 0,
  kExitSomeNotDone = 1,
  kExitUsage = 2,
  kExitCancelled = 130,
};

int ExitStatusOf(const BatchReport& report);

struct Summary {
  size_t succeeded = 0, skipped = 0, passedOver = 0, failed = 0, cancelled = 0, rolledBack = 0;
  size_t notEncrypted = 0;      // left alone by decryption, not counted as skipped
  size_t alreadyEncrypted = 0;  // left alone by encryption, likewise
  size_t hiddenFolders = 0, hiddenFiles = 0;  // left out by encryption, not in the per-file list
};
Summary Summarize(const BatchReport& report);

// listDone: also one line per file done (when its output is not beside it).
std::string TextReport(const std::string& command, const BatchReport& report, bool listDone);
std::string JsonReport(const std::string& command, const BatchReport& report);

// The status command.
struct FileState {
  std::string path;
  bool encrypted = false;
  bool selfExtracting = false;
  bool locked = false;
  // Encrypted files: what opens them. keyStoreId 0: no key store does (or the
  // file is too old to record which).
  bool keyStore = false;
  uint32_t keyStoreId = 0;
  bool password = false;
};
std::string TextStatus(const std::vector<FileState>& states);
std::string JsonStatus(const std::vector<FileState>& states);

// The inspect command: what an encrypted file's header tells without a key.
struct FileHeader {
  std::string path;
  std::string error;       // why nothing could be told; empty when the header read
  std::string kind;        // "in-place", "message" or "self-extracting"; locked is apart
  std::string program;     // the program in front: "windows", "linux", "none"; empty: not self-extracting
  bool locked = false;
  uint16_t version = 0;
  std::string name;        // the original's name, UTF-8 as stored
  uint64_t size = 0;
  uint64_t modified = 0;   // FILETIME; 0: not recorded
  bool password = false;   // a password slot
  bool storedKey = false;  // a stored-key slot
  uint32_t keyStoreId = 0; // 0: not recorded
  size_t recipients = 0;   // recipient slots
};
std::string TextInspect(const std::vector<FileHeader>& headers);
std::string JsonInspect(const std::vector<FileHeader>& headers, int exitStatus);

// A key-store identifier as the user sees it: 8 hex digits.
std::string Hex8(uint32_t id);

// keystore list.
std::string TextKeys(const std::vector<keystore::KeyInfo>& keys);
std::string JsonKeys(const std::string& keyFile, const std::vector<keystore::KeyInfo>& keys);

// A usage or setup error, for --json callers too.
std::string JsonError(const std::string& command, const std::string& message, int exitStatus);

}  // namespace halvex::cli
