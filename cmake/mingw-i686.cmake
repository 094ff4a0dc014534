# Cross build of the i686 Windows DLL with MinGW-w64 (Debian's
# g++-mingw-w64-i686 and libgcrypt-mingw-w64-dev).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(HALVEX_MINGW_TRIPLE i686-w64-mingw32)

# The posix-threads variant: the win32 one has no std::thread, std::mutex or
# std::call_once in this GCC.
find_program(CMAKE_C_COMPILER NAMES ${HALVEX_MINGW_TRIPLE}-gcc-posix ${HALVEX_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${HALVEX_MINGW_TRIPLE}-g++-posix ${HALVEX_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${HALVEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HALVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC runtime (libgcc_s_dw2-1, libstdc++-6, libwinpthread-1) is linked
# as DLLs and copied beside the binaries by the project. halvex.dll and the
# suite DLLs pass C++ objects and exceptions to each other; with the runtime
# linked statically each module would carry its own unwinder, and an
# exception leaving one DLL through another's frames would terminate.

# Test programs run under Wine when it is installed (ctest, test discovery),
# through a wrapper that keeps a Wine prefix inside the build folder.
find_program(HALVEX_WINE NAMES wine wine32 wine64)
if(HALVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh ${CMAKE_BINARY_DIR}/wine)
endif()
