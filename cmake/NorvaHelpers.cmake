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

# norva_gtest_register(TARGET LABELS label... [WORKING_DIRECTORY dir] [THREADS pattern...]
#                      [SUITE_LABELS Suite=label...]): the tests of a GoogleTest program for CTest, labelled LABELS;
# a test named after a THREADS pattern (a regular expression over "Suite.Name") also carries "threads", a test of a
# suite named in SUITE_LABELS the extra label.
# Each test is a CTest test of its own, but with NORVA_TEST_PER_SUITE (the sanitizer build) each suite is one,
# "Suite.*": under the sanitizers starting a process costs about 0.3 s of CPU, more than most tests, and a suite
# still runs apart from the others. A suite with a test named after a THREADS pattern then carries "threads".
function(norva_gtest_register target)
  cmake_parse_arguments(PARSE_ARGV 1 _reg "" "WORKING_DIRECTORY" "LABELS;THREADS;SUITE_LABELS")
  set(_dir ${_reg_WORKING_DIRECTORY})
  if(NOT _dir)
    set(_dir ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(NORVA_TEST_PER_SUITE)
    set(_config ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_config.cmake)
    set(_ctest ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
    string(CONCAT _content
      "set(_exe [==[$<TARGET_FILE:${target}>]==])\nset(_dir [==[${_dir}]==])\nset(_labels [==[${_reg_LABELS}]==])\n"
      "set(_suite_labels [==[${_reg_SUITE_LABELS}]==])\nset(_threads [==[${_reg_THREADS}]==])\n")
    file(GENERATE OUTPUT ${_config} CONTENT "${_content}")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DCONFIG_FILE=${_config} -DCTEST_FILE=${_ctest}
              -P ${PROJECT_SOURCE_DIR}/cmake/NorvaGTestSuites.cmake
      BYPRODUCTS ${_ctest}
      VERBATIM)
    set(_include ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_include.cmake)
    file(WRITE ${_include} "if(EXISTS [==[${_ctest}]==])\n  include([==[${_ctest}]==])\nelse()\n"
      "  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_include})
    return()
  endif()
  list(GET _reg_LABELS 0 _first)
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${_dir}
    PROPERTIES LABELS ${_first}
    TEST_LIST ${target}_TESTS
    DISCOVERY_TIMEOUT 120)
  list(LENGTH _reg_LABELS _count)
  if(_count GREATER 1 OR _reg_THREADS OR _reg_SUITE_LABELS)
    # gtest_discover_tests flattens a list given as a property value: the other labels are set after discovery,
    # by a script ctest reads after the discovered tests (and their list) are loaded.
    set(_script "foreach(_t IN LISTS ${target}_TESTS)\n  set(_labels ${_reg_LABELS})\n")
    foreach(_pair IN LISTS _reg_SUITE_LABELS)
      string(REPLACE "=" ";" _kv "${_pair}")
      list(GET _kv 0 _suite)
      list(GET _kv 1 _label)
      string(APPEND _script "  if(_t MATCHES \"^${_suite}\\\\.\")\n    list(APPEND _labels ${_label})\n  endif()\n")
    endforeach()
    foreach(_pattern IN LISTS _reg_THREADS)
      string(APPEND _script "  if(_t MATCHES \"^${_pattern}$\")\n    list(APPEND _labels threads)\n  endif()\n")
    endforeach()
    string(APPEND _script "  list(REMOVE_DUPLICATES _labels)\n"
      "  set_tests_properties(\"\${_t}\" PROPERTIES LABELS \"\${_labels}\")\nendforeach()\n")
    set(_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
    file(WRITE ${_file} "${_script}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_file})
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
    norva_gtest_register(test_${area}_threads LABELS ${area} threads)
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
  norva_gtest_register(test_${area} LABELS ${area} THREADS ${_area_THREADS} SUITE_LABELS ${_area_SUITE_LABELS})
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
