# Checks the export table of the plug-in DLL (its imports are checked after
# every link, by cmake/check_imports.cmake):
#   cmake -DOBJDUMP=<objdump> -DDLL=<dll> -DEXPECTED_EXPORTS=<names> -P check_dll_tables.cmake
# The expected exports are the ABI header's list (SV_EXPORT_NAMES).
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${DLL}")
endif()
string(REPLACE "\n" ";" lines "${dump}")

string(REPLACE "," ";" expected_exports "${EXPECTED_EXPORTS}")
if(NOT expected_exports)
  message(FATAL_ERROR "no EXPECTED_EXPORTS given")
endif()

# Exported names: the lines of the "[Ordinal/Name Pointer] Table",
# "[<index>] <name>" before binutils 2.44, "[<index>] +base[<ordinal>] <hint>
# <name>" under column heads from 2.44.
set(exports "")
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^\t\\[ *[0-9]+\\] (\\+base\\[ *[0-9]+\\] +[0-9a-f]+ )?([^ ]+)$")
    list(APPEND exports "${CMAKE_MATCH_2}")
  elseif(in_names AND line MATCHES "^\t +Ordinal +Hint +Name$")
  elseif(in_names AND NOT line STREQUAL "")
    set(in_names FALSE)
  endif()
endforeach()
list(SORT exports)
list(SORT expected_exports)
if(NOT exports STREQUAL expected_exports)
  message(FATAL_ERROR "exports differ:\n  got      ${exports}\n  expected ${expected_exports}")
endif()

message(STATUS "exports: ${exports}")
