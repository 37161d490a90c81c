# The Debian package tessaly_VERSION_ARCH.deb, made by CPack's DEB generator from the install
# rules below when TESSALY_PACKAGE is on (scripts/package.sh: a Release build in
# build-package/). Off, the build needs none of the packaging tools.
#
# Contents: /usr/bin/tessaly; /etc/tessaly/tessaly.toml (a conffile); the units
# /lib/systemd/system/tessaly.service and tessaly.socket; the man page tessaly(1), written at build time by
# help2man from the program's own help; the changelog and copyright in /usr/share/doc/tessaly
# with the demo's home page as an example. The maintainer scripts create the system user and
# the site's folders, and never a database.
option(TESSALY_PACKAGE "Build the man page and set up CPack for the Debian package" OFF)
if(NOT TESSALY_PACKAGE)
  return()
endif()

find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${PROJECT_BINARY_DIR}/packaging)
set(maintainer "Tessaly maintainers <tessaly@example.org>")

# Debian wants its documentation compressed with -9n (no name or time stamp in the file).
add_custom_command(
  OUTPUT ${staged}/tessaly.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${staged}
  COMMAND ${packaging}/man-page.sh $<TARGET_FILE:tessaly> ${staged}/tessaly.1
  COMMAND ${GZIP} -9nf ${staged}/tessaly.1
  DEPENDS tessaly ${packaging}/man-page.sh
  COMMENT "Writing the man page tessaly(1) from tessaly --help")

# The changelog's date is the source's (SOURCE_DATE_EPOCH, set by scripts/package.sh), so
# that two builds of one commit give the same package.
string(TIMESTAMP TESSALY_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${maintainer}")
configure_file(${packaging}/debian/changelog.in ${staged}/changelog @ONLY)
add_custom_command(
  OUTPUT ${staged}/changelog.gz
  COMMAND ${GZIP} -9nc ${staged}/changelog > ${staged}/changelog.gz
  DEPENDS ${staged}/changelog)
add_custom_target(package_documents ALL DEPENDS ${staged}/tessaly.1.gz ${staged}/changelog.gz)

install(TARGETS tessaly RUNTIME DESTINATION bin)
install(FILES ${staged}/tessaly.1.gz DESTINATION share/man/man1)
install(FILES ${staged}/changelog.gz ${packaging}/debian/copyright
        DESTINATION share/doc/tessaly)
install(FILES ${PROJECT_SOURCE_DIR}/demo/site/index.shtml
        DESTINATION share/doc/tessaly/examples/site)
# Outside the /usr prefix: CPack stages them through DESTDIR.
install(FILES ${packaging}/tessaly.toml DESTINATION /etc/tessaly)
install(FILES ${packaging}/tessaly.service ${packaging}/tessaly.socket
        DESTINATION /lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${maintainer}")
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "site log board with its own web server
Tessaly publishes a web site's short dated announcements, shows each of them
in full, offers an embeddable block of the newest ones and gives the
administrator a browser admin area for entries and pictures. It is one program
with its own web server; the entries live in a SQLite file inside the site
folder.
.
This package runs it as the systemd service tessaly.service under its own
system user. The database is created by the administrator with tessaly init;
the package's scripts never create, change or remove it.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${packaging}/debian/postinst ${packaging}/debian/prerm ${packaging}/debian/postrm
    ${packaging}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
