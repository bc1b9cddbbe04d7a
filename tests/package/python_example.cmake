# Run by CTest: runs the Python example on the virtual camera. It either
# previews and saves, or stops with one line naming the failure; a Python
# traceback means the example itself is broken. With EXPECT_FAILURE it must
# stop that way.
# A sanitizer build's runtime is preloaded into the interpreter only.
set(launcher)
if(DEFINED ENV{VIMBRA_EXAMPLE_PRELOAD})
  set(launcher env "LD_PRELOAD=$ENV{VIMBRA_EXAMPLE_PRELOAD}")
endif()
execute_process(COMMAND ${launcher} ${PYTHON} ${EXAMPLE} --seconds 1 --output ${OUTPUT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "exit status ${rc}\n${out}${err}")
if(err MATCHES "Traceback")
  message(FATAL_ERROR "the example raised an exception it does not handle")
endif()
if(EXPECT_FAILURE AND rc EQUAL 0)
  message(FATAL_ERROR "the example succeeded where it could not have")
endif()
if(NOT rc EQUAL 0 AND NOT err MATCHES "^preview_and_save\\.py: [^\n]+\n$")
  message(FATAL_ERROR "the example failed without saying why")
endif()
