# plugin/win32/runtime.cpp gives back at unload what the statically linked
# C++ runtime takes from the host's process, and unwind_tables.cpp keeps the
# DLL's unwind tables with its own unwinder. Neither uses private data of
# the runtime, only interfaces that stay when the toolchain changes; a
# change there would still be no compile error, so sv_check_runtime() checks
# each of them when the win32 build is configured and stops the configure
# naming what changed:
#   - a thread_local is a descriptor {size, align, 0, template} read through
#     __emutls_get_address, and runtime.cpp defines every __emutls_* entry
#     point the runtime defines or uses;
#   - the runtime makes its locks and TLS indices only through the import
#     slots that runtime.cpp counts;
#   - the C runtime's entry point of a DLL (DllMainCRTStartup), which
#     runtime.cpp's runs first, and __gnu_cxx::__freeres exist;
#   - the start-up object asks for the shared libgcc through
#     __imp__GetModuleHandleA@4, the slot unwind_tables.cpp takes over.
# The GCC releases whose DLL passed the reload and shared-runtime tests are
# listed here; plugin/win32/runtime.md says what to do for another one.
set(SV_RUNTIME_CHECKED_GCC 12 14)

# runtime_dir: the folder of the runtime of the "win32" thread model.
function(sv_check_runtime runtime_dir)
  set(src "${CMAKE_SOURCE_DIR}/plugin/win32")
  set(work "${CMAKE_BINARY_DIR}/runtime-probe")
  set(nm "${SV_MINGW_TRIPLE}-nm")
  foreach(name libmingw32.a libmingwex.a dllcrt2.o crtbegin.o)
    execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${name}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REGEX REPLACE "[.].*" "" var "${name}")
    set(${var} "${path}")
  endforeach()
  set(archives "${runtime_dir}/libgcc.a" "${runtime_dir}/libgcc_eh.a" "${runtime_dir}/libstdc++.a"
               "${libmingw32}" "${libmingwex}")

  string(REGEX REPLACE "\\..*" "" major "${CMAKE_CXX_COMPILER_VERSION}")
  if(NOT major IN_LIST SV_RUNTIME_CHECKED_GCC AND NOT SV_RUNTIME_TRIAL)
    list(JOIN SV_RUNTIME_CHECKED_GCC ", " checked)
    message(FATAL_ERROR "The DLL has not been checked with the C++ runtime of GCC ${major} (checked:"
                        " GCC ${checked}). plugin/win32/runtime.md, \"A new GCC\", says how to"
                        " check it; configure with -DSV_RUNTIME_TRIAL=ON to build for that check.")
  endif()

  # Anything changed since the last check that passed?
  set(key "${CMAKE_CXX_COMPILER_VERSION}")
  foreach(f IN ITEMS "${src}/runtime.cpp" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" ${archives}
                     "${dllcrt2}" "${crtbegin}")
    file(SHA256 "${f}" h)
    string(APPEND key "${h}")
  endforeach()
  string(SHA256 key "${key}")
  if(SV_RUNTIME_CHECKED STREQUAL key)
    return()
  endif()
  file(MAKE_DIRECTORY "${work}")

  # The compiler's thread-local descriptors.
  file(WRITE "${work}/tls.cpp"
       "extern \"C\" { alignas(16) thread_local char sv_probe_block[24] = {7}; }\n"
       "extern \"C\" void* sv_probe_address() { return sv_probe_block; }\n")
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -O2 -S -o "${work}/tls.s" "${work}/tls.cpp"
                  RESULT_VARIABLE rc ERROR_VARIABLE out)
  file(READ "${work}/tls.s" asm)
  set(ws "[ \t\r\n]+")
  if(NOT rc EQUAL 0 OR NOT asm MATCHES
     "___emutls_v\\.sv_probe_block:${ws}\\.long${ws}24${ws}\\.long${ws}16${ws}\\.long${ws}0${ws}\\.long${ws}___emutls_t\\.sv_probe_block"
     OR NOT asm MATCHES "call${ws}___emutls_get_address")
    sv_runtime_mismatch("a thread_local is no longer a descriptor {size, align, 0, template} read"
                        " through __emutls_get_address (see ${work}/tls.s)")
  endif()

  # runtime.cpp's symbols against the runtime's.
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -std=c++20 -O1 -c -o "${work}/runtime.obj"
                          "${src}/runtime.cpp"
                  RESULT_VARIABLE rc ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    sv_runtime_mismatch("runtime.cpp does not compile: ${out}")
  endif()
  sv_runtime_symbols("${nm}" "${work}/runtime.obj" ours_defined ours_used)
  set(theirs_defined "")
  set(theirs_used "")
  foreach(archive IN LISTS archives)
    sv_runtime_symbols("${nm}" "${archive}" defined used)
    list(APPEND theirs_defined ${defined})
    list(APPEND theirs_used ${used})
  endforeach()
  set(emutls ${theirs_defined} ${theirs_used})
  list(FILTER emutls INCLUDE REGEX "^___emutls_[a-z_]+$")  # functions, not variables
  # The Win32 functions that make a lock or a TLS index.
  set(makers ${theirs_used})
  list(FILTER makers INCLUDE REGEX
       "^__imp__(Create[A-Za-z]*(Semaphore|Mutex|Event)[A-Za-z]*|Initialize[A-Za-z]*CriticalSection[A-Za-z]*|TlsAlloc|FlsAlloc)@")
  list(REMOVE_DUPLICATES emutls)
  list(REMOVE_DUPLICATES makers)
  foreach(symbol IN LISTS emutls)
    if(NOT symbol IN_LIST ours_defined)
      sv_runtime_mismatch("the runtime has the entry point ${symbol}, which runtime.cpp does not"
                          " define: the runtime's own one would be linked beside it")
    endif()
  endforeach()
  foreach(symbol IN LISTS makers)
    if(NOT symbol IN_LIST ours_defined)
      sv_runtime_mismatch("the runtime makes locks or TLS indices through ${symbol}, a slot that"
                          " runtime.cpp does not count: what it makes would outlive an unload")
    endif()
  endforeach()

  # What runtime.cpp calls of the runtime.
  sv_runtime_symbols("${nm}" "${dllcrt2}" crt_defined crt_used)
  if(NOT "_DllMainCRTStartup@12" IN_LIST crt_defined)
    sv_runtime_mismatch("the C runtime (${dllcrt2}) no longer defines DllMainCRTStartup")
  endif()
  sv_runtime_symbols("${nm}" "${runtime_dir}/libstdc++.a" cxx_defined cxx_used)
  if(NOT "__ZN9__gnu_cxx9__freeresEv" IN_LIST cxx_defined)
    sv_runtime_mismatch("libstdc++.a no longer defines __gnu_cxx::__freeres")
  endif()

  # unwind_tables.cpp answers the start-up object's question for the shared
  # libgcc through the import slot the start-up object reads.
  sv_runtime_symbols("${nm}" "${crtbegin}" crtbegin_defined crtbegin_used)
  if(NOT "__imp__GetModuleHandleA@4" IN_LIST crtbegin_used)
    sv_runtime_mismatch("the start-up object ${crtbegin} no longer asks for the shared libgcc"
                        " through __imp__GetModuleHandleA@4 (plugin/win32/unwind_tables.cpp)")
  endif()

  set(SV_RUNTIME_CHECKED "${key}" CACHE INTERNAL "the toolchain runtime.cpp was last checked against")
  message(STATUS "The toolchain's runtime offers what plugin/win32/runtime.cpp relies on")
endfunction()

# The names an object or archive defines (T, D, B, R) and uses (U).
function(sv_runtime_symbols nm file out_defined out_used)
  execute_process(COMMAND "${nm}" "${file}" OUTPUT_VARIABLE table RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    sv_runtime_mismatch("cannot read the symbols of ${file}")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ [TDBR] [^\n]+" defined "${table}")
  string(REGEX REPLACE "[0-9a-f]+ [TDBR] " "" defined "${defined}")
  string(REGEX MATCHALL " U [^\n]+" used "${table}")
  string(REGEX REPLACE " U " "" used "${used}")
  set(${out_defined} "${defined}" PARENT_SCOPE)
  set(${out_used} "${used}" PARENT_SCOPE)
endfunction()

function(sv_runtime_mismatch)
  string(JOIN "" what ${ARGV})
  message(FATAL_ERROR "This toolchain's C++ runtime is not what plugin/win32/runtime.cpp relies"
                      " on:\n  ${what}\nSee plugin/win32/runtime.md, \"A new GCC\", before"
                      " building the DLL with this toolchain.")
endfunction()
