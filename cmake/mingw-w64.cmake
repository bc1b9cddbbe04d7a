# Cross build of the 64-bit Windows DLL with Debian's mingw-w64 compilers. The
# posix threads variant provides std::thread and std::mutex; the programs it
# builds run under Wine (wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian's wine64 package installs the loader outside PATH.
find_program(VIMBRA_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VIMBRA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VIMBRA_WINE64})
endif()
# The still image libraries cross-built by tools/build-mingw-deps.sh, in the
# prefix that script names (it depends on the library versions and this
# toolchain). -DVIMBRA_MINGW_DEPS_PREFIX=<dir> picks another; empty, none.
get_property(_vimbra_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT DEFINED VIMBRA_MINGW_DEPS_PREFIX AND NOT _vimbra_in_try_compile)
  execute_process(
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../tools/build-mingw-deps.sh" --print-prefix
    OUTPUT_VARIABLE VIMBRA_MINGW_DEPS_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(VIMBRA_MINGW_DEPS_PREFIX AND EXISTS "${VIMBRA_MINGW_DEPS_PREFIX}/.complete")
  list(APPEND CMAKE_FIND_ROOT_PATH "${VIMBRA_MINGW_DEPS_PREFIX}")
endif()
