# Run after a GoogleTest program is built (see norva_gtest_register): lists its tests and writes CTEST_FILE with
# one CTest test per suite, "Suite.*", that runs the program filtered to that suite.
# Reads the configuration written at configure time, CONFIG_FILE: _exe, _dir, _labels, _suite_labels (pairs
# "Suite=label") and _threads (regular expressions over "Suite.Name" whose suites also carry the label "threads").
include(${CONFIG_FILE})
execute_process(COMMAND ${_exe} --gtest_list_tests
                WORKING_DIRECTORY ${_dir}
                OUTPUT_VARIABLE _out
                ERROR_VARIABLE _err
                RESULT_VARIABLE _rc
                TIMEOUT 120)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "${_exe} --gtest_list_tests failed (${_rc}):\n${_out}\n${_err}")
endif()
# The comments of typed and parameterised tests ("# GetParam() = ...") may hold any character: dropped first.
string(REGEX REPLACE "#[^\n]*" "" _out "${_out}")
string(REPLACE "\n" ";" _lines "${_out}")
set(_script "")
set(_suite "")
set(_suite_threads FALSE)
macro(_norva_flush_suite)
  if(_suite)
    set(_l ${_labels})
    foreach(_pair IN LISTS _suite_labels)
      string(REPLACE "=" ";" _kv "${_pair}")
      list(GET _kv 0 _k)
      list(GET _kv 1 _v)
      if(_suite STREQUAL _k)
        list(APPEND _l ${_v})
      endif()
    endforeach()
    if(_suite_threads)
      list(APPEND _l threads)
    endif()
    list(REMOVE_DUPLICATES _l)
    string(APPEND _script
      "add_test([==[${_suite}.*]==] [==[${_exe}]==] [==[--gtest_filter=${_suite}.*]==])\n"
      "set_tests_properties([==[${_suite}.*]==] PROPERTIES WORKING_DIRECTORY [==[${_dir}]==] LABELS [==[${_l}]==])\n")
  endif()
endmacro()
foreach(_line IN LISTS _lines)
  string(STRIP "${_line}" _name)
  if(_name STREQUAL "")
    continue()
  endif()
  if(_line MATCHES "^  ")
    if(_suite)
      foreach(_pattern IN LISTS _threads)
        if("${_suite}.${_name}" MATCHES "^${_pattern}$")
          set(_suite_threads TRUE)
        endif()
      endforeach()
    endif()
  elseif(_name MATCHES "^(.+)\\.$")
    _norva_flush_suite()
    set(_suite "${CMAKE_MATCH_1}")
    set(_suite_threads FALSE)
  endif()
endforeach()
_norva_flush_suite()
file(WRITE ${CTEST_FILE} "${_script}")
