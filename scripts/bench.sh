#!/usr/bin/env bash
# Sets up and builds Reqlark (see setup-debian.sh), then runs every benchmark
# one after the other and prints their figures. Run it on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cd "${BUILD_DIR:-build}/bench"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for bench in ./bench_transfer ./bench_utf8 ./html/bench_htmltotext ./app/bench_startup ./app/bench_display ./app/bench_paste; do
    echo "== ${bench#./}"
    "$bench" 2>/dev/null
    echo
done
