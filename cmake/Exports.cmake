# The export list of the ABI header (SV_EXPORTS in udpsv_exports.h), read
# once at configure time: SV_EXPORT_NAMES for the checks of the built
# libraries, and from it the .def file of the DLL and the export map of the
# native library, both in SV_GENERATED_DIR.
set(SV_ABI_HEADER "${CMAKE_SOURCE_DIR}/plugin/include/udpsv_exports.h")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${SV_ABI_HEADER}")

file(READ "${SV_ABI_HEADER}" sv_header)
# Each entry without its line's continuation backslash, which would escape
# the list's separator.
string(REGEX MATCHALL "\n  X\\([^\n\\]*" sv_export_lines "${sv_header}")
set(SV_EXPORT_NAMES "")
string(CONCAT sv_def "; Made by the build from SV_EXPORTS in plugin/include/udpsv_exports.h: the\n"
           "; plain names, each aliasing the stdcall symbol, whose suffix is the byte\n"
           "; count of the arguments the function removes.\n"
           "LIBRARY UDPSV2Simulink.dll\nEXPORTS\n")
set(sv_map "/* Made by the build from SV_EXPORTS in plugin/include/udpsv_exports.h. */\n{\n  global:\n")
foreach(line IN LISTS sv_export_lines)
  if(NOT line MATCHES "^\n  X\\(([A-Za-z_][A-Za-z0-9_]*), ([0-9]+)\\) *$")
    message(FATAL_ERROR "${SV_ABI_HEADER}: an SV_EXPORTS line not of the form"
                        " 'X(Name, bytes)': ${line}")
  endif()
  list(APPEND SV_EXPORT_NAMES "${CMAKE_MATCH_1}")
  string(APPEND sv_def "  ${CMAKE_MATCH_1}=${CMAKE_MATCH_1}@${CMAKE_MATCH_2}\n")
  string(APPEND sv_map "    ${CMAKE_MATCH_1};\n")
endforeach()
string(APPEND sv_map "  local: *;\n};\n")
if(NOT SV_EXPORT_NAMES)
  message(FATAL_ERROR "${SV_ABI_HEADER}: no SV_EXPORTS list found")
endif()
# Rewritten only when they change, so a configure relinks nothing.
file(CONFIGURE OUTPUT "${SV_GENERATED_DIR}/UDPSV2Simulink.def" CONTENT "${sv_def}" @ONLY)
file(CONFIGURE OUTPUT "${SV_GENERATED_DIR}/exports.map" CONTENT "${sv_map}" @ONLY)
