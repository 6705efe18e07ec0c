# The edges between the parts, as the compiler sees them. No target gets the
# repository root as an include directory: each library shows its users the
# one folder it owns, through a folder of the build tree whose only entry is
# a link to it. "transmit/frame.h" is thus found only by code whose target
# links sv_transmit, and an include past a declared edge does not compile.
# The table of edges is in the README's Layout section and in
# tests/layers/check_includes.py, which also catches "../" paths.

# sv_show_folder(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>): <folder>, a
# path below the source root such as "host" or "plugin/seam", becomes
# includable as "<folder>/<file>" for <target> (and its users, unless
# PRIVATE).
function(sv_show_folder target scope folder)
  string(MAKE_C_IDENTIFIER "${folder}" view_name)
  set(view "${CMAKE_BINARY_DIR}/include/${view_name}")
  set(link "${view}/${folder}")
  if(NOT IS_SYMLINK "${link}")
    get_filename_component(parent "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${folder}" "${link}" SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} "${view}")
endfunction()
