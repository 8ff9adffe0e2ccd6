# sortbench_add_test(NAME SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest program whose cases are listed one by one in CTest. The label
# "threads" marks the suites the thread-sanitizer build runs; the target
# "thread_tests" builds just those, so that build compiles nothing else.
if(NOT TARGET thread_tests)
  add_custom_target(thread_tests)
endif()
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
  if("threads" IN_LIST ARG_LABELS)
    add_dependencies(thread_tests ${name})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${properties})
endfunction()
