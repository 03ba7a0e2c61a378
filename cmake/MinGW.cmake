# Shared part of the MinGW-w64 toolchain files; ORBELT_MINGW_TRIPLET names the compiler.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix thread model, for the fuller C++ library (std::thread and friends). Linked
# statically (see the top CMakeLists), so no winpthread or libstdc++ DLL travels along.
set(CMAKE_C_COMPILER ${ORBELT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBELT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBELT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORBELT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the cross-built tests under Wine. Debian installs the 64-bit loader as
# /usr/lib/wine/wine64 only; the wine wrapper on PATH starts the 32-bit loader first.
if(ORBELT_MINGW_TRIPLET MATCHES "^x86_64")
  find_program(ORBELT_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
else()
  find_program(ORBELT_WINE_LOADER NAMES wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(ORBELT_WINE_LOADER)
  # No display: a window or dialog box would wait for a person. No Mono or Gecko either:
  # their download prompts would do the same.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env -u DISPLAY WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
      ${ORBELT_WINE_LOADER})
endif()
# Test discovery runs the test programs; at build time that would start Wine for every link.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
