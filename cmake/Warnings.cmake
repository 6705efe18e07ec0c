# Common warning set for our own targets. The presets, which CI builds, make
# every warning an error (SV_WARNINGS_AS_ERRORS).
option(SV_WARNINGS_AS_ERRORS "Treat warnings in our own targets as errors" OFF)

function(sv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wno-unused-parameter)
  if(SV_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
