# Run by CTest: runs the demo on the virtual camera. It either passes every
# step, or names the library's error code on standard error and exits with
# that same code.
execute_process(COMMAND ${DEMO} --seconds 1 --output ${OUTPUT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "exit status ${rc}\n${out}${err}")
if(rc EQUAL 0)
  if(NOT out MATCHES "all steps passed")
    message(FATAL_ERROR "the demo exited 0 without passing its steps")
  endif()
  return()
endif()
if(NOT err MATCHES "failed: error ([0-9]+): [a-z]")
  message(FATAL_ERROR "the demo failed without the library's code and message")
endif()
set(code ${CMAKE_MATCH_1})
if(code EQUAL 0)
  set(code 1)
endif()
if(NOT rc EQUAL code)
  message(FATAL_ERROR "the demo reported error ${CMAKE_MATCH_1} but exited with ${rc}")
endif()
