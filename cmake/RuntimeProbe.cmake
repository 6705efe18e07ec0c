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
#     __imp__GetModuleHandleA@4, the slot unwind_tables.cpp takes over, and by
#     the file name unwind_tables.cpp answers for;
#   - one thread model: objects compiled with sv_link_with_runtime's flag
#     and the runtime they link carry the same model in their compiler's
#     mark (GCC's ".ident", e.g. "GCC: (GNU) 12-win32"), and so does the DLL
#     after every link. A header of one model over the library of the other
#     corrupts memory silently (GCC 12: std::filebuf is 104 bytes in one
#     and 108 in the other).
# The GCC releases whose DLL passed the reload and shared-runtime tests are
# listed here; plugin/win32/runtime.md says what to do for another one.
set(SV_RUNTIME_CHECKED_GCC 12 14)

# runtime_dir: the folder of the runtime of the "win32" thread model.
function(sv_check_runtime runtime_dir)
  set(src "${CMAKE_SOURCE_DIR}/plugin/win32")
  set(work "${CMAKE_BINARY_DIR}/runtime-probe")
  set(nm "${SV_MINGW_TRIPLE}-nm")
  foreach(name libmingw32.a libmingwex.a dllcrt2.o crtbegin.o)
    execute_process(COMMAND "${CMAKE_CXX_COMPILER}" "-B${runtime_dir}/" -print-file-name=${name}
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
  foreach(f IN ITEMS "${src}/runtime.cpp" "${src}/unwind_tables.cpp"
                     "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" ${archives} "${dllcrt2}" "${crtbegin}")
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
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" "-B${runtime_dir}/" -std=c++20 -O1 -c
                          -o "${work}/runtime.obj" "${src}/runtime.cpp"
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
  file(STRINGS "${src}/unwind_tables.cpp" answered REGEX "kSharedLibgcc\\[\\] = \"[^\"]+\"")
  string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" answered "${answered}")
  file(STRINGS "${crtbegin}" asked REGEX "^lib[A-Za-z0-9_+-]*\\.dll$")
  if(NOT answered OR NOT answered IN_LIST asked)
    sv_runtime_mismatch("the start-up object ${crtbegin} asks for the shared libgcc as"
                        " \"${asked}\", and plugin/win32/unwind_tables.cpp answers for"
                        " \"${answered}\"")
  endif()

  # One thread model for the DLL's objects and its runtime.
  sv_thread_models(models "${work}/runtime.obj" "${runtime_dir}/libstdc++.a" "${crtbegin}")
  list(LENGTH models n)
  list(JOIN models ", " models)
  if(NOT n EQUAL 1)
    sv_runtime_mismatch("objects compiled for the DLL and its runtime in ${runtime_dir} carry the"
                        " thread models \"${models}\" in their compiler's mark, not one")
  endif()

  set(SV_RUNTIME_CHECKED "${key}" CACHE INTERNAL "the toolchain runtime.cpp was last checked against")
  message(STATUS "The toolchain's runtime offers what plugin/win32/runtime.cpp relies on")
endfunction()

# The thread models ("posix", "win32") named by the compiler's marks in the
# files: GCC writes its version into every object, and Debian's mingw-w64
# builds name their thread model in it ("GCC: (GNU) 14-win32").
function(sv_thread_models out)
  set(models "")
  foreach(f IN LISTS ARGN)
    file(STRINGS "${f}" marks REGEX "GCC: \\(GNU\\) [^ ]*-(posix|win32)")
    foreach(mark IN LISTS marks)
      string(REGEX REPLACE ".*GCC: \\(GNU\\) [^ ]*-(posix|win32).*" "\\1" model "${mark}")
      list(APPEND models "${model}")
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES models)
  set(${out} "${models}" PARENT_SCOPE)
endfunction()

# sv_link_with_runtime(<target> <runtime dir> <library>...): links <target>
# with the libraries and every library they use, their objects compiled
# again against the headers of the runtime in <runtime dir>, which <target>
# links too; the objects linked into the programs keep the compiler's own
# model. After each link the target's objects must all carry the runtime's
# model (cmake -P this file).
function(sv_link_with_runtime target runtime_dir)
  set(flag "-B${runtime_dir}/")
  set(todo ${ARGN})
  set(seen "")
  set(system "")
  while(todo)
    list(POP_FRONT todo lib)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
    if(lib IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${lib}")
    if(NOT TARGET "${lib}")
      list(APPEND system "${lib}")
      continue()
    endif()
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(more ${lib} ${prop})
      if(more)
        list(APPEND todo ${more})
      endif()
    endforeach()
    target_include_directories(${target} PRIVATE
                               $<TARGET_PROPERTY:${lib},INTERFACE_INCLUDE_DIRECTORIES>)
    get_target_property(type ${lib} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    get_target_property(dir ${lib} SOURCE_DIR)
    get_target_property(sources ${lib} SOURCES)
    list(TRANSFORM sources PREPEND "${dir}/" REGEX "^[^/$]")
    set(twin ${lib}_of_${target})
    add_library(${twin} OBJECT ${sources})
    target_include_directories(${twin} PRIVATE $<TARGET_PROPERTY:${lib},INCLUDE_DIRECTORIES>)
    target_compile_definitions(${twin} PRIVATE $<TARGET_PROPERTY:${lib},COMPILE_DEFINITIONS>)
    target_compile_options(${twin} PRIVATE $<TARGET_PROPERTY:${lib},COMPILE_OPTIONS> "${flag}")
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${twin}>)
  endwhile()
  target_link_libraries(${target} PRIVATE ${system})
  target_compile_options(${target} PRIVATE "${flag}")
  target_link_options(${target} PRIVATE "${flag}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DSV_THREAD_MODEL_OF=$<TARGET_FILE:${target}>"
            -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    VERBATIM)
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

# After a link (see sv_link_with_runtime): one thread model in the file, or
# the file is removed, so that no later build takes it for checked.
if(CMAKE_SCRIPT_MODE_FILE AND SV_THREAD_MODEL_OF)
  sv_thread_models(models "${SV_THREAD_MODEL_OF}")
  list(LENGTH models n)
  list(JOIN models ", " models)
  if(NOT n EQUAL 1)
    file(REMOVE "${SV_THREAD_MODEL_OF}")
    message(FATAL_ERROR "${SV_THREAD_MODEL_OF} holds objects of the thread models"
                        " \"${models}\", not of one (cmake/RuntimeProbe.cmake); it was removed")
  endif()
endif()
