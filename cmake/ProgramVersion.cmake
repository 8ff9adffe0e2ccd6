# cmake -D SOURCE_DIR=... -D OUTPUT=... -D FALLBACK=... -P ProgramVersion.cmake
# Writes OUTPUT, a header defining SORTBENCH_VERSION: the checkout the program
# is built from (git describe, "-dirty" with uncommitted changes), or FALLBACK
# for a tarball (no .git) or a machine without git. Run on every build, so a
# pull followed by a build never reports the checkout that was configured;
# file(CONFIGURE) rewrites the header only when the version changes, so nothing
# else rebuilds.
cmake_minimum_required(VERSION 3.25)
set(version "${FALLBACK}")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" describe --tags --always --dirty
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE describe_result
    OUTPUT_VARIABLE describe_output
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  if(describe_result EQUAL 0 AND NOT describe_output STREQUAL "")
    set(version "${describe_output}")
  endif()
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" @ONLY
     CONTENT "#pragma once\n// Written by cmake/ProgramVersion.cmake on every build.\n#define SORTBENCH_VERSION \"@version@\"\n")
