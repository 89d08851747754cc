# How Vantelo installs on a Linux desktop, and its Debian package.
#
#   cmake --install <build>            the program, desktop entry, icons,
#                                      AppStream metadata, schema, manual page
#   cpack --config <build>/CPackConfig.cmake   vantelo_<version>_amd64.deb
#
# Every file the desktop sees is named after one reverse-DNS id. The version
# and release date come from the top entry of packaging/changelog.
include(GNUInstallDirs)

set(VANTELO_ID io.github.vantelo.Vantelo)
set(VANTELO_HOMEPAGE https://github.com/vantelo/vantelo)
set(VANTELO_SCREENSHOT https://raw.githubusercontent.com/vantelo/vantelo/main/docs/main-window.png)
set(VANTELO_MAINTAINER "Vantelo developers <vantelo@users.noreply.github.com>")
set(vantelo_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(vantelo_staged ${CMAKE_BINARY_DIR}/packaging)

# "vantelo (1.0.0) unstable; ..." and " -- Name <mail>  Mon, 07 Dec 2026 ...".
file(STRINGS ${vantelo_packaging}/changelog vantelo_changelog_head LIMIT_COUNT 1)
file(STRINGS ${vantelo_packaging}/changelog vantelo_changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT vantelo_changelog_head MATCHES "^vantelo \\(([^)]+)\\)")
  message(FATAL_ERROR "packaging/changelog: no version in its first line")
endif()
set(VANTELO_VERSION ${CMAKE_MATCH_1})
if(NOT vantelo_changelog_trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no date in its first entry")
endif()
set(vantelo_day ${CMAKE_MATCH_1})
set(vantelo_year ${CMAKE_MATCH_3})
set(vantelo_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND vantelo_months ${CMAKE_MATCH_2} vantelo_month)
math(EXPR vantelo_month "${vantelo_month} + 1" OUTPUT_FORMAT DECIMAL)
if(vantelo_month LESS 10)
  set(vantelo_month 0${vantelo_month})
endif()
set(VANTELO_RELEASE_DATE ${vantelo_year}-${vantelo_month}-${vantelo_day})

# A build folder keeps the schema where the program it builds looks for it
# (<build>/share/vantelo/schema.sql beside <build>/vantelo), so that a
# program started from the build folder can make its data folder's database.
configure_file(${CMAKE_SOURCE_DIR}/resources/schema.sql ${CMAKE_BINARY_DIR}/share/vantelo/schema.sql COPYONLY)

if(NOT TARGET vantelo)
  return()
endif()

# The Exec line of the desktop entry: the bare name where the program lands on
# the search path, else its full path quoted as the entry format asks (inside
# double quotes ", `, $ and \ take a backslash, % is doubled, and the value's
# own escapes follow).
set(vantelo_bindir ${CMAKE_INSTALL_FULL_BINDIR})
if(vantelo_bindir STREQUAL "/usr/bin" OR vantelo_bindir STREQUAL "/usr/local/bin")
  set(VANTELO_DESKTOP_EXEC vantelo)
else()
  set(exec "${vantelo_bindir}/vantelo")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\"" "\\\"" exec "${exec}")
  string(REPLACE "`" "\\`" exec "${exec}")
  string(REPLACE "$" "\\$" exec "${exec}")
  string(REPLACE "%" "%%" exec "${exec}")
  string(REPLACE "\\" "\\\\" exec "\"${exec}\"")
  string(REPLACE "\n" "\\n" exec "${exec}")
  string(REPLACE "\t" "\\t" exec "${exec}")
  string(REPLACE "\r" "\\r" exec "${exec}")
  set(VANTELO_DESKTOP_EXEC "${exec}")
endif()
set(VANTELO_FULL_SCHEMA ${CMAKE_INSTALL_FULL_DATADIR}/vantelo/schema.sql)

configure_file(${vantelo_packaging}/${VANTELO_ID}.desktop.in ${vantelo_staged}/${VANTELO_ID}.desktop @ONLY)
configure_file(${vantelo_packaging}/${VANTELO_ID}.metainfo.xml.in ${vantelo_staged}/${VANTELO_ID}.metainfo.xml @ONLY)
configure_file(${vantelo_packaging}/vantelo.1 ${vantelo_staged}/vantelo.1 @ONLY)

# Debian keeps manual pages and changelogs compressed, without a time stamp.
add_custom_command(OUTPUT ${vantelo_staged}/vantelo.1.gz
  COMMAND gzip -9 -n -c ${vantelo_staged}/vantelo.1 > ${vantelo_staged}/vantelo.1.gz
  DEPENDS ${vantelo_staged}/vantelo.1 VERBATIM)
add_custom_command(OUTPUT ${vantelo_staged}/changelog.gz
  COMMAND gzip -9 -n -c ${vantelo_packaging}/changelog > ${vantelo_staged}/changelog.gz
  DEPENDS ${vantelo_packaging}/changelog VERBATIM)
add_custom_target(vantelo_packaging_files ALL
  DEPENDS ${vantelo_staged}/vantelo.1.gz ${vantelo_staged}/changelog.gz)

install(TARGETS vantelo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${vantelo_staged}/${VANTELO_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${vantelo_staged}/${VANTELO_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 48 256)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/vantelo-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${VANTELO_ID}.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/resources/schema.sql DESTINATION ${CMAKE_INSTALL_DATADIR}/vantelo)
install(FILES ${vantelo_staged}/vantelo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${vantelo_packaging}/copyright ${vantelo_staged}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantelo)

# The Debian package: shared-library dependencies computed by dpkg-shlibdeps,
# plus the fonts the windows are drawn with and the toolkit's own Chinese
# texts (its scroll-bar menus and standard buttons), which the tool loads.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantelo)
set(CPACK_PACKAGE_VERSION ${VANTELO_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantelo developers")
set(CPACK_PACKAGE_CONTACT ${VANTELO_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch file renamer that replaces text in file names")
set(CPACK_PACKAGE_DESCRIPTION "Vantelo renames many files at once by replacing a piece of text in their
names. Pick a folder, type the characters to look for and the characters to
put in their place, list every file whose name contains them, then rename
every listed file in one go.

Each file is copied to its new name first; the old files are deleted only
when every copy has succeeded and only when asked to. Nothing is ever
overwritten, and a batch that fails part-way removes what it made.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VANTELO_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VANTELO_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, fonts-dejavu-core, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
