# Cross build for 64-bit Windows with MinGW-w64. The posix-threads compiler is needed: the
# win32-threads one has no std::thread or std::recursive_mutex. Everything is linked statically
# so the programs run without the MinGW runtime DLLs; Wine runs the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RKV_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${RKV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RKV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${RKV_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RKV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(RKV_WINE NAMES wine wine64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${RKV_WINE})
