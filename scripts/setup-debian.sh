#!/usr/bin/env bash
# Installs the Debian 12 packages Reqlark needs to build, run and test, then
# configures and builds it in ./build. Run as root, or as a user with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    g++ make cmake pkg-config git ca-certificates
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev
    libcurl4-openssl-dev libssl-dev libgumbo-dev libuchardet-dev
    fonts-wqy-microhei qt6-translations-l10n
    tinyproxy-bin curl openssl xvfb xauth libx11-dev
    # the accessibility test (AT-SPI read through pyatspi on a D-Bus session)
    dbus at-spi2-core python3-pyatspi
    # Qt's Wayland plugin and a headless compositor for the Wayland test
    qt6-wayland weston
    # the Debian package (scripts/package.sh) and its checks
    dpkg-dev file desktop-file-utils appstream
)

bash scripts/install-packages.sh "${PACKAGES[@]}"

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_EXTRA_ARGS:-}
cmake --build "$BUILD_DIR" -j2
