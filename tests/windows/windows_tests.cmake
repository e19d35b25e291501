# The Windows build's tests, run under Wine. GoogleTest is built from Debian's sources with the
# cross compiler (there is no MinGW package of it); it
# provides the GTest:: targets itself.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Each test binary runs as one CTest test, in one Wine process: starting Wine per test case
# would cost more than the tests.
function(gtest_discover_tests target)
  cmake_parse_arguments(ARG "" "TEST_PREFIX" "" ${ARGN})
  add_test(NAME ${ARG_TEST_PREFIX}${target} COMMAND ${target})
  set_tests_properties(${ARG_TEST_PREFIX}${target} PROPERTIES TIMEOUT 300 LABELS wine)
endfunction()

add_subdirectory(engine)
add_subdirectory(resources)
