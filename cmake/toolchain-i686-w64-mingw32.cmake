# Cross build of the product: 32-bit Windows with mingw-w64 (posix thread
# model, so test and host code may use std::thread; everything is linked
# statically, so no runtime DLL of the toolchain is ever needed).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(SV_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${SV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SV_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${SV_MINGW_TRIPLE}-ar)
set(CMAKE_RANLIB ${SV_MINGW_TRIPLE}-ranlib)
set(CMAKE_OBJDUMP ${SV_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${SV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here run under Wine, in a prefix of the build tree
# that scripts/wine-prefix.sh creates on first use.
get_filename_component(_sv_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT DEFINED SV_WINEPREFIX)
  set(SV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${_sv_source_root}/scripts/wine-prefix.sh;run;${SV_WINEPREFIX}")
