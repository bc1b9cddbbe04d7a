# Installation of the shipped library for other programs: the library with its
# versioned SONAME and symlinks, the header in its own include folder, a
# pkg-config file, a CMake package (find_package(VimbraSdk) gives the target
# VimbraSdk::VimbraSdk), the demo and the Python binding.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VIMBRA_HEADER_DIR ${CMAKE_INSTALL_INCLUDEDIR}/VimbraSdk)
set(VIMBRA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VimbraSdk)
set(VIMBRA_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

add_library(VimbraSdk::VimbraSdk ALIAS VimbraSdk_740QX_RDL)
target_include_directories(VimbraSdk_740QX_RDL INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${VIMBRA_HEADER_DIR}>)
set_target_properties(VimbraSdk_740QX_RDL PROPERTIES EXPORT_NAME VimbraSdk)

install(TARGETS VimbraSdk_740QX_RDL EXPORT VimbraSdkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/VimbraSdk_740QX_RDL.h DESTINATION ${VIMBRA_HEADER_DIR})

# The installed demo finds the library next to it, wherever the tree is put.
if(TARGET vimbra_demo)
  file(RELATIVE_PATH vimbra_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(vimbra_demo PROPERTIES INSTALL_RPATH "$ORIGIN/${vimbra_bin_to_lib}")
  install(TARGETS vimbra_demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT VimbraSdkTargets NAMESPACE VimbraSdk:: DESTINATION ${VIMBRA_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VimbraSdkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/VimbraSdkConfig.cmake INSTALL_DESTINATION ${VIMBRA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/VimbraSdkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/VimbraSdkConfig.cmake
              ${PROJECT_BINARY_DIR}/package/VimbraSdkConfigVersion.cmake
        DESTINATION ${VIMBRA_CMAKE_DIR})

# The pkg-config file names its prefix relative to itself, so a tree installed
# with `cmake --install --prefix` elsewhere still describes itself.
file(RELATIVE_PATH vimbra_pc_to_prefix /${VIMBRA_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" vimbra_pc_to_prefix "${vimbra_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/VimbraSdk.pc.in ${PROJECT_BINARY_DIR}/package/VimbraSdk.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/VimbraSdk.pc DESTINATION ${VIMBRA_PKGCONFIG_DIR})

# Python binding: Debian's own interpreter first, since python3-numpy belongs to it.
find_program(VIMBRA_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(VIMBRA_PYTHON NAMES python3)
set(vimbra_python_site lib/python3/dist-packages)
if(VIMBRA_PYTHON)
  execute_process(COMMAND ${VIMBRA_PYTHON} -c "import sys; print('%d.%d' % sys.version_info[:2])"
                  OUTPUT_VARIABLE vimbra_python_version OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(vimbra_python_site lib/python${vimbra_python_version}/dist-packages)
endif()
set(VIMBRA_PYTHON_INSTALL_DIR ${vimbra_python_site} CACHE PATH
    "Where cmake --install puts the Python package (relative to the prefix)")
option(VIMBRA_INSTALL_PYTHON "Install the Python binding" ON)
if(VIMBRA_INSTALL_PYTHON)
  # The installed package finds the library by its path relative to itself.
  file(RELATIVE_PATH vimbra_python_to_lib /${VIMBRA_PYTHON_INSTALL_DIR}/vimbra
       /${CMAKE_INSTALL_LIBDIR}/libVimbraSdk_740QX_RDL.so.${PROJECT_VERSION_MAJOR})
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/package/_install_location.py
       CONTENT "# Written by cmake --install: the library relative to this package.\nLIBRARY = \"${vimbra_python_to_lib}\"\n")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/vimbra DESTINATION ${VIMBRA_PYTHON_INSTALL_DIR}
          PATTERN "__pycache__" EXCLUDE)
  install(FILES ${PROJECT_BINARY_DIR}/package/_install_location.py
          DESTINATION ${VIMBRA_PYTHON_INSTALL_DIR}/vimbra)
endif()

# Compiler flags a program needs to load this build of the library (the
# sanitizer runtimes must come first in a program that loads it).
set(VIMBRA_CONSUMER_FLAGS "")
if(VIMBRA_SANITIZE STREQUAL "address")
  set(VIMBRA_CONSUMER_FLAGS "-fsanitize=address,undefined")
elseif(VIMBRA_SANITIZE STREQUAL "thread")
  set(VIMBRA_CONSUMER_FLAGS "-fsanitize=thread")
endif()
