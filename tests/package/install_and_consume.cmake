# Run by CTest: installs the build tree into PREFIX, then builds the example
# program against the installed tree twice (pkg-config, find_package) and runs
# both; with an interpreter, imports the installed Python package as well.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " cmd)
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

# The example prints the version of the header it was built with.
function(expect_example_output)
  if(NOT run_output MATCHES "^VimbraSdk 1\\.3\\.2\\.0: session -?[1-9][0-9]*, ")
    message(FATAL_ERROR "unexpected output of the example: ${run_output}")
  endif()
  message(STATUS "${ARGV0}: ${run_output}")
endfunction()

# The README shows the example verbatim (indented by four spaces).
file(READ ${CONSUMER_DIR}/example.c example_text)
string(REGEX REPLACE "\n([^\n])" "\n    \\1" example_text "    ${example_text}")
file(READ ${README} readme_text)
string(FIND "${readme_text}" "${example_text}" example_at)
if(example_at LESS 0)
  message(FATAL_ERROR "README.md does not show ${CONSUMER_DIR}/example.c as it is")
endif()

file(REMOVE_RECURSE ${PREFIX})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

foreach(f ${LIBDIR}/libVimbraSdk_740QX_RDL.so ${LIBDIR}/libVimbraSdk_740QX_RDL.so.1
          include/VimbraSdk/VimbraSdk_740QX_RDL.h ${LIBDIR}/pkgconfig/VimbraSdk.pc
          ${LIBDIR}/cmake/VimbraSdk/VimbraSdkConfig.cmake)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# The SONAME link resolves to the versioned file.
file(REAL_PATH ${PREFIX}/${LIBDIR}/libVimbraSdk_740QX_RDL.so real_library)
if(NOT real_library MATCHES "libVimbraSdk_740QX_RDL\\.so\\.1\\.3\\.2$")
  message(FATAL_ERROR "libVimbraSdk_740QX_RDL.so leads to ${real_library}")
endif()

# The installed demo finds the installed library.
run(${PREFIX}/bin/vimbra_demo --help)

# pkg-config, as the README shows it.
set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
run(pkg-config --cflags --libs VimbraSdk)
separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
separate_arguments(san_flags UNIX_COMMAND "${CONSUMER_FLAGS}")
run(pkg-config --variable=libdir VimbraSdk)
string(STRIP "${run_output}" pc_libdir)
set(pc_example ${PREFIX}/example-pkg-config)
run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror ${san_flags} ${CONSUMER_DIR}/example.c -o ${pc_example}
    ${pc_flags} -Wl,-rpath,${pc_libdir})
run(${pc_example})
expect_example_output("pkg-config")

# find_package(VimbraSdk) with the imported target.
set(cm_build ${PREFIX}/example-cmake)
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${cm_build} -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${PREFIX} "-DCMAKE_C_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build ${cm_build})
run(${cm_build}/example)
expect_example_output("find_package")

# The installed Python package finds the installed library by itself. A
# sanitizer build cannot be loaded into a plain interpreter, so it is left out.
if(PYTHON AND NOT CONSUMER_FLAGS)
  unset(ENV{VIMBRA_LIBRARY})
  set(ENV{PYTHONPATH} ${PREFIX}/${PYTHON_SITE})
  run(${PYTHON} -c "import vimbra\nprint(vimbra.dll_version(), vimbra.library_path())")
  if(NOT run_output MATCHES "^26412319 ${PREFIX}/")
    message(FATAL_ERROR "the installed Python package loaded: ${run_output}")
  endif()
  message(STATUS "python: ${run_output}")
endif()
