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

# rkv.exe against the Linux rkv of the normal build tree, and the player end to end. Both start
# Wine many times: run once, never in parallel with each other.
set(RKV_LINUX_RKV ${PROJECT_SOURCE_DIR}/build-test/cli/rkv CACHE FILEPATH
    "The Linux rkv whose renders rkv.exe must match")
# The full writer's build (make windows-full) also checks every format and rate.
set(rkv_checks render_matches_linux)
if(RKV_WIN_FULL_WRITER)
  list(APPEND rkv_checks full_formats_match_linux)
endif()
foreach(check IN LISTS rkv_checks)
  if(NOT TARGET rkv)
    break()
  endif()
  add_test(NAME windows.rkv_${check}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/${check}.sh
                   $<TARGET_FILE:rkv> ${RKV_LINUX_RKV} ${PROJECT_SOURCE_DIR})
  set_tests_properties(windows.rkv_${check} PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE LABELS wine)
endforeach()
if(TARGET rkv)
  add_test(NAME windows.rkv_interrupted_render
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/interrupted_render.sh
                   $<TARGET_FILE:rkv> ${PROJECT_SOURCE_DIR}/demo/orbit.rkv)
  set_tests_properties(windows.rkv_interrupted_render PROPERTIES
    TIMEOUT 120 RUN_SERIAL TRUE LABELS wine)
endif()
if(TARGET rkv AND TARGET tuvimoplayer2)
  add_test(NAME windows.player_e2e
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/e2e_wine.sh
                   $<TARGET_FILE:tuvimoplayer2> $<TARGET_FILE:rkv>
                   ${PROJECT_SOURCE_DIR}/resources/title.bmp ${PROJECT_SOURCE_DIR}/demo/orbit.rkv
                   ${CMAKE_BINARY_DIR}/locale)
  set_tests_properties(windows.player_e2e PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 180 RUN_SERIAL TRUE LABELS wine)
endif()
