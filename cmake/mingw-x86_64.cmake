# The same program for 64-bit Windows: it runs under a Wine that needs no
# 32-bit support from the kernel.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TANDREL_MINGW x86_64-w64-mingw32)
set(TANDREL_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
