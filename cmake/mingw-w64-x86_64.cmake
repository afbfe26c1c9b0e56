# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model).
# The unit tests run under wine64 (scripts/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DC_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DC_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DC_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${DC_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DC_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
