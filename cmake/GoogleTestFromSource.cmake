# GoogleTest for a cross build: Debian ships it compiled for the host only, so it is built here
# from Debian's sources (package googletest) with the target's compiler.
set(ORBELT_GOOGLETEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${ORBELT_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${ORBELT_GOOGLETEST_SOURCE}: install googletest")
endif()
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ORBELT_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Recent GoogleTest names its targets GTest::gtest and GTest::gtest_main itself.
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
