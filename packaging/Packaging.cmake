# The release packages, every name from the project version: on win32 the
# host ZIP, its symbols ZIP and SHA256SUMS over both (target package_host);
# natively the tools .deb (target package_tools). What each holds is listed
# where they are collected, in scripts/release.sh. They land in
# <build>/packages; `cmake --install` of either build puts the same files
# under a prefix.

# The version a block's section starts with: the file version without dots.
string(REPLACE "." "" SV_SECTION_VERSION "${PROJECT_VERSION}")

# What built the packages, for the change list: the system (the tools
# package depends on its libraries) and the compiler of this build, by its
# Debian package (Debian's mingw-w64 compilers report no minor version).
cmake_host_system_information(RESULT SV_BUILD_SYSTEM QUERY DISTRIB_PRETTY_NAME)
cmake_host_system_information(RESULT sv_system_name QUERY DISTRIB_NAME)
cmake_host_system_information(RESULT sv_system_version QUERY DISTRIB_VERSION_ID)
set(SV_TOOLS_SYSTEM "${sv_system_name} ${sv_system_version}")
set(SV_BUILD_COMPILER "GCC ${CMAKE_CXX_COMPILER_VERSION}")
file(REAL_PATH "${CMAKE_CXX_COMPILER}" sv_compiler)
execute_process(COMMAND dpkg-query --search "${sv_compiler}" OUTPUT_VARIABLE sv_compiler_package
                ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX REPLACE ":.*" "" sv_compiler_package "${sv_compiler_package}")
if(sv_compiler_package)
  execute_process(COMMAND dpkg-query "--showformat=\${Version}" --show "${sv_compiler_package}"
                  OUTPUT_VARIABLE sv_compiler_version ERROR_QUIET)
  string(REGEX REPLACE "\\..*" "" sv_major "${CMAKE_CXX_COMPILER_VERSION}")
  set(SV_BUILD_COMPILER "GCC ${sv_major} (${sv_compiler_package} ${sv_compiler_version})")
endif()

set(SV_PACKAGE_DIR "${CMAKE_BINARY_DIR}/packages")
set(SV_DOCS_DIR "${CMAKE_BINARY_DIR}/docs")
set(SV_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/make_packages.cmake")

# Texts of docs/ with the version and the builders above filled in
# (@PROJECT_VERSION@, @SV_BUILD_SYSTEM@, ...). For Windows users they get CR
# LF and a byte order mark, so that every editor there reads them as UTF-8;
# scripts for Windows get CR LF only, as some interpreters take a byte order
# mark for code.
function(sv_render_text source output style)
  set(path "${CMAKE_SOURCE_DIR}/docs/${source}")
  set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
  file(READ "${path}" text)
  # Filled in first, so that the line ends of what is filled in are
  # converted too.
  string(CONFIGURE "${text}" text @ONLY)
  set(newline LF)
  if(style STREQUAL "windows")
    string(ASCII 239 187 191 bom)
    set(text "${bom}${text}")
    set(newline CRLF)
  elseif(style STREQUAL "windows-script")
    set(newline CRLF)
  endif()
  # Rewritten only when the text changes, so the packages are not made anew.
  file(CONFIGURE OUTPUT "${SV_DOCS_DIR}/${output}" CONTENT "${text}" @ONLY NEWLINE_STYLE ${newline})
endfunction()

set(sv_sanitized FALSE)
if(CMAKE_CXX_FLAGS MATCHES "sanitize")
  set(sv_sanitized TRUE)
endif()

set(CPACK_PACKAGE_NAME "UDPSV2Simulink")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "UDPSV2Simulink")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Plug-in block that sends its inputs as UDP frames to a Simulink model")
# Staging area of CPack; the finished packages are moved to SV_PACKAGE_DIR.
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/cpack")
set(CPACK_ARCHIVE_THREADS 1)

if(CMAKE_CROSSCOMPILING AND WIN32)
  # ---- The host package --------------------------------------------------
  # Authenticode signatures on the DLL and the two programs, for whoever
  # ships them (scripts/release.sh --sign); the certificate's password comes
  # from the environment when the files are built (scripts/sign.sh).
  set(SV_SIGN_CERT "" CACHE FILEPATH "PKCS#12 file to sign the host package's files with (empty: unsigned)")
  set(SV_SIGN_TIMESTAMP "" CACHE STRING "RFC 3161 time-stamp server for the signatures (empty: none)")
  set(sv_sign "")
  if(SV_SIGN_CERT)
    set(sv_sign bash "${CMAKE_SOURCE_DIR}/scripts/sign.sh" --cert "${SV_SIGN_CERT}")
    if(SV_SIGN_TIMESTAMP)
      list(APPEND sv_sign --timestamp "${SV_SIGN_TIMESTAMP}")
    endif()
    set(SV_SIGNATURE_NOTE "Signed: UDPSV2Simulink.dll, udpsv-selftest.exe and udpsv-recv.exe
carry a digital signature (Authenticode); the tab Digital Signatures of
their Properties names the signer.

")
  else()
    set(SV_SIGNATURE_NOTE "Not signed: UDPSV2Simulink.dll, udpsv-selftest.exe and udpsv-recv.exe
carry no digital signature. Windows may warn at the programs' first
start, and Windows 11's Smart App Control, where it is on, blocks all
three; user-guide.txt, chapter 3, \"Unsigned files\", says what to do.

")
  endif()
  sv_render_text(README.txt README.txt windows)
  sv_render_text(user-guide.txt user-guide.txt windows)
  sv_render_text(support-notes.txt support-notes.txt windows)
  sv_render_text(CHANGES.txt CHANGES.txt windows)
  sv_render_text(SYMBOLS.txt SYMBOLS.txt windows)
  # The receivers the guide's quick start and MATLAB chapter use.
  set(sv_host_receivers udpsv_receive.py udpsv_receive.m)
  set(sv_host_receiver_files "")
  foreach(name IN LISTS sv_host_receivers)
    sv_render_text("receivers/${name}" "${name}" windows-script)
    list(APPEND sv_host_receiver_files "${SV_DOCS_DIR}/${name}")
  endforeach()

  # The DLL as shipped: its debug information split off into a file of its
  # own, which the stripped DLL names (.gnu_debuglink with a checksum), so
  # that a debugger or addr2line finds it for a crash address.
  set(stage "${CMAKE_BINARY_DIR}/release")
  set(sv_dll "${stage}/UDPSV2Simulink.dll")
  set(sv_dll_debug "${stage}/UDPSV2Simulink.dll.debug")
  file(MAKE_DIRECTORY "${stage}")
  # Makefiles miss a changed command: this file changes with the signing
  # settings, and the files are made anew.
  set(sv_signing "${stage}/signing.txt")
  file(CONFIGURE OUTPUT "${sv_signing}" CONTENT "${SV_SIGN_CERT} ${SV_SIGN_TIMESTAMP}\n")
  set(sv_sign_dll "")
  if(sv_sign)
    set(sv_sign_dll COMMAND ${sv_sign} "${sv_dll}")
  endif()
  add_custom_command(
    OUTPUT "${sv_dll}" "${sv_dll_debug}"
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE:UDPSV2Simulink>" "${sv_dll_debug}"
    COMMAND "${CMAKE_OBJCOPY}" --strip-all "$<TARGET_FILE:UDPSV2Simulink>" "${sv_dll}"
    # Run in the stage, so that the link names the bare file.
    COMMAND "${CMAKE_OBJCOPY}" --add-gnu-debuglink=UDPSV2Simulink.dll.debug "${sv_dll}"
    ${sv_sign_dll}
    DEPENDS UDPSV2Simulink "${sv_signing}" ${SV_SIGN_CERT}
    WORKING_DIRECTORY "${stage}"
    COMMENT "Stripping UDPSV2Simulink.dll, debug information to UDPSV2Simulink.dll.debug"
    VERBATIM)
  # Part of every build, so that `cmake --install` always finds it.
  add_custom_target(sv_release_dll ALL DEPENDS "${sv_dll}" "${sv_dll_debug}")

  # The tools for host users, stripped as the DLL is: the receiver, with the
  # live plot's chart library and its licence in a folder beside it, and the
  # self-test.
  set(sv_host_tools "")
  foreach(tool udpsv-recv udpsv-selftest)
    set(out "${stage}/${tool}.exe")
    set(sv_sign_tool "")
    if(sv_sign)
      set(sv_sign_tool COMMAND ${sv_sign} "${out}")
    endif()
    add_custom_command(
      OUTPUT "${out}"
      COMMAND "${CMAKE_OBJCOPY}" --strip-all "$<TARGET_FILE:${tool}>" "${out}"
      ${sv_sign_tool}
      DEPENDS ${tool} "${sv_signing}" ${SV_SIGN_CERT}
      COMMENT "Stripping ${tool}.exe"
      VERBATIM)
    list(APPEND sv_host_tools "${out}")
  endforeach()
  add_custom_target(sv_release_tools ALL DEPENDS ${sv_host_tools})

  set(sv_host_texts README.txt user-guide.txt support-notes.txt CHANGES.txt)
  list(TRANSFORM sv_host_texts PREPEND "${SV_DOCS_DIR}/")
  install(FILES "${sv_dll}" ${sv_host_tools} ${sv_host_texts} ${sv_host_receiver_files}
          DESTINATION . COMPONENT host)
  install(FILES ${SV_DYGRAPHS_FILES} DESTINATION dygraphs COMPONENT host)
  install(FILES "${sv_dll_debug}" "${SV_DOCS_DIR}/SYMBOLS.txt" DESTINATION . COMPONENT symbols)

  set(SV_HOST_ZIP "UDPSV2Simulink-${PROJECT_VERSION}-win32")
  set(SV_SYMBOLS_ZIP "UDPSV2Simulink-${PROJECT_VERSION}-win32-symbols")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_COMPONENTS_ALL host symbols)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  # Both archives unpack into one folder named as the host ZIP: its
  # README.txt never lands loose among the host's files, and the debug file
  # lands beside the DLL, where debuggers look for it.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME "${SV_HOST_ZIP}")
  set(CPACK_ARCHIVE_HOST_FILE_NAME "${SV_HOST_ZIP}")
  set(CPACK_ARCHIVE_SYMBOLS_FILE_NAME "${SV_SYMBOLS_ZIP}")
  include(CPack)

  add_custom_target(package_host
    COMMAND "${CMAKE_COMMAND}" "-DCPACK=${CMAKE_CPACK_COMMAND}"
            "-DCONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake"
            "-DSTAGE=${CPACK_PACKAGE_DIRECTORY}" "-DOUT=${SV_PACKAGE_DIR}"
            "-DFILES=${SV_HOST_ZIP}.zip;${SV_SYMBOLS_ZIP}.zip" -DSUMS=SHA256SUMS
            -P "${SV_PACKAGE_SCRIPT}"
    DEPENDS "${sv_dll}" "${sv_dll_debug}" ${sv_host_tools} ${SV_DYGRAPHS_FILES} ${sv_host_texts}
            "${SV_DOCS_DIR}/SYMBOLS.txt" ${sv_host_receiver_files}
    COMMENT "Host packages in ${SV_PACKAGE_DIR}"
    VERBATIM)

elseif(NOT CMAKE_CROSSCOMPILING AND NOT sv_sanitized)
  # ---- The Linux tools -----------------------------------------------------
  set(SV_TOOLS_PACKAGE udpsv-tools)
  set(SV_SHARE_DIR "${CMAKE_INSTALL_DATADIR}/udpsv2simulink")
  set(SV_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/${SV_TOOLS_PACKAGE}")
  # Debian wants an address; no mailbox stands behind the project, so it
  # lies in the reserved .invalid domain, which no mail can reach. The guide
  # says what to put in a report instead.
  set(SV_DEB_MAINTAINER "UDPSV2Simulink developers <udpsv2simulink@packages.invalid>")
  # The Windows files' signature is the host package's business.
  set(SV_SIGNATURE_NOTE "")
  sv_render_text(linux-tools.txt README unix)
  sv_render_text(user-guide.txt user-guide.txt unix)
  sv_render_text(support-notes.txt support-notes.txt unix)
  sv_render_text(CHANGES.txt CHANGES.txt unix)
  # Not shipped here, but checked with the others (tests/package/check_guide.py).
  sv_render_text(README.txt README.txt unix)
  sv_render_text(man/svhost.1 svhost.1 unix)
  sv_render_text(man/udpsv-recv.1 udpsv-recv.1 unix)
  # The Debian changelog, dated by the build (or SOURCE_DATE_EPOCH).
  string(TIMESTAMP SV_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in" "${SV_DOCS_DIR}/changelog" @ONLY)

  # Debian keeps manual pages and changelogs compressed, and without the
  # time stamp that would make every build's package differ.
  set(sv_gzipped "")
  foreach(name IN ITEMS svhost.1 udpsv-recv.1 changelog)
    add_custom_command(
      OUTPUT "${SV_DOCS_DIR}/${name}.gz"
      COMMAND gzip -9 -n -f -k "${SV_DOCS_DIR}/${name}"
      DEPENDS "${SV_DOCS_DIR}/${name}"
      VERBATIM)
    list(APPEND sv_gzipped "${SV_DOCS_DIR}/${name}.gz")
  endforeach()
  # Part of every build, so that `cmake --install` always finds them.
  add_custom_target(sv_tools_docs ALL DEPENDS ${sv_gzipped})

  install(TARGETS svhost udpsv-recv RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT tools)
  # The native library is a plug-in, loaded by path: a folder of its own
  # rather than the linker's search path. svhost looks there by itself.
  install(TARGETS UDPSV2Simulink LIBRARY DESTINATION "${SV_PLUGIN_INSTALL_DIR}" COMPONENT tools)
  set(sv_tools_texts README user-guide.txt support-notes.txt CHANGES.txt)
  list(TRANSFORM sv_tools_texts PREPEND "${SV_DOCS_DIR}/")
  install(FILES ${sv_tools_texts} "${SV_DOCS_DIR}/changelog.gz"
                "${CMAKE_CURRENT_LIST_DIR}/debian/copyright"
          DESTINATION "${SV_DOC_DIR}" COMPONENT tools)
  install(FILES "${SV_DOCS_DIR}/svhost.1.gz" "${SV_DOCS_DIR}/udpsv-recv.1.gz"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT tools)
  # The receiving side's files: the guide's receivers, as svhost prints them
  # for a new block (kept equal by tests/package/check_guide.py), and the
  # Wireshark dissector.
  file(GLOB sv_receivers CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/docs/receivers/*")
  install(FILES ${sv_receivers} DESTINATION "${SV_SHARE_DIR}/recipes" COMPONENT tools)
  install(FILES "${CMAKE_SOURCE_DIR}/receiving/wireshark/udpsv.lua" DESTINATION "${SV_SHARE_DIR}/wireshark"
          COMPONENT tools)

  set(CPACK_GENERATOR DEB)
  set(CPACK_COMPONENTS_ALL tools)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX "${SV_PACKAGE_PREFIX}")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME "${SV_TOOLS_PACKAGE}")
  set(CPACK_DEBIAN_TOOLS_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SV_DEB_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Linux tools for the UDPSV2Simulink plug-in block")
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION
      "svhost drives the plug-in block as its host does, udpsv-recv receives
and decodes the block's UDP frames, and the native build of the block runs
on Linux. With the receiving side's recipes and a Wireshark dissector.")
  # Users of the tools need no debug information.
  set(CPACK_STRIP_FILES ON)
  # Without the maintainer scripts CPack adds for the plug-in's folder.
  set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/debian/drop_ldconfig_scripts.cmake")
  # The libraries the programs link come from dpkg-shlibdeps and are added to
  # these; dygraphs is what udpsv-recv serves for its live plot, read at run
  # time. What only the receiving side's files use is suggested.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libjs-dygraphs")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS
      "python3, octave-instrument-control, tshark | wireshark")
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE sv_deb_arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT sv_deb_arch)
    set(sv_deb_arch amd64)
  endif()
  set(SV_TOOLS_DEB "${SV_TOOLS_PACKAGE}_${PROJECT_VERSION}_${sv_deb_arch}.deb")
  include(CPack)

  add_custom_target(package_tools
    COMMAND "${CMAKE_COMMAND}" "-DCPACK=${CMAKE_CPACK_COMMAND}"
            "-DCONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake"
            "-DSTAGE=${CPACK_PACKAGE_DIRECTORY}" "-DOUT=${SV_PACKAGE_DIR}"
            "-DFILES=${SV_TOOLS_DEB}"
            -P "${SV_PACKAGE_SCRIPT}"
    DEPENDS svhost udpsv-recv UDPSV2Simulink ${sv_tools_texts} ${sv_gzipped}
    COMMENT "Tools package in ${SV_PACKAGE_DIR}"
    VERBATIM)
endif()
