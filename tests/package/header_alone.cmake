# Run by CTest: the installed header is included first by hosts of every
# vintage, so it must compile on its own as each C and C++ standard a host
# may build with, with the warnings a careful host turns on made errors.
set(strict -Wall -Wextra -pedantic -Werror -fsyntax-only)
foreach(case "${C_COMPILER};c;c89" "${C_COMPILER};c;c99" "${C_COMPILER};c;c11"
             "${CXX_COMPILER};c++;c++98" "${CXX_COMPILER};c++;c++11" "${CXX_COMPILER};c++;c++20")
  list(GET case 0 compiler)
  list(GET case 1 language)
  list(GET case 2 standard)
  execute_process(COMMAND ${compiler} -x ${language} -std=${standard} ${strict} ${HEADER}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "the header alone does not compile as ${standard}:\n${out}${err}")
  else()
    message(STATUS "compiles alone as ${standard}")
  endif()
endforeach()
