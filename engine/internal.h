// Helpers shared by the engine's source files; not part of the exported class.
#pragma once

#include <cstddef>
#include <cstdint>

#include "halvex/codes.h"
#include "halvex/records.h"
#include "suite/zqca.h"
#include "platform/wide.h"

class CCryptoFile;

namespace halvex::engine {

// A fixed path buffer that starts zero-filled and always stays terminated.
struct PathBuffer {
  WCHAR text[kPathBufferChars] = {};

  // Copies at most kPathBufferChars - 1 characters and terminates.
  void Assign(WStringView value);
  // Appends what fits, keeping the terminator.
  void Append(WStringView value);
  // The text up to the first terminator, never past the buffer's end, even
  // when an outside call filled every character.
  WString Text() const;
};

// Overwrites memory the compiler may not optimise the stores away from:
// key bytes and password copies must not linger after release.
void SecureWipe(void* data, size_t size);
// Wipes a string's characters, then empties it.
void WipeString(WString& text);

// A copy of list entry index; an empty path (which no file check passes) when
// the index lies outside the list.
WString SourceAt(const tagCRYPTOPARAMS* request, uint32_t index);

// Notes the identity of the source a cipher call is about to read, for the
// batch that deletes it afterwards.
void NoteSourceRead(CCryptoFile& engine, const WString& source);

// The progress callback for the engine's next cipher call: it reports to the
// batch's (or never stops the call), and its first report ends the LookScopes
// the checks before the call opened.
ZQCA_ProgressProc ProgressOf(const CCryptoFile& engine);

// The settings library's temporary folder, through a zero-filled buffer.
WString SuiteTempFolderPath();

// What stood at a cipher call's output path before the call, so that a
// failed call never has a file it did not create deleted in its name. A
// decryption learns its output's name only from the call itself: for a path
// not known before, the moment the call started tells a file the call made
// from one that was there already.
struct OutputSnapshot {
  WString path;
  bool fileStood = false;
  int64_t started = 0;  // the file clock just before the call
};
OutputSnapshot TakeOutputSnapshot(const WString& outputPath);
// True when a failed call left its output buffer naming a file that already
// stood there before the call: that file is not the call's output.
bool NamesFileFromBefore(const OutputSnapshot& before, const WString& outputAfter);

}  // namespace halvex::engine
