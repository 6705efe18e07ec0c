# Checks that the native plug-in exports exactly the ABI header's list:
#   cmake -DNM=<nm> -DLIBRARY=<so> -DEXPECTED_EXPORTS=<names, comma-separated> -P check_so_exports.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND "${NM}" -D --defined-only --format=posix "${LIBRARY}"
                OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm -D failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${dump}")
set(exports "")
foreach(line IN LISTS lines)
  # "name type value size"; functions only (T), as the exports are.
  if(line MATCHES "^([^ @]+)(@[^ ]*)? [TW] ")
    list(APPEND exports "${CMAKE_MATCH_1}")
  endif()
endforeach()
string(REPLACE "," ";" expected "${EXPECTED_EXPORTS}")
list(SORT exports)
list(SORT expected)
if(NOT expected OR NOT exports STREQUAL expected)
  message(FATAL_ERROR "exported functions differ from the ABI header's list:\n"
                      "  got      ${exports}\n  expected ${expected}")
endif()
message(STATUS "exports: ${exports}")
