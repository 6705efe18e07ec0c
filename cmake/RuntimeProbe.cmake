# plugin/win32/runtime.cpp replaces parts of the toolchain's C++ runtime and
# copies private layouts of it; a toolchain update could break it without a
# compile error. sv_check_runtime_replacement() checks, when the win32 build
# is configured, everything that file relies on, and stops the configure
# with a message naming it:
#   - the GCC release that runtime_layout.h was read from, for the build's
#     compiler and for the runtime's;
#   - the layouts and initial states of the runtime's once flag, mutex and
#     recursive mutex, and the signatures of its __gthr_win32_* entry points
#     and of __mingwthr_key_dtor (plugin/win32/runtime_probe.cpp, compiled by
#     the runtime's own compiler);
#   - the compiler's thread-local descriptor {size, align, 0, template}, and
#     that it reaches a thread-local through __emutls_get_address;
#   - that runtime.cpp defines every __gthr_win32_* and __emutls_* entry
#     point the runtime's archives define or use, so none of theirs is
#     linked beside it;
#   - that the unwinder makes its lock's semaphore through the import slot
#     __imp__CreateSemaphoreW@16, which runtime.cpp takes over, and through
#     nothing else;
#   - that __mingwthr_key_dtor and __gnu_cxx::__freeres exist;
#   - and, for unwind_tables.cpp beside it, that the start-up object asks
#     for the shared libgcc through __imp__GetModuleHandleA@4.
# It runs again only when the toolchain or one of these files changes.

# runtime_dir: the folder of the runtime of the "win32" thread model.
function(sv_check_runtime_replacement runtime_dir)
  set(revisit "plugin/win32/runtime.cpp")
  set(src "${CMAKE_SOURCE_DIR}/plugin/win32")
  set(work "${CMAKE_BINARY_DIR}/runtime-probe")
  set(runtime_cxx "${SV_MINGW_TRIPLE}-g++-win32")
  set(nm "${SV_MINGW_TRIPLE}-nm")
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=libmingw32.a
                  OUTPUT_VARIABLE crt OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(archives "${runtime_dir}/libgcc.a" "${runtime_dir}/libgcc_eh.a" "${runtime_dir}/libstdc++.a")

  # Anything changed since the last check that passed?
  set(key "${CMAKE_CXX_COMPILER_VERSION}")
  foreach(f IN ITEMS "${src}/runtime.cpp" "${src}/runtime_layout.h" "${src}/runtime_probe.cpp"
                     "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" ${archives} "${crt}")
    file(SHA256 "${f}" h)
    string(APPEND key "${h}")
  endforeach()
  string(SHA256 key "${key}")
  if(SV_RUNTIME_CHECKED STREQUAL key)
    return()
  endif()
  file(MAKE_DIRECTORY "${work}")

  # 1. The GCC release of the build's compiler.
  file(STRINGS "${src}/runtime_layout.h" major_line REGEX "kGccMajor = [0-9]+")
  string(REGEX REPLACE ".*kGccMajor = ([0-9]+).*" "\\1" checked_major "${major_line}")
  string(REGEX REPLACE "\\..*" "" major "${CMAKE_CXX_COMPILER_VERSION}")
  if(NOT major STREQUAL checked_major)
    sv_runtime_mismatch("the compiler is GCC ${CMAKE_CXX_COMPILER_VERSION}, runtime_layout.h was read"
                        " from GCC ${checked_major}")
  endif()

  # 2. Layouts and signatures, by the runtime's own compiler.
  execute_process(COMMAND "${runtime_cxx}" -std=c++20 -fsyntax-only "-I${CMAKE_SOURCE_DIR}"
                          "${src}/runtime_probe.cpp"
                  RESULT_VARIABLE rc ERROR_VARIABLE out OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REGEX MATCHALL "[^\n]*error:[^\n]*" errors "${out}")
    list(JOIN errors "\n  " errors)
    sv_runtime_mismatch("runtime_probe.cpp does not compile with ${runtime_cxx}:\n  ${errors}")
  endif()

  # 3. The compiler's thread-local descriptors.
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

  # 4. The symbols: runtime.cpp's against the archives'.
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -std=c++20 -O1 -c "-I${CMAKE_SOURCE_DIR}"
                          -o "${work}/runtime.obj" "${src}/runtime.cpp"
                  RESULT_VARIABLE rc ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    sv_runtime_mismatch("runtime.cpp does not compile: ${out}")
  endif()
  sv_runtime_symbols("${nm}" "${work}/runtime.obj" ours_defined ours_used)
  set(entry "^___(gthr_win32|emutls)_")
  set(theirs_defined "")
  set(theirs_used "")
  foreach(archive IN LISTS archives)
    sv_runtime_symbols("${nm}" "${archive}" defined used)
    list(APPEND theirs_defined ${defined})
    list(APPEND theirs_used ${used})
  endforeach()
  list(FILTER theirs_defined INCLUDE REGEX "${entry}")
  list(FILTER theirs_used INCLUDE REGEX "${entry}")
  list(REMOVE_DUPLICATES theirs_defined)
  list(REMOVE_DUPLICATES theirs_used)
  foreach(symbol IN LISTS theirs_defined theirs_used)
    if(NOT symbol IN_LIST ours_defined)
      sv_runtime_mismatch("the runtime has the entry point ${symbol}, which runtime.cpp does not"
                          " define: the runtime's own one would be linked beside it")
    endif()
  endforeach()
  if(NOT "__imp__CreateSemaphoreW@16" IN_LIST ours_defined)
    sv_runtime_mismatch("runtime.cpp no longer takes over __imp__CreateSemaphoreW@16")
  endif()

  # The unwinder's lock: the member that registers unwind tables.
  execute_process(COMMAND "${nm}" -A "${runtime_dir}/libgcc_eh.a" OUTPUT_VARIABLE table ERROR_QUIET)
  string(REGEX MATCH "libgcc_eh\\.a:([^:\n]+):[0-9a-f]+ T ___register_frame_info\n" found "${table}")
  set(unwinder "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "libgcc_eh\\.a:${unwinder}: +U [^\n]+" unwinder_used "${table}")
  string(REGEX MATCHALL "__imp__(Create|Initialize)[A-Za-z]*(Semaphore|Mutex|Event|CriticalSection|SRWLock|ConditionVariable)[A-Za-z]*@[0-9]+"
         creators "${unwinder_used}")
  if(NOT unwinder OR NOT creators STREQUAL "__imp__CreateSemaphoreW@16")
    sv_runtime_mismatch("the unwinder (libgcc_eh.a: ${unwinder}) makes its lock through"
                        " '${creators}', not through __imp__CreateSemaphoreW@16 alone")
  endif()

  # What runtime.cpp calls of the runtime.
  sv_runtime_symbols("${nm}" "${crt}" crt_defined crt_used)
  if(NOT "___mingwthr_key_dtor" IN_LIST crt_defined)
    sv_runtime_mismatch("the C runtime (${crt}) no longer defines __mingwthr_key_dtor")
  endif()
  sv_runtime_symbols("${nm}" "${runtime_dir}/libstdc++.a" cxx_defined cxx_used)
  if(NOT "__ZN9__gnu_cxx9__freeresEv" IN_LIST cxx_defined)
    sv_runtime_mismatch("libstdc++.a no longer defines __gnu_cxx::__freeres")
  endif()

  # unwind_tables.cpp answers the start-up object's question for the shared
  # libgcc through the import slot the start-up object reads.
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=crtbegin.o
                  OUTPUT_VARIABLE crtbegin OUTPUT_STRIP_TRAILING_WHITESPACE)
  sv_runtime_symbols("${nm}" "${crtbegin}" crtbegin_defined crtbegin_used)
  if(NOT "__imp__GetModuleHandleA@4" IN_LIST crtbegin_used)
    message(FATAL_ERROR "The start-up object ${crtbegin} no longer asks for the shared libgcc"
                        " through __imp__GetModuleHandleA@4: revisit plugin/win32/unwind_tables.cpp"
                        " before building the DLL with this toolchain.")
  endif()

  set(SV_RUNTIME_CHECKED "${key}" CACHE INTERNAL "the toolchain runtime.cpp was last checked against")
  message(STATUS "The toolchain's runtime is the one plugin/win32/runtime.cpp was written for")
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
  message(FATAL_ERROR "This toolchain's C++ runtime is not the one plugin/win32/runtime.cpp was"
                      " written for:\n  ${what}\nRevisit plugin/win32/runtime.cpp (and"
                      " runtime_layout.h beside it) before building the DLL with this toolchain.")
endfunction()
