// Public-key recipients and identities on the command line: 'halvex keygen',
// encrypt --recipient, decrypt --identity and the identities kept beside the
// key store.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/args.h"

namespace halvex::cli {

// The recipient lines of --recipient values (each a line itself, or a file
// of lines), or the error in words.
struct KeyLines {
  std::vector<std::string> lines;
  std::string error;
};
KeyLines RecipientLines(const std::vector<std::string>& values);
// The identity lines of a file that only its owner may read; an identity
// anybody else can read has leaked, and is refused rather than used.
KeyLines IdentityLines(const std::filesystem::path& file);

// Where 'keygen --ring' keeps identities: beside the key store's file, as
// its name with ".identities" added.
std::filesystem::path RingIdentities();

// Hands the identities of --identity files and of the ring to the library
// (HalvexAddIdentity); false with the reason when a file cannot be used.
bool LoadIdentities(const std::vector<std::string>& files, std::string& error);

// Hands the recipients to the library: theirs alone when no password is
// given (no key store is made for them then), beside the password's and the
// stored key's slots otherwise. The reason in words when they cannot be used.
std::string UseRecipients(const Options& o, const std::vector<std::string>& lines, bool havePassword);

int RunKeygen(const Options& o);

}  // namespace halvex::cli
