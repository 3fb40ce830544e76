# 64-bit Windows, for testing only: machines whose kernel runs no 32-bit
# programs run the Windows tests as 64-bit programs under wine64. What ships
# is the 32-bit build (i686-w64-mingw32.cmake).
set(MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64 CACHE STRING "")
