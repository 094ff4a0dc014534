# The i686 Windows DLL, as the suite ships it. Wine's 32-bit loader runs its
# tests where the kernel can start 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HALVEX_MINGW_TRIPLE i686-w64-mingw32)
set(HALVEX_MINGW_UNWIND_DLL libgcc_s_dw2-1.dll)
set(HALVEX_WINE_LOADER_NAMES wine)
set(HALVEX_WINESERVER wineserver)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
