# Test helpers for both builds.
#
# Every test links test_support (tests/support), the helpers' library, besides its LIBRARIES.
#
# Windows build: brantovix_add_wine_test(NAME
#     SOURCES files...            test sources (GoogleTest; gtest_main is linked)
#     LIBRARIES libs...           what the test links
#     [RESOURCES file.rc]         resources of the test executable itself
#     [LOCKS names...]            ctest RESOURCE_LOCKs (e.g. "machine" for tests that change
#                                 the prefix's system directory or shared registry keys)
#     [NT_MODE]                   run the executable with Windows NT (XP) version answers
#     [SHARDS n])                 run the cases in n tests of their own, NAME.0 to NAME.n-1
#                                 (GoogleTest's sharding), each within the time limit: for
#                                 executables whose cases together take long, as they do in
#                                 the emulated x86 PC
# Every Wine test requires the "wine" fixture, which starts the prefix's wineserver before the
# first test and stops it after the last, so ctest -j leaves nothing running.
#
# Host build: brantovix_add_native_test(NAME SOURCES files... LIBRARIES libs...)

function(brantovix_add_wine_test name)
  cmake_parse_arguments(T "NT_MODE" "SHARDS" "SOURCES;LIBRARIES;RESOURCES;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_RESOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBRARIES} test_support GTest::gtest_main)
  target_link_options(${name} PRIVATE ${BRANTOVIX_WINDOWS_LINK_OPTIONS})
  target_compile_definitions(${name} PRIVATE ${BRANTOVIX_PRODUCT_DEFINITIONS})
  set(command ${CMAKE_SOURCE_DIR}/tools/wine/wine-run.sh)
  if(T_NT_MODE)
    list(APPEND command --nt)
  endif()
  if(NOT T_SHARDS)
    set(T_SHARDS 1)
  endif()
  math(EXPR last "${T_SHARDS} - 1")
  foreach(shard RANGE ${last})
    set(test ${name})
    set(environment "BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX}")
    if(T_SHARDS GREATER 1)
      set(test ${name}.${shard})
      list(APPEND environment GTEST_TOTAL_SHARDS=${T_SHARDS} GTEST_SHARD_INDEX=${shard})
    endif()
    add_test(NAME ${test} COMMAND ${command} $<TARGET_FILE:${name}>)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 ENVIRONMENT "${environment}")
    if(T_LOCKS)
      set_tests_properties(${test} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
    endif()
  endforeach()
endfunction()

# brantovix_use_test_device(NAME): the Wine test NAME opens "\\.\ORV_DE.vxd" through the test
# device (tests/support/test_device), which it deploys to the system directory with
# test_device_control.h from the built device's path, TEST_DEVICE_FILE.
function(brantovix_use_test_device name)
  target_link_libraries(${name} PRIVATE test_device_control)
  target_compile_definitions(${name} PRIVATE "TEST_DEVICE_FILE=\"Z:$<TARGET_FILE:test_device>\"")
  add_dependencies(${name} test_device)
endfunction()

# brantovix_add_wine_script_test(NAME COMMAND args... [LOCKS names...]): a test that is a
# shell command (a script client, regsvr32) in the same prefix and fixture. The command sees
# BRANTOVIX_PREFIX and the wrapper tools/wine/wine-run.sh.
function(brantovix_add_wine_script_test name)
  cmake_parse_arguments(T "" "" "COMMAND;LOCKS" ${ARGN})
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
    ENVIRONMENT "BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX};BRANTOVIX_WINE_RUN=${CMAKE_SOURCE_DIR}/tools/wine/wine-run.sh")
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

function(brantovix_add_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBRARIES} test_support GTest::gtest_main)
  target_compile_options(${name} PRIVATE ${BRANTOVIX_HOST_WARNINGS} ${BRANTOVIX_SANITIZER_FLAGS})
  target_link_options(${name} PRIVATE ${BRANTOVIX_SANITIZER_FLAGS})
  add_test(NAME ${name} COMMAND ${name})
endfunction()
