# Cross-build for Windows with MinGW-w64 (i686): cmake --toolchain cmake/toolchain-i686-w64-mingw32.cmake
# The programs link their runtime statically, so each .exe needs only the
# system's own DLLs. The GoogleTest suites run on the build machine, not here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TOOLS_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLS_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLS_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${TOOLS_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(TOOLS_TESTS OFF CACHE BOOL "Build the GoogleTest suites")
