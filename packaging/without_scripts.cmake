# Run by CPack once it has written the Debian package (CPACK_POST_BUILD_SCRIPTS):
# takes out the maintainer scripts CPack adds to any package with a shared
# object under /usr/lib (ldconfig calls). Tarnvale's plug-ins are loaded by
# hosts from /usr/lib/vst and /usr/lib/lv2, never by the dynamic linker, and
# a package with a postrm stays behind in state "rc" after apt remove. The
# package is rebuilt from its own contents, control file and md5sums as
# CPack wrote them.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/without-scripts")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${deb}")
  endif()
  file(REMOVE "${tree}/DEBIAN/preinst" "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/prerm" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${tree}" "${deb}"
    RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot rebuild ${deb}")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
