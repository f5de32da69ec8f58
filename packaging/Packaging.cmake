# The Debian package: `cpack -G DEB` in the build folder gives cormapmp_VERSION_ARCH.deb, installing
# into /usr, its dependencies derived by dpkg-shlibdeps from the programs' libraries.
set(CORMAP_PACKAGE_CONTACT "CormapMP maintainers <cormapmp@varkonsystems.example>" CACHE STRING
    "Maintainer of the Debian package (name <address>)")

# Debian's policy: a copyright file and a compressed changelog in /usr/share/doc/PACKAGE.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/cormapmp)

configure_file(changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
    COMMAND sh -c "gzip -9n < changelog > changelog.gz"
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
add_custom_target(cormap_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
install(FILES copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir})

set(CPACK_PACKAGE_NAME cormapmp)
set(CPACK_PACKAGE_VENDOR VarkonSystems)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CORMAP_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for Tessel serial-over-IP devices")
set(CPACK_PACKAGE_DESCRIPTION
    "CormapMP finds Tessel devices (network boxes with up to four serial ports
that carry serial data over TCP or UDP) on the local network by broadcast, or
one device by its IP address. It reads and writes their settings, shows their
status report, changes their password, saves and loads settings files and
uploads their firmware.
.
The package holds the desktop program cormapmp, the command-line tool
cormapmp-cli, which does the same from a terminal or a script, and
tessel-sim, simulated devices for trying both without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# `ip neigh` clears a device's stale address entry before a firmware upload.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "iproute2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")

include(CPack)
