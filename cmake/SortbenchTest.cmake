# sortbench_add_test(NAME SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest program whose cases are listed one by one in CTest. The label
# "threads" marks the suites the thread-sanitizer build runs.
function(sortbench_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  # Whole runs measure the machine's limits on tiny arrays: the tests check
  # where the figures go, not what they are.
  set(properties ENVIRONMENT SORTBENCH_QUICK_LIMITS=1)
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${properties})
endfunction()
