# Checks a DLL's import table against a reviewed list of imports:
#   cmake -DOBJDUMP=<objdump> -DDLL=<dll> -DLIST=<list> -P check_imports.cmake
#
# The list has one import per line, "<DLL> <function>" ("<DLL> #<ordinal>"
# for one by ordinal); "#" starts a comment line. Every entry was checked to
# exist in the oldest Windows supported (Windows 7): a new import fails the
# build here, naming it, until someone has checked it and added it. A DLL
# that fails is removed, so that no later build takes it for checked.
cmake_minimum_required(VERSION 3.25)

# COMCTL32: a process without a Common Controls 6 manifest gets version 5.82
# of the library, and the DLL cannot know which one its host gets. 5.82
# exports some functions by ordinal only (GetWindowSubclass is ordinal 411,
# without a name), and one import by a name that the library does not export
# makes the loader refuse the whole DLL. So COMCTL32 is imported only by
# names that 5.82 exports by name, whatever the list says: these four, which
# it exports by name since Windows XP SP1. Add a name here only after
# finding it in the name table of a 5.82 comctl32.dll.
set(comctl32_named_in_5_82 DefSubclassProc InitCommonControlsEx RemoveWindowSubclass SetWindowSubclass)

function(refuse text)
  file(REMOVE "${DLL}")
  message(FATAL_ERROR "${DLL}: ${text}\n(the DLL was removed)")
endfunction()

foreach(var OBJDUMP DLL LIST)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_imports.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  refuse("objdump -p failed")
endif()

# The imports, as "<DLL> <function>" with the DLL's name in capitals.
string(REPLACE "\n" ";" lines "${dump}")
set(imports "")
set(dll "")
macro(sv_add_import ordinal name)
  if("${name}" STREQUAL "<none>")
    list(APPEND imports "${dll} #${ordinal}")
  else()
    list(APPEND imports "${dll} ${name}")
  endif()
endmacro()
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOUPPER "${CMAKE_MATCH_1}" dll)
  # One import: binutils before 2.44 print "<address> <hint or ordinal>
  # <name>", later ones "<address> <ordinal> <hint> <name>"; a missing
  # ordinal, hint or name is "<none>".
  elseif(dll AND line MATCHES "^\t[0-9a-fA-F]+\t +([0-9]+)  (.+)$")
    sv_add_import("${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}")
  elseif(dll AND line MATCHES "^\t[0-9a-fA-F]+ +(<none>|[0-9]+) +(<none>|[0-9a-fA-F]+) +(.+)$")
    sv_add_import("${CMAKE_MATCH_1}" "${CMAKE_MATCH_3}")
  elseif(line STREQUAL "")
    set(dll "")
  endif()
endforeach()
if(NOT imports)
  refuse("no import table found")
endif()

file(STRINGS "${LIST}" entries REGEX "^[^#]")
set(allowed "")
foreach(entry IN LISTS entries)
  string(STRIP "${entry}" entry)
  if(entry MATCHES "^([^ ]+) +([^ ]+)$")
    string(TOUPPER "${CMAKE_MATCH_1}" entry_dll)
    list(APPEND allowed "${entry_dll} ${CMAKE_MATCH_2}")
  elseif(NOT entry STREQUAL "")
    message(FATAL_ERROR "${LIST}: not an import: '${entry}'")
  endif()
endforeach()

set(unlisted "")
set(comctl32_refused "")
foreach(import IN LISTS imports)
  if(import MATCHES "^COMCTL32\\.DLL (.+)$" AND NOT CMAKE_MATCH_1 IN_LIST comctl32_named_in_5_82)
    list(APPEND comctl32_refused "${import}")
  elseif(NOT import IN_LIST allowed)
    list(APPEND unlisted "${import}")
  endif()
endforeach()

set(problems "")
if(comctl32_refused)
  list(JOIN comctl32_refused "\n  " text)
  string(APPEND problems "imports from COMCTL32 what version 5.82 does not export by name, so the "
         "DLL would not load in a host without a Common Controls 6 manifest:\n  ${text}\n")
endif()
if(unlisted)
  list(JOIN unlisted "\n  " text)
  string(APPEND problems "imports what is not on the reviewed list ${LIST} (check that Windows 7 "
         "has it, then add it there):\n  ${text}\n")
endif()
if(problems)
  refuse("${problems}")
endif()
list(LENGTH imports count)
message(STATUS "${DLL}: all ${count} imports are on the reviewed list")
