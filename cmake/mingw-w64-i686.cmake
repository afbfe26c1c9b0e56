# Cross-build for 32-bit Windows with Debian's mingw-w64 (POSIX thread model).
# No emulator: the tests are built but run only where a 32-bit Wine is set up
# (give CMAKE_CROSSCOMPILING_EMULATOR on the command line there).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DC_MINGW i686-w64-mingw32)
set(CMAKE_C_COMPILER ${DC_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DC_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${DC_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DC_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
