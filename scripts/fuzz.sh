#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in a build directory of their
# own and runs each one for FUZZ_SECONDS (default 30) on its seed corpus. The
# inputs found along the way go to a scratch folder, so the repository is left
# as it was. Fails when any target crashes or finds a broken property, and then
# prints the input that did it in hex. Run as root, or as a user with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    clang libclang-rt-14-dev make cmake pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev
    libcurl4-openssl-dev libssl-dev libgumbo-dev
)
bash scripts/install-packages.sh "${PACKAGES[@]}"

BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-30}
TARGETS=(fuzz_utf8 fuzz_cookies fuzz_import fuzz_settings fuzz_headerfile fuzz_htmltotext fuzz_strutils)

started=$(date +%s)
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DREQLARK_FUZZ=ON -DREQLARK_BUILD_TESTS=OFF -DREQLARK_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target reqlark_fuzzers
echo "fuzz build: $(($(date +%s) - started)) s"

# The settings and header file targets write files on every input: a memory
# file system keeps that from being the bottleneck.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; else base=${TMPDIR:-/tmp}; fi
scratch=$(mktemp -d "$base/reqlark-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Leaks, ASan and UBSan reports all end the run; LeakSanitizer checks after
# every input.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

failed=()
for t in "${TARGETS[@]}"; do
    work="$scratch/$t"
    mkdir -p "$work/found" "$work/tmp"
    log="$work/log"
    dict=()
    case "$t" in
    fuzz_utf8 | fuzz_strutils) ;;
    *) dict=(-dict=fuzz/reqlark.dict) ;;
    esac
    status=0
    TMPDIR="$work/tmp" "$BUILD_DIR/fuzz/$t" -max_total_time="$SECONDS_EACH" -timeout=25 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" "${dict[@]}" \
        "$work/found" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?

    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -n1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
    if [ "$status" -eq 0 ]; then
        printf '%-16s ok      %10s execs in %ss, coverage %s edges, %s features, corpus %s\n' \
            "$t" "${execs:-?}" "$SECONDS_EACH" "${cov:-?}" "${ft:-?}" "${corp:-?}"
    else
        failed+=("$t")
        printf '%-16s FAILED  exit %s after %s execs, coverage %s edges\n' \
            "$t" "$status" "${execs:-?}" "${cov:-?}"
        grep -v -E '^#[0-9]+|^INFO:|^stat::' "$log" | tail -n 60
        for crash in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
            [ -f "$crash" ] || continue
            echo "reproducer $(basename "$crash") ($(stat -c %s "$crash") bytes), hex:"
            od -An -v -tx1 "$crash" | tr -d ' \n' | fold -w 128
            echo
            echo "run again: $BUILD_DIR/fuzz/$t <file with these bytes>"
        done
    fi
done

echo "fuzzing took $(($(date +%s) - started)) s in all, build included"
echo "fuzz: $((${#TARGETS[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
