# kestrel_add_test(NAME name SOURCES a.cpp b.cpp [LABELS l1 l2] [LIBRARIES extra] [NO_MAIN])
#
# One GoogleTest executable, registered with CTest as one test per GoogleTest case. The label
# "threads" marks suites that the ThreadSanitizer build runs.
find_package(GTest REQUIRED)
include(GoogleTest)

function(kestrel_add_test)
  cmake_parse_arguments(T "NO_MAIN" "NAME" "SOURCES;LABELS;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE kestrel GTest::gtest GTest::gmock ${T_LIBRARIES})
  if(NOT T_NO_MAIN)
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${T_LABELS}" ${T_PROPERTIES})
endfunction()
