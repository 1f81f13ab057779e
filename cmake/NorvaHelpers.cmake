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

# norva_test_area(AREA LIBS... [THREADS TEST...]): one test program per folder of tests/, every test labelled AREA.
# The tests named after THREADS (Suite.Name) start threads: they also carry the label "threads", and the program
# joins the target norva_thread_tests, which builds what the ThreadSanitizer run needs and nothing more.
function(norva_test_area area)
  cmake_parse_arguments(PARSE_ARGV 1 _area "" "" "THREADS")
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NORVA_TSAN)
    # The ThreadSanitizer build keeps the sources that start threads and the helpers without tests.
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
  target_link_libraries(test_${area} PRIVATE ${_area_UNPARSED_ARGUMENTS} norva_test_support GTest::gtest_main
                                             GTest::gmock)
  gtest_discover_tests(test_${area}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${area}
    DISCOVERY_TIMEOUT 120)
  if(_area_THREADS)
    # Read by ctest after the discovered tests, once the program exists.
    set(_labels ${CMAKE_CURRENT_BINARY_DIR}/test_${area}_thread_labels.cmake)
    file(GENERATE OUTPUT ${_labels} CONTENT
"if(EXISTS \"$<TARGET_FILE:test_${area}>\")
  set_tests_properties(${_area_THREADS} PROPERTIES LABELS \"${area};threads\")
endif()
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_labels})
    add_dependencies(norva_thread_tests test_${area})
  endif()
endfunction()

# The simulated platform registers itself from static initialisers, so programs link it whole.
function(norva_link_platform target)
  target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,norva_platform>")
endfunction()
