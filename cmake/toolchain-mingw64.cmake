# Cross build of the native Windows korvi.exe on Debian with mingw-w64 (posix threads).
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVI_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVI_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVI_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVI_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVI_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The program and its tests must run from a bare folder: no libstdc++, libgcc or winpthread
# DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine on the build machine.
find_program(KORVI_WINE wine)
if(KORVI_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVI_WINE})
endif()
