# zan_module(name dirs [deps...]): a static library of every .cpp under dirs
# (one folder, or a list of folders that make one layer together).
function(zan_module name dirs)
  set(_srcs)
  foreach(_dir IN LISTS dirs)
    file(GLOB_RECURSE _dir_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${_dir}/*.cpp)
    list(APPEND _srcs ${_dir_srcs})
  endforeach()
  if(NOT _srcs)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# The properties every test gets: the test data folder and, in a sanitizer
# build, a part of the evaluation stacks (ZAN_STACK_DIVISOR,
# runtime/core/stack.h, docs/architecture.md): each level of a deep
# recursion costs many times more there, and the plain build checks the
# real depths.
set(ZAN_TEST_PROPERTIES ENVIRONMENT "ZAN_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
if(ZAN_SANITIZE)
  set(ZAN_TEST_STACK_DIVISOR 4 CACHE STRING
      "The part of the evaluation stacks the sanitizer build's tests run with (1/N)")
  list(APPEND ZAN_TEST_PROPERTIES
       ENVIRONMENT_MODIFICATION "ZAN_STACK_DIVISOR=set:${ZAN_TEST_STACK_DIVISOR}")
endif()

# zan_test_properties(): gives every test of the calling folder the
# properties above (call it after the folder's last add_test).
function(zan_test_properties)
  get_property(_tests DIRECTORY PROPERTY TESTS)
  if(_tests)
    set_tests_properties(${_tests} PROPERTIES ${ZAN_TEST_PROPERTIES})
  endif()
endfunction()

# In a sanitizer build every process start costs about half a second (the
# runtime is set up under the sanitizers), which a test per case pays for
# each of some 1,600 cases. There the cases of a binary run together, split
# into ZAN_UNIT_SHARDS processes per binary by GoogleTest's own sharding;
# the plain build keeps one test per case.
option(ZAN_UNIT_SHARDED "Run the unit tests of a binary together, in shards" ${ZAN_SANITIZE})

# zan_unit_tests(area [NO_COLLECTOR] [SHARDS n] [ALONE suite,...] lib...):
# tests/unit/<area>/*.cpp as one GoogleTest binary.
# NO_COLLECTOR marks an area whose tests never start the runtime nor
# allocate a cell: they get the label no-collector, and CI's run with the
# collector stressed leaves them out (it would repeat the sanitizer run's
# work exactly).
# SHARDS is the number of processes the binary's cases are split into when
# ZAN_UNIT_SHARDED is on (default 1).
# ALONE names (comma-separated) the suites whose cases need a process of their own (one whose
# runtime has not started yet): they are a test per case in every build.
function(zan_unit_tests area)
  cmake_parse_arguments(_opt "NO_COLLECTOR" "SHARDS;ALONE" "" ${ARGN})
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/${area}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  set(_exe zan_${area}_tests)
  add_executable(${_exe} ${_srcs})
  target_include_directories(${_exe} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/unit)
  target_link_libraries(${_exe} PRIVATE ${_opt_UNPARSED_ARGUMENTS}
                        GTest::gtest GTest::gtest_main GTest::gmock)
  # A unit-test file is mostly the test framework's headers: compiled six
  # files to a unit, the tests build in about half the processor time. The
  # files of one area therefore share a unit: their file-local names must
  # differ, and a fixture in an unnamed namespace is no longer "the main
  # file's" to the compiler, hence the warning turned off.
  set_target_properties(${_exe} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
  target_compile_options(${_exe} PRIVATE -Wno-subobject-linkage)
  set(_props ${ZAN_TEST_PROPERTIES})
  if(_opt_NO_COLLECTOR)
    list(APPEND _props LABELS no-collector)
  endif()
  if(NOT ZAN_UNIT_SHARDED)
    gtest_discover_tests(${_exe} DISCOVERY_TIMEOUT 60 PROPERTIES ${_props})
    return()
  endif()
  set(_alone "")
  string(REPLACE "," ";" _alone_suites "${_opt_ALONE}")
  foreach(_suite IN LISTS _alone_suites)
    string(APPEND _alone "${_suite}.*:")
  endforeach()
  if(_alone)
    gtest_discover_tests(${_exe} DISCOVERY_TIMEOUT 60 TEST_FILTER "${_alone}" PROPERTIES ${_props})
  endif()
  set(_shards 1)
  if(_opt_SHARDS)
    set(_shards ${_opt_SHARDS})
  endif()
  math(EXPR _last "${_shards} - 1")
  foreach(_k RANGE ${_last})
    set(_name unit.${area}.${_k}of${_shards})
    add_test(NAME ${_name} COMMAND ${_exe})
    set(_env GTEST_TOTAL_SHARDS=${_shards} GTEST_SHARD_INDEX=${_k})
    if(_alone)
      list(APPEND _env "GTEST_FILTER=-${_alone}")
    endif()
    set_tests_properties(${_name} PROPERTIES ${_props})
    set_property(TEST ${_name} APPEND PROPERTY ENVIRONMENT ${_env})
  endforeach()
endfunction()
