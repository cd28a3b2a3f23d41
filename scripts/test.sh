#!/usr/bin/env bash
# Sets up and builds Reqlark (see setup-debian.sh), then runs every test.
# Tests need no display: they run on Qt's offscreen platform, against a
# loopback server and a tinyproxy they start themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j2 "$@"
