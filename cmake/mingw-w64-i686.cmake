# Cross-build for 32-bit Windows with Debian's mingw-w64 (POSIX thread model).
# No emulator: the tests run only where a 32-bit Wine is set up (give
# CMAKE_CROSSCOMPILING_EMULATOR on the command line there).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DC_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
