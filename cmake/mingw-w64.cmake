# Cross-building for 64-bit Windows with Debian's mingw-w64 (posix thread model, so that
# std::thread and std::mutex exist) and a static runtime: the .exe files need no DLLs of
# the compiler beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELA_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${VELA_MINGW_PREFIX}-g++-posix ${VELA_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${VELA_MINGW_PREFIX}-gcc-posix ${VELA_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${VELA_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# wine runs what is built; tests that discover their cases run through it.
find_program(VELA_WINE NAMES wine wine64)
if(VELA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELA_WINE})
endif()
