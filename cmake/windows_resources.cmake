# Windows resources of the shipped binaries, all from the build's version:
# a VERSIONINFO, and for programs an application manifest and the icon.
#
#   zrk_windows_resources(TARGET DESCRIPTION "..." [PROGRAM])
#
# PROGRAM adds the manifest (cmake/resources/app.manifest.in) and the icon,
# which cmake/resources/make_icon.py draws at build time.
set(ZRK_RESOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/resources)

function(zrk_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(R "PROGRAM" "DESCRIPTION" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  set(ZRK_RC_DESCRIPTION "${R_DESCRIPTION}")
  set(ZRK_RC_INTERNAL ${target})
  if(type STREQUAL "SHARED_LIBRARY")
    set(ZRK_RC_FILETYPE VFT_DLL)
    get_target_property(name ${target} OUTPUT_NAME)
    get_target_property(suffix ${target} SUFFIX)
    set(ZRK_RC_FILENAME "${name}${suffix}")
  else()
    set(ZRK_RC_FILETYPE VFT_APP)
    set(ZRK_RC_FILENAME "${target}.exe")
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(ZRK_RC_EXTRA "")
  set(ZRK_RC_EXTRA_COMMENT "")
  if(R_PROGRAM)
    configure_file(${ZRK_RESOURCE_DIR}/app.manifest.in ${out}.manifest @ONLY)
    set(icon ${CMAKE_BINARY_DIR}/zrkupd.ico)
    if(NOT TARGET zrk_icon)
      find_program(ZRK_PYTHON3 python3 REQUIRED)
      add_custom_command(OUTPUT ${icon}
                         COMMAND ${ZRK_PYTHON3} ${ZRK_RESOURCE_DIR}/make_icon.py ${icon}
                         DEPENDS ${ZRK_RESOURCE_DIR}/make_icon.py VERBATIM)
      add_custom_target(zrk_icon DEPENDS ${icon})
    endif()
    add_dependencies(${target} zrk_icon)
    set(ZRK_RC_EXTRA_COMMENT ", the application manifest and the icon")
    set(ZRK_RC_EXTRA "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${out}.manifest\"\n"
                     "1 ICON \"${icon}\"\n")
    string(REPLACE ";" "" ZRK_RC_EXTRA "${ZRK_RC_EXTRA}")
    set_source_files_properties(${out}.rc PROPERTIES OBJECT_DEPENDS "${out}.manifest;${icon}")
  endif()
  configure_file(${ZRK_RESOURCE_DIR}/version.rc.in ${out}.rc @ONLY)
  target_sources(${target} PRIVATE ${out}.rc)
  target_link_libraries(${target} PRIVATE zrk_version)
  set_property(SOURCE ${out}.rc APPEND PROPERTY OBJECT_DEPENDS ${ZRK_GENERATED}/zrk_version.h)
endfunction()
