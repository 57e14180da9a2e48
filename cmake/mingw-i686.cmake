# Cross build for 32-bit Windows, the library's own target, with Debian's mingw-w64 (posix
# thread model, which the standard library's mutex needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZEMUSER_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
