# Cross build of the Windows DLLs with MinGW-w64 (Debian's g++-mingw-w64-*
# and libgcrypt-mingw-w64-dev), shared by the i686 and x86_64 toolchain
# files, which set HALVEX_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

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

# The GCC runtime (libgcc_s_*, libstdc++-6, libwinpthread-1) is linked as
# DLLs and copied beside the binaries by the project. halvex.dll and the
# suite DLLs pass C++ objects and exceptions to each other; with the runtime
# linked statically each module would carry its own unwinder, and an
# exception leaving one DLL through another's frames would terminate.
# HALVEX_MINGW_UNWIND_DLL names the libgcc DLL of the target's unwinder.

# Test programs run under Wine when it is installed (ctest, test discovery),
# through a wrapper that keeps a Wine prefix inside the build folder. The
# loader and server the wrapper uses are written into that folder, so one
# wrapper serves both targets: the i686 build needs Wine's 32-bit loader,
# the x86_64 build its 64-bit loader, started directly (Debian's "wine"
# launcher looks for the 32-bit loader first, which cannot start where the
# kernel runs no 32-bit programs).
find_program(HALVEX_WINE NAMES ${HALVEX_WINE_LOADER_NAMES} NO_CACHE)
if(HALVEX_WINE)
  set(HALVEX_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
  file(WRITE ${HALVEX_WINE_STATE}/loader "${HALVEX_WINE}\n${HALVEX_WINESERVER}\n")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh ${HALVEX_WINE_STATE})
endif()
