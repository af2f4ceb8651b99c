# `make package`: a Debian package of what `make install` installs, under /usr. The library
# dependencies are worked out from the program's own links (dpkg-shlibdeps); the packages it
# loads at run time rather than links are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrane-viewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Kestrane developers")
set(CPACK_PACKAGE_CONTACT "The Kestrane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photo viewer and organiser for the Linux desktop")
set(CPACK_PACKAGE_DESCRIPTION "Kestrane Photo Viewer opens a photo at once and steps through its folder with the
arrow keys. It has a thumbnail grid, a photo bin, favourites, lossless turns, crop,
batch rename, resize and convert, and slideshows with 3D themes and music.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window system plug-in, the toolkit's readers of the further formats the desktop entry
# offers (TGA, ICNS, WBMP), the slideshow music's decoders, the desktop's helpers.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins, xdg-utils, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-libav, desktop-file-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
