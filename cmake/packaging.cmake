# Installation and packages (CPack; scripts/test makes them into
# <build>/packages):
#   Linux    .tar.gz and .deb: bin/tovrin, the manual page (gzip -9n) and in
#            share/doc/tovrin the README, the license as "copyright" and the
#            changelog (changelog.gz); the .deb alone has the changelog in
#            Debian's form (changelog.Debian.gz: component "debian", which
#            neither `cmake --install` nor the .tar.gz installs).
#   Windows  .zip: Tovrin.exe, README.md, LICENSE and CHANGELOG.md at its top.
# The version is the project version everywhere.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/debian-changelog.cmake)

set(TOVRIN_MAINTAINER "Tovrin Motion Controls <support@tovrin.invalid>")
set(TOVRIN_DEBIAN_REVISION 1)
set(generated ${CMAKE_CURRENT_BINARY_DIR}/generated)

# The Debian changelog, and the release date of this version for the manual.
tovrin_debian_changelog(${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md ${generated}/changelog.Debian
                        tovrin ${PROJECT_VERSION} ${TOVRIN_DEBIAN_REVISION}
                        "${TOVRIN_MAINTAINER}" TOVRIN_RELEASE)
configure_file(doc/tovrin.1.in ${generated}/tovrin.1 @ONLY)

if(WIN32)
  install(TARGETS tovrin RUNTIME DESTINATION .)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
  # The schema of the run records (-r), for the programs that read them.
  install(FILES record/record.schema.json DESTINATION share/tovrin)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # Compressed as Debian wants them: best compression, no name or time stamp.
  find_program(TOVRIN_GZIP gzip REQUIRED)
  configure_file(CHANGELOG.md ${generated}/changelog COPYONLY)
  set(compressed)
  foreach(name tovrin.1 changelog changelog.Debian)
    add_custom_command(OUTPUT ${generated}/${name}.gz
                       COMMAND ${TOVRIN_GZIP} -9nkf ${generated}/${name}
                       DEPENDS ${generated}/${name} VERBATIM)
    list(APPEND compressed ${generated}/${name}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})

  install(TARGETS tovrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${generated}/tovrin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  # The schema of the run records (-r), for the programs that read them.
  install(FILES record/record.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/tovrin)
  install(FILES ${generated}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT debian EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR TGZ DEB)
  # The .deb takes the Debian file besides everything installed by default.
  set(CPACK_PROJECT_CONFIG_FILE ${generated}/cpack-generators.cmake)
  file(WRITE ${generated}/cpack-generators.cmake
       "if(CPACK_GENERATOR STREQUAL \"DEB\")\n"
       "  set(CPACK_INSTALL_CMAKE_PROJECTS \"${CMAKE_BINARY_DIR};tovrin;ALL;/;"
       "${CMAKE_BINARY_DIR};tovrin;debian;/\")\n"
       "endif()\n")
endif()

set(CPACK_PACKAGE_NAME tovrin)
set(CPACK_PACKAGE_VENDOR "Tovrin Motion Controls")
set(CPACK_PACKAGE_CONTACT "${TOVRIN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ethernet firmware loader for KV720 motor drives")
set(CPACK_PACKAGE_DESCRIPTION
    "Tovrin talks to the boot monitor of KV720 motor drives over UDP on the\n"
    "local network. It programs a firmware file into a drive, verifies a file\n"
    "against the digest the drive reports, shows the drive's unit identity and\n"
    "lists the drives it finds on the LAN.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TOVRIN_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(TOVRIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TOVRIN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
include(CPack)
