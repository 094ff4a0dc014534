// The library's one BatchState.
#include "batch/state.h"

#include <algorithm>

#include "platform/durable.h"

BatchState& State() {
  // Built on first use (thread-safe) and destroyed when the module unloads,
  // so no other module-level object can reach it before it exists.
  static BatchState state;
  return state;
}

void NoteDeleteIn(const WString& source) {
  const size_t slash = source.rfind(u'\\');
  if (slash == WString::npos) return;
  // A drive's root keeps its backslash ("C:\"); any other folder goes without.
  WString folder = source.substr(0, slash == 2 ? slash + 1 : slash);
  std::vector<WString>& folders = State().vecFoldersOfDeletes;
  if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(std::move(folder));
}

bool FlushFoldersOfDeletes() {
  std::vector<WString> folders;
  folders.swap(State().vecFoldersOfDeletes);
  bool ok = true;
  for (const WString& folder : folders) ok &= halvex::platform::SyncDirectory(folder);
  return ok;
}
