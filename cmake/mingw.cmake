# Cross build of the Windows console program with Debian's MinGW-w64. The
# toolchain files for each processor set TANDREL_MINGW and include this.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex, which the win32
# model lacks. -static keeps that runtime inside the program.
set(CMAKE_C_COMPILER ${TANDREL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TANDREL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TANDREL_MINGW}-windres)
set(CMAKE_STRIP ${TANDREL_MINGW}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${TANDREL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One file to copy to a Windows machine: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest in the cross build tree runs the unit tests under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR
	${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${TANDREL_WINE_ARCH}
	${CMAKE_BINARY_DIR}/wineprefix)
