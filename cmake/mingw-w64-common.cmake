# The parts of the mingw-w64 toolchain files that do not depend on the
# target: Debian's POSIX-thread-model compilers for DC_MINGW (the target
# triple), and finding libraries and headers only in its sysroot.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${DC_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DC_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${DC_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DC_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
