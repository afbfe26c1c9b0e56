# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model).
# The unit tests run under wine64 (scripts/wine-run.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DC_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
