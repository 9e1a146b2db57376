# What `cmake --install build --prefix PREFIX` puts where, and the .deb that
# `cpack -G DEB` makes from the same rules (prefix /usr). Nothing is written outside the
# prefix: the desktop's menu and icon caches are the package manager's business.
#   PREFIX/bin/voryx
#   PREFIX/share/voryx/                      the shipped database and the string tables
#                                            (the binary looks for them at ../share/voryx)
#   PREFIX/share/man/man1/voryx.1.gz         when help2man is there at build time
#   PREFIX/share/applications/voryx.desktop  starts "voryx serve --open"
#   PREFIX/share/metainfo/io.github.voryx.Voryx.metainfo.xml  for software centres (touch, small displays)
#   PREFIX/share/icons/hicolor/scalable/apps/voryx.svg
#   PREFIX/share/doc/voryx/                  copyright, changelog.gz

install(TARGETS voryx RUNTIME DESTINATION bin)
install(FILES ${VORYX_RES_DIR}/Voryx.sqlitedb ${VORYX_RES_COPIES} DESTINATION share/voryx)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/voryx.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/io.github.voryx.Voryx.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/voryx.svg DESTINATION share/icons/hicolor/scalable/apps)

# The manual page, made from the commands' own help ("voryx help-all") with the
# hand-written sections of packaging/voryx.h2m: the options are described only in the code.
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
if(HELP2MAN)
  set(VORYX_MAN ${CMAKE_BINARY_DIR}/man/voryx.1)
  add_custom_command(
    OUTPUT ${VORYX_MAN} ${VORYX_MAN}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --section=1 --help-option=help-all --version-option=--version
            "--name=manage a SIM card's phonebook and SMS through a modem"
            "--source=Voryx ${PROJECT_VERSION}" "--manual=User Commands"
            --include=${CMAKE_SOURCE_DIR}/packaging/voryx.h2m --output=${VORYX_MAN}
            $<TARGET_FILE:voryx>
    COMMAND ${GZIP} -9 -n -f -k ${VORYX_MAN}
    DEPENDS voryx ${CMAKE_SOURCE_DIR}/packaging/voryx.h2m
    COMMENT "Making the manual page"
    VERBATIM)
  add_custom_target(voryx_man ALL DEPENDS ${VORYX_MAN}.gz)
  install(FILES ${VORYX_MAN}.gz DESTINATION share/man/man1)
else()
  message(STATUS "help2man not found: no manual page (scripts/install-deps.sh installs it)")
endif()

# Debian's changelog and copyright files, where the package tools expect them.
set(VORYX_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${VORYX_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND ${GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${VORYX_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
add_custom_target(voryx_changelog ALL DEPENDS ${VORYX_CHANGELOG})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${VORYX_CHANGELOG} DESTINATION share/doc/voryx)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voryx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Voryx developers")
set(CPACK_PACKAGE_CONTACT "Voryx maintainers <maintainers@voryx.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SIM card phonebook and SMS manager for AT modems")
set(CPACK_PACKAGE_DESCRIPTION
    "Voryx edits the phonebook and the SMS messages stored on a SIM card
through the AT command port of a modem. A read copies the SIM into a
local database; edits only mark entries there; a write carries the
marked entries back to the SIM in one pass.
.
It runs as a small web application on 127.0.0.1 (voryx serve, opened
in the browser), as shell commands for scripts, and ships a virtual
modem with a virtual SIM for trying it without hardware.")
# The file names the Debian release it was built on, as in voryx_0.1_amd64+deb13.deb: the
# package depends on that release's libraries, so a Debian 12 build and a Debian 13 build
# are two files. Elsewhere (no VERSION_ID, or not Debian) CPack's usual name.
cmake_host_system_information(RESULT VORYX_OS_ID QUERY DISTRIB_ID)
cmake_host_system_information(RESULT VORYX_OS_VERSION_ID QUERY DISTRIB_VERSION_ID)
find_program(DPKG dpkg)
if(DPKG AND VORYX_OS_ID STREQUAL "debian" AND VORYX_OS_VERSION_ID MATCHES "^[0-9]+$")
  execute_process(COMMAND ${DPKG} --print-architecture OUTPUT_VARIABLE VORYX_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(CPACK_DEBIAN_FILE_NAME
      "${CPACK_PACKAGE_NAME}_${CPACK_PACKAGE_VERSION}_${VORYX_DEB_ARCH}+deb${VORYX_OS_VERSION_ID}.deb")
else()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium | firefox-esr | www-browser")
if(VORYX_QMI)
  # libqmi starts qmi-proxy, through which a QMI modem is shared with ModemManager.
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", libqmi-proxy")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gammu)
include(CPack)
