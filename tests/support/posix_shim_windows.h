// The few POSIX C calls the tests use for their set-up (environment and a
// private temporary folder), over the Windows C runtime. Forced into every
// test source of the Windows build, so the tests keep one set-up for both.
#pragma once

#ifdef _WIN32

#include <direct.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <random>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name)) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// The runtime removes a variable set to the empty string.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// Replaces the final "XXXXXX" of pattern and creates that folder, retrying
// on a name already taken.
inline char* mkdtemp(char* pattern) {
  size_t length = strlen(pattern);
  if (length < 6 || strcmp(pattern + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = length - 6; i < length; ++i) pattern[i] = kAlphabet[random() % 36];
    if (_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

#endif  // _WIN32
