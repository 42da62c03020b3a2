# Installing Zeza as a desktop program (cmake --install) and the Debian package (cpack).
#
#   bin/Zeza, bin/zeza (launcher: runs Zeza in $XDG_DATA_HOME/zeza), bin/zeza-dataserver
#   lib/zeza/zeza_webpane.so   the full browser, where built (installed by web/CMakeLists.txt)
#   share/applications/<id>.desktop, share/metainfo/<id>.metainfo.xml
#   share/icons/hicolor/{16x16,24x24,32x32,48x48}/apps/<id>.png, .../scalable/apps/<id>.svg
#   share/zeza-dataserver/sample-data/   the sample data, for a server started with --data
#   lib/systemd/user/zeza-dataserver.service (prefix /usr or /usr/local), else
#   share/systemd/user/ (where a user manager finds units of ~/.local)
#
# The desktop entry and the unit name absolute paths, so they are written when installing,
# for the prefix of that install (cmake --install --prefix ~/.local included).
include(GNUInstallDirs)

set(ZEZA_APP_ID "org.zeza.Zeza" CACHE STRING
    "Desktop entry and AppStream id (names the desktop file, the metainfo and the icons)")
set(_desktop_src ${PROJECT_SOURCE_DIR}/resources/desktop)
set(_desktop_gen ${CMAKE_BINARY_DIR}/generated/desktop)
set(ZEZA_PACKAGE_MAINTAINER "Zeza developers <zeza@example.org>" CACHE STRING
    "Maintainer field of the Debian package: name <address>")

install(TARGETS zeza-dataserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/server/sample-data/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zeza-dataserver/sample-data)

# The programs link only system libraries: no search path of their own once installed.
set_target_properties(zeza-dataserver PROPERTIES INSTALL_RPATH "")

if(ZEZA_BUILD_GUI)
  set_target_properties(Zeza PROPERTIES INSTALL_RPATH "")
  install(TARGETS Zeza RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(PROGRAMS ${_desktop_src}/zeza DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(size 16 24 32 48)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/images/icon-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${ZEZA_APP_ID}.png)
  endforeach()
  install(FILES ${_desktop_src}/zeza.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${ZEZA_APP_ID}.svg)
  configure_file(${_desktop_src}/zeza.metainfo.xml.in ${_desktop_gen}/${ZEZA_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${_desktop_gen}/${ZEZA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Written at install time: CMAKE_INSTALL_PREFIX is then the prefix of this install.
install(CODE "
  set(_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(ZEZA_APP_ID \"${ZEZA_APP_ID}\")
  set(ZEZA_LAUNCHER \"\${_prefix}/${CMAKE_INSTALL_BINDIR}/zeza\")
  set(ZEZA_SERVER_PROGRAM \"\${_prefix}/${CMAKE_INSTALL_BINDIR}/zeza-dataserver\")
  set(ZEZA_SAMPLE_DATA \"\${_prefix}/${CMAKE_INSTALL_DATADIR}/zeza-dataserver/sample-data\")
  if(_prefix MATCHES \"^/usr(/local)?/*$\")
    set(_unit_dir \"\${_prefix}/lib/systemd/user\")
  else()
    set(_unit_dir \"\${_prefix}/${CMAKE_INSTALL_DATADIR}/systemd/user\")
  endif()
  configure_file(\"${_desktop_src}/zeza-dataserver.service.in\"
                 \"${_desktop_gen}/zeza-dataserver.service\" @ONLY)
  file(INSTALL DESTINATION \"\${_unit_dir}\" TYPE FILE FILES \"${_desktop_gen}/zeza-dataserver.service\")
")
if(ZEZA_BUILD_GUI)
  install(CODE "
    configure_file(\"${_desktop_src}/zeza.desktop.in\" \"${_desktop_gen}/${ZEZA_APP_ID}.desktop\" @ONLY)
    file(INSTALL DESTINATION \"\${_prefix}/${CMAKE_INSTALL_DATADIR}/applications\" TYPE FILE
         FILES \"${_desktop_gen}/${ZEZA_APP_ID}.desktop\")
  ")
endif()

# Only in the Debian package (component "package", which a plain cmake --install skips):
# the marker that tells the program not to replace its own file, and the package's
# documentation files.
install(FILES ${_desktop_src}/package-install DESTINATION ${CMAKE_INSTALL_DATADIR}/zeza
        COMPONENT package EXCLUDE_FROM_ALL)
install(FILES ${_desktop_src}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeza
        COMPONENT package EXCLUDE_FROM_ALL)
set(_deb_release 1)
string(TIMESTAMP _changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${_desktop_gen}/changelog.Debian
     "zeza (${PROJECT_VERSION}-${_deb_release}) unstable; urgency=medium\n\n"
     "  * Built from the Zeza sources with CPack (scripts/package).\n\n"
     " -- ${ZEZA_PACKAGE_MAINTAINER}  ${_changelog_date}\n")
execute_process(COMMAND gzip -9nf ${_desktop_gen}/changelog.Debian)
install(FILES ${_desktop_gen}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeza
        COMPONENT package EXCLUDE_FROM_ALL)

# The Debian package: one package holding everything above, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeza)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zeza developers")
set(CPACK_PACKAGE_CONTACT "${ZEZA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop assistant for investors in Chinese mutual funds")
set(CPACK_PACKAGE_DESCRIPTION "\
Zeza keeps the catalogue of Chinese open-end mutual funds, their latest
published net values and the intraday estimates in a local database,
refreshed from its data server about once an hour, and shows the profit
and loss of your holdings and your watch list.

The package also carries its data server zeza-dataserver, which relays
public fund data, with a systemd user unit, and the server's sample data.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${_deb_release})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the programs' own links (dpkg-shlibdeps); the Chinese
# translations of Qt's standard dialogs are loaded at run time, so they are named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
# Everything a plain install puts down, plus the package-only component.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Zeza;ALL;/;${CMAKE_BINARY_DIR};Zeza;package;/")
include(CPack)
