# The Debian package: `cmake --build --preset default --target package` writes
# tamrisk_<version>_amd64.deb into the build folder. It holds the three programs,
# the desktop entry, the icon, the AppStream metadata, the manual pages (installed
# by packaging/man) and the files Debian wants in /usr/share/doc/tamrisk.
# scripts/check-package.sh checks the result as a user's machine would see it.

include(GNUInstallDirs)

# Where the project lives on the web: the package's Homepage field and the
# AppStream metadata's home page and screenshot.
set(TAMRISK_HOMEPAGE "https://tamrisk.zormik.example")
# The maintainer is also named in packaging/debian/changelog and packaging/debian/copyright.
set(TAMRISK_MAINTAINER "ZORMIK Tamrisk maintainers <tamrisk@zormik.example>")
# The AppStream component id, reverse-DNS; the metadata file is <id>.metainfo.xml.
set(TAMRISK_APPSTREAM_ID "com.zormik.tamrisk")

# Directories 0755 whatever the umask of the one who builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The internal libraries are static, so the programs need nothing of the build tree.
set(TAMRISK_PROGRAMS tamrisk tamrisk-cli tamrisk-sim)
install(TARGETS ${TAMRISK_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(program IN LISTS TAMRISK_PROGRAMS)
    # Symbols bound at start, so that the whole GOT is read-only after it (full RELRO).
    target_link_options(${program} PRIVATE LINKER:-z,now)
    # A stripped install (the package's) also drops the compiler's notes, as dh_strip does.
    install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                            COMMAND_ERROR_IS_FATAL ANY)
        endif()")
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/tamrisk.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tamrisk.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${TAMRISK_APPSTREAM_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/data/${TAMRISK_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/data/${TAMRISK_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# /usr/share/doc/tamrisk: the machine-readable copyright and the changelog,
# compressed as Debian does (gzip -9n: no name, no time stamp, so the same bytes
# every build). The version has no Debian revision, which makes this a native
# package, whose changelog is named changelog.gz.
set(TAMRISK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tamrisk)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
add_custom_target(tamrisk_package_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${TAMRISK_DOC_DIR})
# The line's web page as a service of its own, installed disabled (no
# maintainer script enables or starts it), with its settings file, a conffile
# that an upgrade leaves as the administrator changed it.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/tamrisk-dashboard.service DESTINATION /lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/tamrisk-dashboard.default
        DESTINATION /etc/default RENAME tamrisk-dashboard)
file(WRITE ${PROJECT_BINARY_DIR}/debian/conffiles "/etc/default/tamrisk-dashboard\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# lintian's notes that do not apply, each with its reason.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tamrisk)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamrisk)
set(CPACK_PACKAGE_VENDOR ZORMIK)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAMRISK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TAMRISK_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
file(READ ${PROJECT_SOURCE_DIR}/packaging/debian/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
# dpkg-shlibdeps names the libraries the programs link. Qt loads its plugins at
# run time, so name them: the window system (xcb and offscreen come with
# libqt6gui6, the others with qt6-qpa-plugins), the SVG icon's image format and
# icon engine (libqt6svg6), and the records' SQLite and PostgreSQL drivers; and
# Chart.js, which the dashboard serves from where libjs-chart.js installs it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, libqt6sql6-sqlite, libqt6sql6-psql, libjs-chart.js")
# A Wayland session runs the station natively with qt6-wayland (else through
# XWayland); the platform themes give it the desktop's look and file dialogs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-gtk-platformtheme | qt6-xdgdesktopportal-platformtheme")
include(CPack)
