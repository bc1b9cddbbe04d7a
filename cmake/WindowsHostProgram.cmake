# A Windows host program of the DLL (its checks, the sample): the public header
# as a host sees it (with <windows.h>, not the DLL's own build), linked through
# the import library, with the DLL copied next to it where Wine finds it.
function(vimbra_windows_host_program name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE -UVIMBRA_BUILDING_DLL)
  target_include_directories(${name} PRIVATE ${PROJECT_BINARY_DIR}/src/api)
  target_link_libraries(${name} PRIVATE VimbraSdk_740QX_RDL)
  target_link_options(${name} PRIVATE -static)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:VimbraSdk_740QX_RDL>
            $<TARGET_FILE_DIR:${name}>)
endfunction()
