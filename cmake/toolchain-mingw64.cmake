# 64-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-x86-64). The same sources as
# the 32-bit build; it exists to run the Windows tests under Wine on hosts whose kernel runs no
# 32-bit Linux programs, where the 32-bit Wine loader cannot start.
set(ORBELT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
