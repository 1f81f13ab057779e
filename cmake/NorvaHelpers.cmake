# norva_library(NAME DEPS...): one static library per folder from src/**/*.cpp with include/ public.
function(norva_library name)
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/src/*.c)
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  if(ARGN)
    target_link_libraries(${name} PUBLIC ${ARGN})
  endif()
endfunction()

# norva_test_area(AREA LIBS... [SUITE_LABELS Suite=label...]): one test program per folder of tests/, every test
# labelled AREA. A suite named in SUITE_LABELS also carries the extra label (the tests of the shared fixtures in
# tests/support and tests/scenes, so that `ctest -L support` or `-L scenes` runs them after a fixture change).
function(norva_test_area area)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SUITE_LABELS")
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  # Tests that start threads live in *_threads_test.cpp: a program of their own, labelled AREA and "threads".
  file(GLOB _threads CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_threads_test.cpp)
  if(_threads)
    list(REMOVE_ITEM _src ${_threads})
    add_executable(test_${area}_threads ${_threads})
    target_link_libraries(test_${area}_threads PRIVATE ${ARGN} norva_test_support GTest::gtest_main GTest::gmock)
    gtest_discover_tests(test_${area}_threads
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      PROPERTIES LABELS "${area};threads"
      DISCOVERY_TIMEOUT 120)
  endif()
  if(NOT _src)
    return()
  endif()
  add_executable(test_${area} ${_src})
  target_link_libraries(test_${area} PRIVATE ${arg_UNPARSED_ARGUMENTS} norva_test_support GTest::gtest_main GTest::gmock)
  gtest_discover_tests(test_${area}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${area}
    TEST_LIST test_${area}_TESTS
    DISCOVERY_TIMEOUT 120)
  if(arg_SUITE_LABELS)
    # Read by ctest after the discovered tests (and their list) are loaded.
    set(_script "")
    foreach(_pair IN LISTS arg_SUITE_LABELS)
      string(REPLACE "=" ";" _kv "${_pair}")
      list(GET _kv 0 _suite)
      list(GET _kv 1 _label)
      string(APPEND _script
        "foreach(_t IN LISTS test_${area}_TESTS)\n"
        "  if(_t MATCHES \"^${_suite}\\\\.\")\n"
        "    set_tests_properties(\"\${_t}\" PROPERTIES LABELS \"${area};${_label}\")\n"
        "  endif()\n"
        "endforeach()\n")
    endforeach()
    set(_file ${CMAKE_CURRENT_BINARY_DIR}/test_${area}_labels.cmake)
    file(WRITE ${_file} "${_script}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_file})
  endif()
endfunction()

# The simulated platform registers itself from static initialisers, so programs link it whole.
function(norva_link_platform target)
  target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,norva_platform>")
endfunction()

# norva_test_labels(TARGET REGEX LABELS...): the tests of a gtest program whose names match REGEX carry LABELS
# (give the folder label too). gtest_discover_tests takes one label for all; this script runs after it.
function(norva_test_labels target regex)
  set(_script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${_script}
    "foreach(t IN LISTS ${target}_TESTS)\n"
    "  if(t MATCHES \"${regex}\")\n"
    "    set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${ARGN}\")\n"
    "  endif()\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_script})
endfunction()
