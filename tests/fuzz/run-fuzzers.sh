#!/bin/bash
# Builds the libFuzzer targets with clang in a build tree of their own and runs each of them for
# a bounded time. Exits non-zero when any target finds a crash, a sanitizer report, a leak, a
# time-out or an oversized allocation; the input that did it is left in the work directory.
#
#   tests/fuzz/run-fuzzers.sh [SECONDS_PER_TARGET]      (default 60)
#
# Environment: NV_FUZZ_BUILD_DIR (default: build-fuzz in the source tree).
# Each target's seeds, if any, are tests/fuzz/corpus/<target>/; the corpus it grows is kept in
# <build>/fuzz-work/<target>/corpus for the next run.
set -euo pipefail

# The fuzz targets, one per line. A new target is added here and in tests/fuzz/CMakeLists.txt.
FUZZERS=(
    snmp_decode_fuzz
    xcv_data_fuzz
)

SECONDS_PER_TARGET=${1:-60}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${NV_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNV_FUZZ=ON >/dev/null
cmake --build "$BUILD" --target "${FUZZERS[@]}"

failed=()
for target in "${FUZZERS[@]}"; do
    work=$BUILD/fuzz-work/$target
    mkdir -p "$work/corpus" "$work/artifacts"
    seeds=()
    if [[ -d $HERE/corpus/$target ]]; then
        seeds=("$HERE/corpus/$target")
    fi
    echo "== $target: ${SECONDS_PER_TARGET}s"
    # -malloc_limit_mb: no single allocation may come near what a datagram could justify.
    if "$BUILD/bin/$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 \
        -malloc_limit_mb=64 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
        "$work/corpus" "${seeds[@]}" 2>"$work/log"; then
        grep -E '^stat::(number_of_executed_units|new_units_added)' "$work/log" || true
    else
        failed+=("$target")
        # The sanitizer's report (or libFuzzer's own: leak, time-out, malloc limit), then the end.
        grep -m1 -A30 -E '^==[0-9]+==ERROR|runtime error:|^==[0-9]+== ERROR: libFuzzer' \
            "$work/log" || true
        tail -n 5 "$work/log"
        echo "== $target FAILED; inputs in $work/artifacts"
    fi
done

if ((${#failed[@]} > 0)); then
    echo "fuzzers that failed: ${failed[*]}"
    exit 1
fi
echo "all ${#FUZZERS[@]} fuzz target(s) ran ${SECONDS_PER_TARGET}s without a finding"
