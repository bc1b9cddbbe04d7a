# The Windows DLL: the catalogue's functions exported by name through a module
# definition file generated from the catalogue, a version resource, and the
# import library hosts link against. The runtime libraries are linked in, so
# the DLL needs nothing beside the system's own.
set(vimbra_catalogue ${PROJECT_SOURCE_DIR}/python/vimbra/catalogue.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vimbra_catalogue})
file(STRINGS ${vimbra_catalogue} vimbra_catalogue_lines REGEX "^Vimbra_")

set(vimbra_def "LIBRARY VimbraSdk_740QX_RDL.dll\nEXPORTS\n")
set(vimbra_export_names "")
foreach(line ${vimbra_catalogue_lines})
  string(REGEX MATCH "^[A-Za-z0-9_]+" name "${line}")
  string(APPEND vimbra_def "    ${name}\n")
  string(APPEND vimbra_export_names "\"${name}\",\n")
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/VimbraSdk_740QX_RDL.def CONTENT "${vimbra_def}")
# The same names as C string literals, for the checks of the built DLL.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/export_names.inc CONTENT "${vimbra_export_names}")
configure_file(version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/version.rc @ONLY)

target_sources(VimbraSdk_740QX_RDL PRIVATE
  ${CMAKE_CURRENT_BINARY_DIR}/VimbraSdk_740QX_RDL.def
  ${CMAKE_CURRENT_BINARY_DIR}/version.rc)
set_target_properties(VimbraSdk_740QX_RDL PROPERTIES
  PREFIX ""
  IMPORT_PREFIX ""
  IMPORT_SUFFIX ".lib")
target_link_options(VimbraSdk_740QX_RDL PRIVATE
  -static -static-libgcc -static-libstdc++ -Wl,--no-undefined)

# The property dialogs' templates, in English and Japanese. They go into the
# DLL itself: the linker would leave out a resource object that sat in one of
# the layers' static libraries.
target_sources(VimbraSdk_740QX_RDL PRIVATE
  ${PROJECT_SOURCE_DIR}/src/dialogs/views/dialogs_en.rc
  ${PROJECT_SOURCE_DIR}/src/dialogs/views/dialogs_ja.rc)
