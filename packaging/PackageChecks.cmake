# Read by cpack at packaging time. A .deb built from a tree configured for
# /usr/local would put the program under /usr/local/bin, outside Debian's
# paths; stop instead of writing a package nobody should install.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR
        "The Debian package must be built from a tree configured with "
        "-DCMAKE_INSTALL_PREFIX=/usr (this one has ${CPACK_PACKAGING_INSTALL_PREFIX}).")
endif()
