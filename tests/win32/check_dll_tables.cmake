# Checks the export and import tables of the plug-in DLL:
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

# Exported names: the lines of the "[Ordinal/Name Pointer] Table".
set(exports "")
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  elseif(in_names AND NOT line STREQUAL "")
    set(in_names FALSE)
  endif()
endforeach()
list(SORT exports)
list(SORT expected_exports)
if(NOT exports STREQUAL expected_exports)
  message(FATAL_ERROR "exports differ:\n  got      ${exports}\n  expected ${expected_exports}")
endif()

# Imported DLLs: system DLLs only. No socket library (it is loaded at run
# time) and no runtime DLL of the toolchain (linked statically).
set(imports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOUPPER "${CMAKE_MATCH_1}" name)
    list(APPEND imports "${name}")
  endif()
endforeach()
set(system_dlls
  KERNEL32.DLL USER32.DLL GDI32.DLL ADVAPI32.DLL COMCTL32.DLL COMDLG32.DLL VERSION.DLL
  MSVCRT.DLL SHELL32.DLL SHLWAPI.DLL OLE32.DLL OLEAUT32.DLL UXTHEME.DLL)
if(NOT imports)
  message(FATAL_ERROR "no import table found in ${DLL}")
endif()
foreach(name IN LISTS imports)
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "imports ${name}, which is not a system DLL (imports: ${imports})")
  endif()
endforeach()
if("WS2_32.DLL" IN_LIST imports)
  message(FATAL_ERROR "imports WS2_32.DLL")
endif()
message(STATUS "exports: ${exports}")
message(STATUS "imports: ${imports}")
