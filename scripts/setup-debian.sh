#!/usr/bin/env bash
# Installs the Debian 12 packages Reqlark needs to build, run and test, then
# configures and builds it in ./build. Run as root, or as a user with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    g++ make cmake pkg-config git ca-certificates
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev
    libcurl4-openssl-dev libssl-dev libgumbo-dev
    fonts-wqy-microhei
    tinyproxy-bin curl openssl xvfb xauth
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi
    echo "Installing: ${missing[*]}"
    "${SUDO[@]}" apt-get update
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_EXTRA_ARGS:-}
cmake --build "$BUILD_DIR" -j2
