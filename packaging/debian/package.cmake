# The Debian package: `cpack --preset deb` (after `cmake --build --preset deb`) writes
# velmora_VERSION_ARCH.deb into build/deb from the project's install rules: velmora, the
# plug-in and the platform library in /usr/lib/velmora, the CUPS filter and the PPD in
# CUPS's folders, the printer application with its systemd unit, and the manual pages.
# The programs look for each other where CMAKE_INSTALL_PREFIX says, so the package is
# made from a tree configured with the prefix /usr (the deb preset).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora PXL maintainers <maintainers@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PJL + PCL XL printing through the Velmora PXL rendering plug-in")
# Debian's control file keeps the description's lines as they are: they are kept short.
set(CPACK_PACKAGE_DESCRIPTION
    "The Velmora PXL rendering plug-in with its Linux print host: velmora prints PDF
and PostScript to PJL + PCL XL printers (held and PIN jobs, watermarks, overlays,
N-up and booklets) and administers the printer store; a CUPS filter and PPD make
CUPS queues for those printers; velmora-printer-app makes them IPP Everywhere
printers.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries come from dpkg-shlibdeps; Ghostscript renders every document. The
# platform library is the package's own, found through the programs' run paths.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/lib/velmora)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ghostscript")
# The CUPS queues need cupsd; the printer application announces its printers through Avahi;
# text watermarks in Times New Roman or Arial find metric-compatible faces in Liberation.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-daemon, avahi-daemon, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/prerm ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CUPS's folders are absolute install destinations: they go into the package, never into
# the machine that makes it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})

# Debian policy asks every package for its copyright file and, compressed with gzip -9n,
# its Debian changelog in /usr/share/doc/PACKAGE. The changelog's date is the
# configuration's (SOURCE_DATE_EPOCH when set, for a reproducible package).
include(GNUInstallDirs)
string(TIMESTAMP VELMORA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
find_program(VELMORA_GZIP gzip)
if(VELMORA_GZIP)
  execute_process(COMMAND ${VELMORA_GZIP} -9nf ${PROJECT_BINARY_DIR}/debian/changelog.Debian
                  RESULT_VARIABLE gzipped)
  if(gzipped EQUAL 0)
    install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
include(CPack)
