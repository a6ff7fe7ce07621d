# Test support for the Windows build, included by tests/CMakeLists.txt.
#
# Cross-built on Debian, GoogleTest is built from the sources of Debian's
# googletest package (there is no MinGW-w64 build of it to find), and every
# test program runs under Wine through CMAKE_CROSSCOMPILING_EMULATOR
# (tests/win/wine-run.sh). On Windows itself an installed GoogleTest is used
# (MSYS2: mingw-w64-x86_64-gtest) and the tests run directly.

set(NORVANE_GOOGLETEST_SOURCE /usr/src/googletest
    CACHE PATH "GoogleTest sources to build the Windows tests with")
if(EXISTS ${NORVANE_GOOGLETEST_SOURCE}/CMakeLists.txt)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${NORVANE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL SYSTEM)
  foreach(library gtest gtest_main)
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
elseif(CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "No GoogleTest sources in ${NORVANE_GOOGLETEST_SOURCE}: "
                      "install Debian's googletest package (tools/install-deps.sh)")
else()
  find_package(GTest REQUIRED)
endif()

include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  # CMake's own gtest_discover_tests works under Wine (DISCOVERY_MODE
  # PRE_TEST, listing through CMAKE_CROSSCOMPILING_EMULATOR), but it makes
  # a test of each case, and each case then starts Wine (about 2.7 s here):
  # the 22 cases and the two code-page runs took 73 s, against 24 s with
  # each program run whole. So each test program runs whole, as one test. Wine's tests share one wineserver,
  # which the window tests restart inside their own network namespace: the
  # lock keeps them apart.
  function(gtest_discover_tests target)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES
      SKIP_RETURN_CODE 77
      RESOURCE_LOCK wineserver
      TIMEOUT 120)
  endfunction()
endif()
