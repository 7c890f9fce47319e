# Layers the build enforces. No target sees the repository root; each library
# publishes a folder of its own under <build>/include/<target> that holds a
# link named like its layer (admin -> <source>/admin), so that sources keep
# writing #include "admin/settings.h". A target sees only the folders of what
# it links, and an include that runs up a layer fails to compile.
#
# zrk_public_folder(TARGET PATH [ONLY entry...] [EXCEPT entry...])
#   PATH     the layer's folder below the source root, e.g. admin or platform/ui.
#   ONLY     link just these entries of PATH (an interface carved out of a layer).
#   EXCEPT   link every entry of PATH but these (a sub-layer with a library of
#            its own, or the build description).
function(zrk_public_folder target path)
  cmake_parse_arguments(P "" "" "ONLY;EXCEPT" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  set(source ${CMAKE_SOURCE_DIR}/${path})
  if(NOT P_ONLY AND NOT P_EXCEPT)
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    zrk_link(${source} ${root}/${path})
  else()
    # A folder of links, one per entry; a header added later shows up with
    # the next build (the listing is checked then).
    if(IS_SYMLINK ${root}/${path})
      file(REMOVE ${root}/${path})
    endif()
    file(MAKE_DIRECTORY ${root}/${path})
    if(P_ONLY)
      set(entries ${P_ONLY})
    else()
      file(GLOB found CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${source} ${source}/*)
      set(entries)
      foreach(entry ${found})
        if(NOT entry IN_LIST P_EXCEPT)
          list(APPEND entries ${entry})
        endif()
      endforeach()
    endif()
    foreach(entry ${entries})
      zrk_link(${source}/${entry} ${root}/${path}/${entry})
    endforeach()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# zrk_link(TARGET LINK): a symbolic link, made again only when it points elsewhere.
function(zrk_link target link)
  if(IS_SYMLINK ${link})
    file(READ_SYMLINK ${link} current)
    if(current STREQUAL target)
      return()
    endif()
    file(REMOVE ${link})
  endif()
  file(CREATE_LINK ${target} ${link} SYMBOLIC)
endfunction()
