# kestrel_add_test(NAME name SOURCES a.cpp b.cpp [LABELS l1 l2] [LIBRARIES extra] [NO_MAIN])
#
# One GoogleTest executable, registered with CTest as one test per GoogleTest case. The label
# "threads" marks suites that the ThreadSanitizer build runs.
find_package(GTest REQUIRED)
include(GoogleTest)

# Every suite labelled "threads", so that the ThreadSanitizer build makes only those.
add_custom_target(kestrel_thread_tests)

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
  if("threads" IN_LIST T_LABELS)
    add_dependencies(kestrel_thread_tests ${T_NAME})
  endif()
endfunction()

# kestrel_add_test_folders(DIR PREFIX): each folder under DIR is a suite (see tests/CMakeLists.txt);
# a folder without a CMakeLists.txt becomes the executable test_<PREFIX><folder>.
function(kestrel_add_test_folders dir prefix)
  file(GLOB _test_dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${dir}/*)
  list(SORT _test_dirs)
  foreach(sub IN LISTS _test_dirs)
    get_filename_component(name ${sub} NAME)
    if(NOT IS_DIRECTORY ${sub} OR name STREQUAL "support" OR name STREQUAL "data")
      continue() # shared test helpers and fixtures, not a suite
    endif()
    if(EXISTS ${sub}/CMakeLists.txt)
      add_subdirectory(${sub})
    else()
      file(GLOB _sources CONFIGURE_DEPENDS ${sub}/*.cpp)
      if(_sources)
        kestrel_add_test(NAME test_${prefix}${name} SOURCES ${_sources})
      endif()
    endif()
  endforeach()
endfunction()
