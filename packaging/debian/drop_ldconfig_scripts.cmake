# CPack post-build script of the tools package (CPACK_POST_BUILD_SCRIPTS).
#
# CPack gives a package postinst and postrm scripts that only call ldconfig
# whenever a shared object lies one folder below /usr/lib. The plug-in
# there is loaded by path, never through the linker's cache, so they have
# nothing to do; and a postrm keeps a removed package known to dpkg (state
# "rc") until it is purged, so that `apt-get remove` would not remove it
# all. They are taken out of the finished package again; anything other
# than those generated scripts stops the build instead of being dropped.
set(sv_generated_postinst "#!/bin/sh\n\nset -e\n\nif [ \"$1\" = \"configure\" ]; then\n\tldconfig\nfi\n")
set(sv_generated_postrm "#!/bin/sh\n\nset -e\n\nif [ \"$1\" = \"remove\" ]; then\n\tldconfig\nfi\n")

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --raw-extract ${deb} failed (${rc})")
  endif()
  set(changed FALSE)
  foreach(script postinst postrm)
    set(path "${tree}/DEBIAN/${script}")
    if(EXISTS "${path}")
      file(READ "${path}" text)
      if(NOT text STREQUAL "${sv_generated_${script}}")
        message(FATAL_ERROR "${deb}: ${script} is not the ldconfig call CPack writes:\n${text}")
      endif()
      file(REMOVE "${path}")
      set(changed TRUE)
    endif()
  endforeach()
  if(changed)
    execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${deb}"
                    RESULT_VARIABLE rc OUTPUT_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dpkg-deb --build ${deb} failed (${rc})")
    endif()
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
