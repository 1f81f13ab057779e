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

# norva_test_area(AREA LIBS... [THREADS PATTERN...] [SUITE_LABELS Suite=label...]): one test program per folder of
# tests/, every test labelled AREA.
# - Tests that start threads carry the label "threads" as well (ThreadSanitizer runs that label): either they live
#   in *_threads_test.cpp, which becomes a program of its own (test_AREA_threads), or they are named after THREADS
#   by a pattern matched against "Suite.Name" (for instance "CaptureModel[.].*").
# - A suite named in SUITE_LABELS also carries the extra label (the tests of the shared fixtures in tests/support
#   and tests/scenes, so that `ctest -L support` or `-L scenes` runs them after a fixture change).
# With NORVA_TSAN the main program keeps only the sources that start threads and the helpers without tests; both
# programs join the target norva_thread_tests, which builds what the ThreadSanitizer run needs and nothing more.
function(norva_test_area area)
  cmake_parse_arguments(PARSE_ARGV 1 _area "" "" "THREADS;SUITE_LABELS")
  set(_libs ${_area_UNPARSED_ARGUMENTS} norva_test_support GTest::gtest_main GTest::gmock)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB _threads CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_threads_test.cpp)
  if(_threads)
    list(REMOVE_ITEM _src ${_threads})
    add_executable(test_${area}_threads ${_threads})
    target_link_libraries(test_${area}_threads PRIVATE ${_libs})
    gtest_discover_tests(test_${area}_threads
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      PROPERTIES LABELS ${area}
      TEST_LIST test_${area}_threads_TESTS
      DISCOVERY_TIMEOUT 120)
    # gtest_discover_tests flattens a list given as a property value: the second label is set after discovery.
    set(_file ${CMAKE_CURRENT_BINARY_DIR}/test_${area}_threads_labels.cmake)
    file(WRITE ${_file} "foreach(_t IN LISTS test_${area}_threads_TESTS)\n"
      "  set_tests_properties(\"\${_t}\" PROPERTIES LABELS \"${area};threads\")\nendforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_file})
    add_dependencies(norva_thread_tests test_${area}_threads)
  endif()
  if(NORVA_TSAN)
    set(_kept "")
    if(_area_THREADS)
      foreach(_file ${_src})
        file(STRINGS ${_file} _tests REGEX "^TEST(_F|_P)?\\(")
        file(STRINGS ${_file} _starts REGEX "std::thread|pthread_create|std::async")
        if(_starts OR NOT _tests)
          list(APPEND _kept ${_file})
        endif()
      endforeach()
    endif()
    set(_src ${_kept})
  endif()
  if(NOT _src)
    return()
  endif()
  add_executable(test_${area} ${_src})
  target_link_libraries(test_${area} PRIVATE ${_libs})
  gtest_discover_tests(test_${area}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${area}
    TEST_LIST test_${area}_TESTS
    DISCOVERY_TIMEOUT 120)
  if(_area_THREADS OR _area_SUITE_LABELS)
    # Read by ctest after the discovered tests (and their list) are loaded.
    set(_script "foreach(_t IN LISTS test_${area}_TESTS)\n  set(_labels ${area})\n")
    foreach(_pair IN LISTS _area_SUITE_LABELS)
      string(REPLACE "=" ";" _kv "${_pair}")
      list(GET _kv 0 _suite)
      list(GET _kv 1 _label)
      string(APPEND _script "  if(_t MATCHES \"^${_suite}\\\\.\")\n    list(APPEND _labels ${_label})\n  endif()\n")
    endforeach()
    foreach(_pattern IN LISTS _area_THREADS)
      string(APPEND _script "  if(_t MATCHES \"^${_pattern}$\")\n    list(APPEND _labels threads)\n  endif()\n")
    endforeach()
    string(APPEND _script "  list(REMOVE_DUPLICATES _labels)\n"
      "  set_tests_properties(\"\${_t}\" PROPERTIES LABELS \"\${_labels}\")\nendforeach()\n")
    set(_file ${CMAKE_CURRENT_BINARY_DIR}/test_${area}_labels.cmake)
    file(WRITE ${_file} "${_script}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_file})
  endif()
  if(_area_THREADS)
    add_dependencies(norva_thread_tests test_${area})
  endif()
endfunction()

# The simulated platform registers itself from static initialisers, so programs link it whole.
function(norva_link_platform target)
  target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,norva_platform>")
endfunction()

# The sanitizer runtimes to preload into a program of the system (gst-launch-1.0, gst-inspect-1.0) that loads this
# build's plug-in: in a sanitizer build the plug-in needs them and the program does not carry them. Empty otherwise.
function(norva_sanitizer_preload out_var)
  set(_preload "")
  if(NORVA_SANITIZE)
    foreach(runtime libasan.so libubsan.so)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                      OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
      string(APPEND _preload "${_path} ")
    endforeach()
    string(STRIP "${_preload}" _preload)
  endif()
  set(${out_var} "${_preload}" PARENT_SCOPE)
endfunction()
