# Runs CPack and moves the finished packages out of its staging area:
#   cmake -DCPACK=<cpack> -DCONFIG=<CPackConfig.cmake> -DSTAGE=<dir> -DOUT=<dir>
#         -DFILES=<name;...> [-DSUMS=<file>] -P make_packages.cmake
# OUT then holds exactly FILES (and SUMS, in the form sha256sum -c reads), so
# that nothing of an earlier version or configuration is ever shipped.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${STAGE}" "${OUT}")
execute_process(COMMAND "${CPACK}" --config "${CONFIG}" -B "${STAGE}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc})")
endif()

file(MAKE_DIRECTORY "${OUT}")
set(sums "")
foreach(name IN LISTS FILES)
  if(NOT EXISTS "${STAGE}/${name}")
    file(GLOB made LIST_DIRECTORIES false RELATIVE "${STAGE}" "${STAGE}/*")
    message(FATAL_ERROR "cpack made no ${name} (made: ${made})")
  endif()
  file(RENAME "${STAGE}/${name}" "${OUT}/${name}")
  file(SHA256 "${OUT}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
if(SUMS)
  file(WRITE "${OUT}/${SUMS}" "${sums}")
endif()
file(REMOVE_RECURSE "${STAGE}")
