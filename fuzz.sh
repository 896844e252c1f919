#!/usr/bin/env bash
# Runs every fuzz target under libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# for the given time each, after replaying the committed reproducers:
#
#   ./fuzz.sh [SECONDS] [TARGET...]      (default 60 s each; targets as in tests/fuzz, e.g. scan)
#
# Builds in build-libfuzzer/. The corpus found so far is kept in build-libfuzzer/fuzz/corpus/
# and grows from run to run; seeds are remade each time (tests/fuzz/make_seeds.py). An input
# that crashes, leaks, reads out of bounds or takes over KIV_FUZZ_TIMEOUT seconds (default 10;
# the costliest seeds take tens of milliseconds) is written to
# build-libfuzzer/fuzz/artifacts/<target>/ and replayed alone; only when the replay fails too
# does it count, so a run slowed by a loaded machine is not a finding. A finding makes the
# script exit 1. Once it is fixed, keep it under tests/fuzz/regressions/<target>/: CTest and
# this script replay it from then on.
set -euo pipefail
KIV_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$KIV_ROOT/tools/bootstrap.sh"

seconds=${1:-60}
shift || true
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: ./fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi

kiv_install_missing "${KIV_PACKAGES[@]}" "${KIV_TEST_PACKAGES[@]}"

dir="$KIV_ROOT/build-libfuzzer"
CC=clang CXX=clang++ cmake -S "$KIV_ROOT" -B "$dir" -DKIV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target fuzz_all -j"${KIV_JOBS:-$(nproc)}"

fuzz="$dir/fuzz"
python3 "$KIV_ROOT/tests/fuzz/make_seeds.py" "$fuzz/seeds" --qrixdefs "$dir/QrixDefs.QXD" --tools

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for bin in "$dir"/tests/fuzz/fuzz_*; do
        [ -x "$bin" ] && targets+=("$(basename "$bin" | sed 's/^fuzz_//')")
    done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$KIV_ROOT/tests/fuzz/lsan.supp}
failed=()
for name in "${targets[@]}"; do
    bin="$dir/tests/fuzz/fuzz_$name"
    if [ ! -x "$bin" ]; then
        echo "fuzz.sh: no target $name" >&2
        failed+=("$name")
        continue
    fi
    corpus="$fuzz/corpus/$name"
    artifacts="$fuzz/artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    options=(-timeout="${KIV_FUZZ_TIMEOUT:-10}" -rss_limit_mb=4096 -malloc_limit_mb=2048 -artifact_prefix="$artifacts/" -print_final_stats=1)
    dict="$KIV_ROOT/tests/fuzz/dict/$name.dict"
    [ -f "$dict" ] && options+=(-dict="$dict")

    echo "=== $name: reproducers, then ${seconds} s"
    regressions=()
    if [ -d "$KIV_ROOT/tests/fuzz/regressions/$name" ]; then
        while IFS= read -r -d '' f; do regressions+=("$f"); done \
            < <(find "$KIV_ROOT/tests/fuzz/regressions/$name" -type f ! -name '.*' -print0)
    fi
    if [ ${#regressions[@]} -gt 0 ] && ! "$bin" "${options[@]}" "${regressions[@]}" >"$artifacts/replay.log" 2>&1; then
        echo "fuzz.sh: $name fails on a committed reproducer (log: $artifacts/replay.log)" >&2
        failed+=("$name")
        continue
    fi
    if ! "$bin" "${options[@]}" -max_total_time="$seconds" "$corpus" "$fuzz/seeds/$name" >"$artifacts/fuzz.log" 2>&1; then
        # Replay the reported input alone before counting it.
        unit=$(grep -aoE 'Test unit written to [^ ]+' "$artifacts/fuzz.log" | tail -1 | sed 's/^Test unit written to //' || true)
        if [ -n "$unit" ] && [ -f "$unit" ] && "$bin" "${options[@]}" "$unit" >"$artifacts/recheck.log" 2>&1; then
            echo "fuzz.sh: $name: $unit failed during the run but passes alone (a loaded machine?); not counted" >&2
        else
            echo "fuzz.sh: $name found a failure (log: $artifacts/fuzz.log):" >&2
            grep -aE '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$artifacts/fuzz.log" | head -5 >&2 || true
            failed+=("$name")
            continue
        fi
    fi
    grep -aE '^stat::number_of_executed_units|^stat::peak_rss_mb' "$artifacts/fuzz.log" | tr '\n' ' ' || true
    echo
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz.sh: failures in: ${failed[*]}" >&2
    exit 1
fi
echo "Fuzzing found nothing."
