# The Windows DLL: the catalogue's functions exported by name through a module
# definition file generated from the catalogue, a version resource, and the
# import library hosts link against. The runtime libraries are linked in, so
# the DLL needs nothing beside the system's own.
set(vimbra_catalogue ${PROJECT_SOURCE_DIR}/python/vimbra/catalogue.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vimbra_catalogue})
file(STRINGS ${vimbra_catalogue} vimbra_catalogue_lines REGEX "^Vimbra_")

# Functions whose implementation has not reached this tree yet are left out of
# the exports (the linker refuses to export what is not defined); a name drops
# off this list by itself once an export source of this directory spells it.
set(vimbra_pending_exports
  Vimbra_SaveImage Vimbra_SaveImageW Vimbra_SetAnalogDlg Vimbra_SetCameraDlg Vimbra_SetImageDlg)
file(GLOB vimbra_export_sources ${CMAKE_CURRENT_SOURCE_DIR}/exports*.cpp)
set(vimbra_export_text "")
foreach(source ${vimbra_export_sources})
  file(READ ${source} text)
  string(APPEND vimbra_export_text "${text}")
endforeach()

set(vimbra_def "LIBRARY VimbraSdk_740QX_RDL.dll\nEXPORTS\n")
set(vimbra_export_names "")
set(vimbra_missing_exports "")
foreach(line ${vimbra_catalogue_lines})
  string(REGEX MATCH "^[A-Za-z0-9_]+" name "${line}")
  if(name IN_LIST vimbra_pending_exports AND NOT vimbra_export_text MATCHES "${name}\\(")
    list(APPEND vimbra_missing_exports ${name})
  else()
    string(APPEND vimbra_def "    ${name}\n")
    string(APPEND vimbra_export_names "\"${name}\",\n")
  endif()
endforeach()
if(vimbra_missing_exports)
  message(WARNING "The DLL is built without these catalogue functions, not implemented yet: "
                  "${vimbra_missing_exports}")
endif()
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
