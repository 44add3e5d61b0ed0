# The 32-bit Windows console program.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TANDREL_MINGW i686-w64-mingw32)
set(TANDREL_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
