#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in a build directory of their
# own and runs each of them in one of two ways:
#
#   bash scripts/fuzz.sh                    the gate (what CI runs)
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh   a search, 600 s per target
#
# The gate gives the same verdict for the same commit on every machine: each
# target first runs every input of its corpus in fuzz/corpus/ (the seeds and
# every reproducer found so far), then a fixed number of inputs made from them
# with a fixed seed (FUZZ_RUNS below, a few seconds each on a 2-core machine).
# Nothing in it depends on the clock or on the speed of the machine, but for
# the limit of a minute per input, far above what any input takes.
#
# A search starts from a seed libFuzzer draws, so every run explores somewhere
# else; it is for finding faults, not for the gate. An input that fails is
# kept in build-fuzz/findings/<target>/; it goes into the target's corpus with
# the fix, so that the gate replays it from then on.
#
# New inputs found along the way go to a scratch folder, so the repository is
# left as it was. Either way the script fails when any target crashes or finds
# a broken property, and prints the input that did it in hex. Run as root, or
# as a user with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    clang libclang-rt-14-dev make cmake pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev
    libcurl4-openssl-dev libssl-dev libgumbo-dev
)
bash scripts/install-packages.sh "${PACKAGES[@]}"

BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
SEARCH_SECONDS=${FUZZ_SECONDS:-}
TARGETS=(fuzz_utf8 fuzz_cookies fuzz_import fuzz_settings fuzz_headerfile fuzz_htmltotext fuzz_strutils)
# Inputs the gate makes per target, its corpus counted in: the targets'
# speeds differ a hundredfold, so each has its own count.
declare -A FUZZ_RUNS=(
    [fuzz_utf8]=150000 [fuzz_cookies]=40000 [fuzz_import]=25000 [fuzz_settings]=4000
    [fuzz_headerfile]=20000 [fuzz_htmltotext]=2000 [fuzz_strutils]=100000
)
SEED=1

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
# every input. Qt's hash tables take a fixed seed, so that the same input
# takes the same paths in every run.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export QT_HASH_SEED=0

# Prints what made a run fail: the end of its log and each input it kept.
report() {
    local t=$1 work=$2 log=$3
    grep -v -E '^#[0-9]+|^INFO:|^stat::|^Running: |^Executed ' "$log" | tail -n 60
    local kept="$BUILD_DIR/findings/$t"
    for crash in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
        [ -f "$crash" ] || continue
        mkdir -p "$kept"
        cp "$crash" "$kept/"
        echo "reproducer $(basename "$crash") ($(stat -c %s "$crash") bytes), hex:"
        od -An -v -tx1 "$crash" | tr -d ' \n' | fold -w 128
        echo
        echo "kept as $kept/$(basename "$crash"); run again: $BUILD_DIR/fuzz/$t <that file>"
    done
}

failed=()
for t in "${TARGETS[@]}"; do
    work="$scratch/$t"
    mkdir -p "$work/found" "$work/tmp"
    log="$work/log"
    corpus="fuzz/corpus/$t"
    dict=()
    case "$t" in
    fuzz_utf8 | fuzz_strutils) ;;
    *) dict=(-dict=fuzz/reqlark.dict) ;;
    esac
    common=(-timeout=60 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$work/")
    status=0
    t0=$(date +%s)

    if [ -n "$SEARCH_SECONDS" ]; then
        TMPDIR="$work/tmp" "$BUILD_DIR/fuzz/$t" -max_total_time="$SEARCH_SECONDS" "${common[@]}" \
            "${dict[@]}" "$work/found" "$corpus" >"$log" 2>&1 || status=$?
        what="search of ${SEARCH_SECONDS}s"
    else
        # The corpus in name order, one input at a time: a failure names its file.
        mapfile -t inputs < <(find "$corpus" -maxdepth 1 -type f | LC_ALL=C sort)
        TMPDIR="$work/tmp" "$BUILD_DIR/fuzz/$t" "${common[@]}" "${inputs[@]}" >"$log" 2>&1 ||
            status=$?
        if [ "$status" -ne 0 ]; then
            what="corpus input $(sed -n 's/^Running: //p' "$log" | tail -n1)"
        else
            # Given as a list rather than a folder, the seeds come in the same
            # order whatever order the file system lists them in. Mutations
            # guided by the operands of comparisons are left out: some of those
            # are addresses, which differ from one run to the next. Longer
            # inputs than max_len were run whole above.
            printf '%s\n' "${inputs[@]}" | paste -sd, >"$work/seeds"
            TMPDIR="$work/tmp" "$BUILD_DIR/fuzz/$t" -seed="$SEED" -runs="${FUZZ_RUNS[$t]}" \
                -use_cmp=0 -max_len=4096 "${common[@]}" "${dict[@]}" \
                -seed_inputs=@"$work/seeds" "$work/found" >>"$log" 2>&1 || status=$?
            what="${#inputs[@]} corpus inputs and seed $SEED"
        fi
    fi

    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -n1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
    took=$(($(date +%s) - t0))
    if [ "$status" -eq 0 ]; then
        printf '%-16s ok      %8s execs (%s) in %ss, coverage %s edges, %s features, corpus %s\n' \
            "$t" "${execs:-?}" "$what" "$took" "${cov:-?}" "${ft:-?}" "${corp:-?}"
    else
        failed+=("$t")
        printf '%-16s FAILED  exit %s after %s execs (%s), coverage %s edges\n' \
            "$t" "$status" "${execs:-?}" "$what" "${cov:-?}"
        report "$t" "$work" "$log"
    fi
done

echo "fuzzing took $(($(date +%s) - started)) s in all, build included"
echo "fuzz: $((${#TARGETS[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
