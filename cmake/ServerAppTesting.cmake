# serverapp_add_test(NAME n SOURCES ... [LIBS ...] [LABELS unit|integration|soak]
#                    [TIMEOUT seconds])
#
# One GoogleTest executable; every TEST in it becomes a CTest entry carrying
# the given labels. Integration tests start real processes, so they get the
# paths of the built programs through the environment.
function(serverapp_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  serverapp_defaults(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # Sanitizer builds: a sanitizer report of a child process fails the test
  # (tests/sanitizers/child_reports.cpp).
  if(SERVERAPP_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
    target_link_libraries(${T_NAME} PRIVATE sanitizer_child_reports)
  endif()
  # Shared test helpers: #include "support/...".
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    SERVERAPP_DIST_DIR="${SERVERAPP_DIST_DIR}"
    SERVERAPP_BINARY_DIR="${CMAKE_BINARY_DIR}"
    SERVERAPP_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # Cross builds list a program's tests when ctest runs (under Wine), not
  # after each link: starting Wine for every test program slows the build.
  if(CMAKE_CROSSCOMPILING)
    set(_discovery PRE_TEST)
  else()
    set(_discovery POST_BUILD)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE ${_discovery}
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()
