# The Debian package of the window and the command line: install rules and
# CPack's DEB generator. scripts/package.sh builds it.
#
# Included after the programs' targets are defined, so that `actionlog` goes
# in only where it is built.

set(ACTIONLOG_PACKAGE actionlog)
# The project's addresses, here only: the maintainer, the AppStream ID (the
# reversed web domain; it must stay the same from release to release) and the
# home page, under which the screenshot is published.
set(ACTIONLOG_MAINTAINER "The ActionLog developers <actionlog@example.org>")
set(ACTIONLOG_APPSTREAM_ID "org.example.ActionLog")
set(ACTIONLOG_HOMEPAGE "https://example.org/actionlog")

# The release date: the last commit's, through SOURCE_DATE_EPOCH, so that the
# same sources make the same package.
string(TIMESTAMP ACTIONLOG_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ACTIONLOG_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(ACTIONLOG_PROGRAMS ActionLog)
set(ACTIONLOG_PROVIDES_CLI "")
if(TARGET actionlog)
  list(APPEND ACTIONLOG_PROGRAMS actionlog)
  set(ACTIONLOG_PROVIDES_CLI "    <binary>actionlog</binary>\n")
endif()

set(packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
set(ACTIONLOG_METAINFO ${ACTIONLOG_APPSTREAM_ID}.metainfo.xml)
configure_file(${packaging_src}/actionlog.metainfo.xml.in ${packaging_out}/${ACTIONLOG_METAINFO} @ONLY)
configure_file(${packaging_src}/changelog.in ${packaging_out}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/README.md ${packaging_out}/README.md COPYONLY)
set(gzipped changelog README.md)
foreach(program IN LISTS ACTIONLOG_PROGRAMS)
  configure_file(${packaging_src}/${program}.1.in ${packaging_out}/${program}.1 @ONLY)
  list(APPEND gzipped ${program}.1)
endforeach()
# What the package test expects to find.
string(REPLACE ";" "\n" programs_lines "${ACTIONLOG_PROGRAMS}")
file(WRITE ${packaging_out}/programs.txt "${programs_lines}\n")
file(WRITE ${packaging_out}/metainfo.txt "${ACTIONLOG_METAINFO}\n")

# Manual pages and documents are shipped compressed at the highest level,
# without the name and time stamp that would make each build differ.
set(gzipped_files "")
foreach(name IN LISTS gzipped)
  add_custom_command(OUTPUT ${packaging_out}/${name}.gz
    COMMAND gzip -9nkf ${packaging_out}/${name}
    DEPENDS ${packaging_out}/${name}
    VERBATIM)
  list(APPEND gzipped_files ${packaging_out}/${name}.gz)
endforeach()
# Everything the package holds; scripts/package.sh builds this before CPack.
add_custom_target(package_contents ALL DEPENDS ${gzipped_files})
add_dependencies(package_contents ${ACTIONLOG_PROGRAMS})
# CPack installs what package_contents built, without building the tools and
# benchmarks as well.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(doc_dir share/doc/${ACTIONLOG_PACKAGE})
install(TARGETS ${ACTIONLOG_PROGRAMS} RUNTIME DESTINATION bin)
install(FILES ${packaging_src}/actionlog.desktop DESTINATION share/applications)
install(FILES ${packaging_src}/actionlog.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${packaging_out}/${ACTIONLOG_METAINFO} DESTINATION share/metainfo)
foreach(program IN LISTS ACTIONLOG_PROGRAMS)
  install(FILES ${packaging_out}/${program}.1.gz DESTINATION share/man/man1)
endforeach()
install(FILES ${packaging_out}/README.md.gz ${packaging_out}/changelog.gz ${packaging_src}/copyright
  DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ACTIONLOG_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The ActionLog developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME ${ACTIONLOG_PACKAGE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ACTIONLOG_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link to, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[read the user actions log out of a metering device
A desktop tool for field engineers: it reads the user actions log out of a
metering device over a serial line (RS-485 or a USB adapter, Modbus RTU,
the tool is the master), shows it in a grid and saves it to a text file.
The window ActionLog is found in the desktop menu under Utilities and
Engineering; the command actionlog does the same from a shell.

Users who open serial ports must be members of the dialout group
(sudo usermod -aG dialout USER, then log in again); installing the
package does not change any group.]=])
include(CPack)
