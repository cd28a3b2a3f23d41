# The Debian package: cpack -G DEB in the build folder (scripts/package.sh)
# makes reqlark_<version>_<arch>.deb there. It holds everything the install()
# rules install (cmake/Install.cmake and any other), under /usr.
#
# The package version is the program's whole four-part version, 1.1.0.10, with
# no Debian revision: the fourth number is the build of the program itself
# (its file version), not a packaging change, and the package is made from
# this source tree alone. Versions then sort as the builds do, and
# `dpkg -s reqlark` shows the version the executable carries.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME reqlark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # reqlark_<version>_<arch>.deb
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The install step sees the real prefix (/usr) and writes into the staging
# folder through DESTDIR, so the menu entry names /usr/bin/reqlark.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON) # the version record survives stripping

set(REQLARK_PACKAGE_MAINTAINER "Reqlark 开发组 <reqlark@invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${REQLARK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "Reqlark 开发组")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compose one HTTP request by hand and inspect the response")
# The summary is the synopsis line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Reqlark sends one HTTP request exactly as it is composed: URL, method, a list
of request headers and request data. It shows the response body as HTML
source, as its visible text, or as a page in an embedded browser, beside the
response headers, the status line and the size of the body. Cookies the
server sets can be merged back into the request, requests can go through an
HTTP proxy, and a body can be downloaded into a file. The interface is in
Chinese.")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# Libraries the program and its modules link come from dpkg-shlibdeps (Qt
# WebEngine's brings the helper process its pages run in). What no library
# names is added here: the CJK face of the interface and Qt's Chinese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, qt6-translations-l10n")
# Qt's Wayland platform plugin: with it the window runs natively in a Wayland
# session; without it Qt falls back to XWayland, which still works, so it is
# recommended rather than required.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
