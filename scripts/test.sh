#!/usr/bin/env bash
# Sets up and builds Reqlark (see setup-debian.sh), then runs every test.
# Tests need no display: they run on Qt's offscreen platform, against a
# loopback server and a tinyproxy they start themselves. A label or name
# selection that finds no test fails rather than passing empty.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j2 --no-tests=error "$@"
