# The same DLLs and test programs for x86_64 Windows: the Windows test set
# runs under Wine's 64-bit loader on machines whose kernel cannot start
# 32-bit programs. Layouts that only hold in a 32-bit build are asserted
# there alone.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HALVEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(HALVEX_MINGW_UNWIND_DLL libgcc_s_seh-1.dll)
find_program(HALVEX_WINESERVER NAMES wineserver64 wineserver
             PATHS /usr/lib/wine /usr/lib64/wine NO_CACHE)
set(HALVEX_WINE_LOADER_NAMES wine64)
list(APPEND CMAKE_PROGRAM_PATH /usr/lib/wine /usr/lib64/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
