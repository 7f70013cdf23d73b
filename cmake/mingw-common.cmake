# Shared part of the mingw-w64 toolchain files: the including file sets CMAKE_SYSTEM_PROCESSOR
# and VE_MINGW_TRIPLE first. Linked statically so that the .exe runs on a Windows machine with
# nothing else installed.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${VE_MINGW_TRIPLE}-gcc-posix ${VE_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VE_MINGW_TRIPLE}-g++-posix ${VE_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
