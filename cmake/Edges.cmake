# The edges between the parts, as the compiler sees them, and the one place
# they are written: each folder's CMakeLists.txt links the libraries its
# part may use, and sv_show_folder below makes a library's folder
# includable by those that link it, and by nobody else. No target gets the
# repository root as an include directory (tests do: they may reach
# anything), so "transmit/frame.h" is found only by code whose target links
# sv_transmit, and an include past an edge does not compile.

# sv_show_folder(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>): <folder>, a
# path below the source root such as "host" or "plugin/seam", becomes
# includable as "<folder>/<file>" for <target> (and its users, unless
# PRIVATE), through a folder of the build tree whose only entry is a link
# to it.
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

# What the compiler cannot see: a header that only code of a higher part
# includes compiles with that part's folders, and a quoted "../" path is
# followed whatever the folders. tests/layers/check_includes.py closes both
# gaps with the edges written here, once the whole tree is configured: a
# line per target, its top folder and its include directories.
set(SV_EDGES_FILE "${CMAKE_BINARY_DIR}/edges.txt")

function(sv_targets_below dir out)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    sv_targets_below("${sub}" more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(sv_write_edges)
  sv_targets_below("${CMAKE_SOURCE_DIR}" targets)
  set(edges "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(dir ${target} SOURCE_DIR)
    file(RELATIVE_PATH folder "${CMAKE_SOURCE_DIR}" "${dir}")
    string(REGEX REPLACE "/.*" "" folder "${folder}")
    if(folder STREQUAL "" OR folder MATCHES "^\\.\\." OR type MATCHES "INTERFACE|UTILITY")
      continue()
    endif()
    string(APPEND edges "${folder} $<JOIN:$<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>,|>\n")
  endforeach()
  file(GENERATE OUTPUT "${SV_EDGES_FILE}" CONTENT "${edges}")
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL sv_write_edges)
