# The Debian package: `cpack -G DEB` in a build configured with
# -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr.
#
# Library dependencies come from dpkg-shlibdeps. What it cannot see is listed
# by hand: Qt loads its platform plugins (qt6-qpa-plugins) and the Japanese Qt
# translations at run time, and the window asks for a Japanese Gothic font that
# must be present for the song titles to render. The sound goes through Qt
# Multimedia's output stream only (the linked libQt6Multimedia), and that
# package depends on the PulseAudio client library it uses.

if(WIN32)
    # Windows: the zip and the installer are made from the installed folder by
    # scripts/windows/check.sh.
    include(${CMAKE_CURRENT_LIST_DIR}/windows/Package.cmake)
    return()
endif()

set(CPACK_PACKAGE_NAME korvanda)
set(CPACK_PACKAGE_VENDOR "Korvanda developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set list builder for performers")
set(CPACK_PACKAGE_DESCRIPTION
"Korvanda lists a folder of songs with their play lengths, plays a preview of
each one and builds a set list whose total length stays in view. The finished
set list is exported to a folder, numbered in playing order, ready to copy to
a USB stick. The program speaks Japanese.")
set(CPACK_PACKAGE_CONTACT "Korvanda developers <korvanda@example.org>")

# The package's paths are the build's install paths: the program decides from
# its compiled-in bindir whether it is an installed copy (settings go to the
# user's configuration folder) or a build-folder copy (settings beside itself).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageChecks.cmake)
set(CPACK_STRIP_FILES ON)
# Directories in the archive must not inherit the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://korvanda.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, fonts-ipafont-gothic")
# Native Wayland windows; without it Qt falls back to XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
