# `cpack -G DEB` in the build folder: the kestrel package, the programs in
# /usr/bin, kestrel-probe's modes in /usr/lib/kestrel and the models in
# /usr/share/kestrel/models; its dependencies are read from the binaries by
# dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "look into media: faces, people, cutout mattes, audio inputs, photos")
set(CPACK_PACKAGE_CONTACT "Kestrel maintainers <kestrel@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shipped binaries keep their symbols out (the build keeps them for debugging).
set(CPACK_STRIP_FILES ON)
include(CPack)
