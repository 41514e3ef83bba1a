# A Debian package of everything `cmake --install` installs: `cpack -G DEB` in
# a build tree, or scripts/package for a release build made for /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellorin)
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Image processor that applies one saved treatment to many pictures")
set(CPACK_PACKAGE_DESCRIPTION
    "Pellorin builds a treatment for a picture (an ordered list of effects and a \
fixed chain of corrections such as crop, resize, rotation, colour, mask and \
border), shows the result live beside the original, and applies the saved \
treatment to further pictures, folders and videos. The package holds the \
desktop program, the command-line program pellorin-cli, the noise-reduction and \
animated-GIF libraries with their headers and pkg-config files, and the masks \
and borders.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel <pellorin@quorvel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Dependencies from the libraries the binaries link (dpkg-shlibdeps); the
# package's own libraries are found through the programs' run path.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# CPack adds the ldconfig calls for the libraries to the package's scripts.
include(CPack)
