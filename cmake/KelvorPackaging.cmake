# Installation and the Debian package.
#
# `cmake --install <build>` lays out an installation under CMAKE_INSTALL_PREFIX
# (/opt/kelvor unless given): bin/ (kelvor, kelvord), tasks/dbtasks/, logs/,
# reports/, conf/ (server.ini, never replaced once there) and data/. With
# KELVOR_INSTALL_SYSTEM_FILES (on by default) the systemd unit, desktop entry,
# icon and man pages go where the system looks for them; off, they stay under
# the prefix's share/. `cpack -G DEB` (scripts/package) packs the same
# installation with the maintainer scripts of packaging/debian/.

option(KELVOR_INSTALL_SYSTEM_FILES
  "Install the systemd unit, desktop entry, icon and man pages into the system's folders" ON)

set(KELVOR_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(kelvor_packaging "${CMAKE_SOURCE_DIR}/packaging")
set(kelvor_generated "${CMAKE_BINARY_DIR}/packaging")

if(KELVOR_INSTALL_SYSTEM_FILES)
  set(kelvor_unit_dir /lib/systemd/system)
  set(kelvor_share_dir /usr/share)
else()
  set(kelvor_unit_dir share/systemd)
  set(kelvor_share_dir share)
endif()

# Files that name the installation's folder.
configure_file(${kelvor_packaging}/kelvord.service.in ${kelvor_generated}/kelvord.service @ONLY)
configure_file(${kelvor_packaging}/kelvor.desktop.in ${kelvor_generated}/kelvor.desktop @ONLY)
foreach(script postinst prerm postrm)
  configure_file(${kelvor_packaging}/debian/${script}.in ${kelvor_generated}/debian/${script}
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
endforeach()
configure_file(${kelvor_packaging}/debian/conffiles.in ${kelvor_generated}/debian/conffiles @ONLY)

# Man pages, compressed as Debian keeps them.
set(kelvor_manpages)
foreach(page kelvord kelvor)
  configure_file(${kelvor_packaging}/${page}.1.in ${kelvor_generated}/${page}.1 @ONLY)
  add_custom_command(
    OUTPUT ${kelvor_generated}/${page}.1.gz
    COMMAND gzip -9 -n -c ${kelvor_generated}/${page}.1 > ${kelvor_generated}/${page}.1.gz
    DEPENDS ${kelvor_generated}/${page}.1 ${kelvor_packaging}/${page}.1.in
    VERBATIM)
  list(APPEND kelvor_manpages ${kelvor_generated}/${page}.1.gz)
endforeach()
add_custom_target(kelvor_manpages ALL DEPENDS ${kelvor_manpages})

# The installation.
install(TARGETS kelvord RUNTIME DESTINATION bin)
if(KELVOR_BUILD_GUI)
  install(TARGETS kelvor RUNTIME DESTINATION bin)
endif()
foreach(folder tasks/dbtasks logs reports conf data)
  install(DIRECTORY DESTINATION ${folder})
endforeach()
# An operator's server.ini is kept: it is installed only where there is none
# (a package is always packed from an empty folder, where dpkg keeps the
# operator's copy as a configuration file instead).
install(CODE "
  set(kelvor_ini \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/conf/server.ini\")
  if(NOT EXISTS \"\${kelvor_ini}\")
    file(INSTALL \"${kelvor_packaging}/server.ini\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/conf\")
  endif()")
install(FILES ${kelvor_generated}/kelvord.service DESTINATION ${kelvor_unit_dir})
install(FILES ${kelvor_manpages} DESTINATION ${kelvor_share_dir}/man/man1)
if(KELVOR_BUILD_GUI)
  install(FILES ${kelvor_generated}/kelvor.desktop DESTINATION ${kelvor_share_dir}/applications)
  install(FILES ${kelvor_packaging}/kelvor.svg
    DESTINATION ${kelvor_share_dir}/icons/hicolor/scalable/apps)
endif()

# The Debian package: the runtime libraries the programs link come from
# dpkg-shlibdeps (Qt 6 base, SQLite, unixODBC, the C++ runtime).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kelvor")
set(CPACK_PACKAGE_CONTACT "Kelvor developers <kelvor@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps tables of one database in step with another")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Kelvor copies rows between databases by tasks: a source and a destination\n"
  "(SQLite, or PostgreSQL, SQL Server, MariaDB, Access, Oracle and DB2 through\n"
  "ODBC), an insert, update or mirror operation with a field map, or a script,\n"
  "and a schedule. Each run applies its rows in one transaction that commits\n"
  "only when every statement succeeded.\n"
  "The package holds the desktop window (kelvor) and the service without a\n"
  "window (kelvord) with a systemd unit that is installed but not enabled.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# adduser for the service's user; the window needs Qt's platform plugins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
if(KELVOR_BUILD_GUI)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "unixodbc, odbc-postgresql, odbc-mariadb, tdsodbc, odbc-mdbtools, sqlite3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${kelvor_generated}/debian/postinst ${kelvor_generated}/debian/prerm
  ${kelvor_generated}/debian/postrm ${kelvor_generated}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
