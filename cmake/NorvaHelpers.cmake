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

# norva_test_area(AREA LIBS...): one test program per folder of tests/, every test labelled AREA.
function(norva_test_area area)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _src)
    return()
  endif()
  add_executable(test_${area} ${_src})
  target_link_libraries(test_${area} PRIVATE ${ARGN} norva_test_support GTest::gtest_main GTest::gmock)
  gtest_discover_tests(test_${area}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${area}
    DISCOVERY_TIMEOUT 120)
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
