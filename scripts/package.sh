#!/usr/bin/env bash
# Sets up and builds Reqlark (see setup-debian.sh), then makes the Debian
# package build/reqlark_<version>_<arch>.deb with CPack. Install it with
#   sudo apt-get install ./build/reqlark_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

# The release date in the software-centre data is the date of the source,
# so that building the same commit again gives the same package contents.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi
bash scripts/setup-debian.sh

BUILD_DIR=${BUILD_DIR:-build}
# A package of an earlier version would make the install command's pattern
# name two files.
rm -f "$BUILD_DIR"/reqlark_*.deb
(cd "$BUILD_DIR" && cpack -G DEB)
ls -l "$BUILD_DIR"/reqlark_*.deb
