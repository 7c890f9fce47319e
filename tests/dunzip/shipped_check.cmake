# The shipped binaries carry no test machinery: DUNZIP32.DLL exports "dunzip"
# alone and zrkupd.exe has no fault hooks, while the test variants have both
# (so that a listing that reads nothing cannot pass).
# The matches of `regex` in what `command` (a list) prints, into `out`; a
# failing command fails the check.
function(matches command regex out)
  execute_process(COMMAND ${command} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${command} failed")
  endif()
  string(REGEX MATCHALL "${regex}" found "${text}")
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

function(exports dll out)
  matches("${OBJDUMP};-p;${dll}" "\n[ \t]*\\[[ 0-9]+\\] [A-Za-z_0-9@]+" lines)
  list(TRANSFORM lines REPLACE ".*\\] " "")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

function(fault_symbols program out)
  matches("${NM};-C;${program}" "platform::fault::[A-Za-z]+" found)
  list(LENGTH found count)
  set(${out} ${count} PARENT_SCOPE)
endfunction()

set(failed 0)
exports(${SHIPPED_DLL} shipped)
exports(${TEST_DLL} test)
message("shipped library exports: ${shipped}; test variant: ${test}")
if(NOT shipped STREQUAL "dunzip" OR NOT test STREQUAL "dunzip;dunzipTestFollowFaults")
  set(failed 1)
endif()
fault_symbols(${SHIPPED_PROGRAM} shipped_hooks)
fault_symbols(${TEST_PROGRAM} test_hooks)
message("fault hooks in the shipped program: ${shipped_hooks}; in a test program: ${test_hooks}")
if(NOT shipped_hooks EQUAL 0 OR test_hooks EQUAL 0)
  set(failed 1)
endif()
if(failed)
  message(FATAL_ERROR "test machinery in the shipped binaries")
endif()
