# Writes OUT, a C++ file that holds each of FILES as a string, so that the
# receiver serves its page without files beside it.
#   cmake -DOUT=web_assets.cpp "-DFILES=a.html|b.js" -P embed.cmake
set(text "// Generated from tools/web by embed.cmake; do not edit.\n#include <string_view>\n\nnamespace sv::recv::web {\n")
string(REPLACE "|" ";" FILES "${FILES}")
foreach(file IN LISTS FILES)
  get_filename_component(name "${file}" NAME)
  string(MAKE_C_IDENTIFIER "${name}" id)
  file(READ "${file}" content)
  string(FIND "${content}" ")sv_asset\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} contains the raw string delimiter")
  endif()
  string(APPEND text "extern const std::string_view k_${id};\nconst std::string_view k_${id} = R\"sv_asset(${content})sv_asset\";\n")
endforeach()
string(APPEND text "}  // namespace sv::recv::web\n")
file(WRITE "${OUT}" "${text}")
