# The import check (cmake/check_imports.cmake) on DLLs with planted imports:
#   cmake -DOBJDUMP=<objdump> -DCHECK=<check_imports.cmake> -DLIST=<list>
#         -DPLANTED=<folder of planted-<n>.dll> -DWORK=<scratch folder> -P check_imports_test.cmake
cmake_minimum_required(VERSION 3.25)

set(failures "")

# Runs the check on a copy of planted-<n>.dll (the check removes what it
# refuses) against `list`; sets rc, text and whether the copy is left.
function(check n list)
  file(MAKE_DIRECTORY "${WORK}")
  set(dll "${WORK}/planted-${n}.dll")
  file(COPY_FILE "${PLANTED}/planted-${n}.dll" "${dll}")
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${OBJDUMP}" "-DDLL=${dll}" "-DLIST=${list}"
                          -P "${CHECK}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \n]+" " " text "${out}${err}")
  set(rc "${rc}" PARENT_SCOPE)
  set(text "${text}" PARENT_SCOPE)
  if(EXISTS "${dll}")
    set(left TRUE PARENT_SCOPE)
  else()
    set(left FALSE PARENT_SCOPE)
  endif()
endfunction()

# Records `what` unless `condition` (an if() condition, as text) holds.
function(expect condition what)
  cmake_language(EVAL CODE "
    if(NOT (${condition}))
      set(failures \"\${failures}\n- \${what}\" PARENT_SCOPE)
    endif()")
endfunction()

# Only listed imports: accepted, and the DLL stays.
check(0 "${LIST}")
expect("rc EQUAL 0" "GetLastError alone, which the list has, was refused: ${text}")
expect("left" "the accepted DLL was removed")

# GetWindowSubclass by name: refused, and the DLL is removed.
check(1 "${LIST}")
expect("NOT rc EQUAL 0" "GetWindowSubclass by name was accepted: ${text}")
expect("text MATCHES \"COMCTL32\\\\.DLL GetWindowSubclass\"" "the refusal does not name COMCTL32.DLL GetWindowSubclass: ${text}")
expect("NOT left" "the refused DLL was left for a later build to take as checked")

# ... even by a list that names it: COMCTL32 is held to what 5.82 exports by name.
file(READ "${LIST}" reviewed)
set(extended "${WORK}/extended-imports.txt")
file(WRITE "${extended}" "${reviewed}\nCOMCTL32.dll GetWindowSubclass\n")
check(1 "${extended}")
expect("NOT rc EQUAL 0" "GetWindowSubclass was accepted once the list named it: ${text}")
expect("text MATCHES \"version 5.82\"" "the refusal does not give the COMCTL32 rule as its reason: ${text}")

# A function newer than Windows 7, not on the list: refused, named.
check(2 "${LIST}")
expect("NOT rc EQUAL 0" "GetSystemTimePreciseAsFileTime was accepted: ${text}")
expect("text MATCHES \"KERNEL32\\\\.DLL GetSystemTimePreciseAsFileTime\""
       "the refusal does not name KERNEL32.DLL GetSystemTimePreciseAsFileTime: ${text}")

if(failures)
  message(FATAL_ERROR "the import check failed its tests:${failures}")
endif()
message(STATUS "the import check refused each planted import")
