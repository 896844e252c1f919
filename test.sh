#!/usr/bin/env bash
# Installs what is missing (what ./run.sh needs, and the test tools), builds the engine and the
# matcher, lays out the run directory, and runs every test: once on the optimised build and once
# on a build with AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -euo pipefail
KIV_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$KIV_ROOT/tools/bootstrap.sh"

kiv_install_missing "${KIV_PACKAGES[@]}" "${KIV_TEST_PACKAGES[@]}"

jobs=$(nproc)
kiv_build "$KIV_ROOT/build" -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=ON
ctest --test-dir "$KIV_ROOT/build" --output-on-failure -j"$jobs"

kiv_build "$KIV_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON -DKIV_BUILD_TESTS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$KIV_ROOT/build-asan" --output-on-failure -j"$jobs"

# ---- Fuzz smoke (tests/fuzz): each libFuzzer target replays its committed reproducers, then
# runs for a few seconds; ./fuzz.sh SECONDS runs longer. ----
"$KIV_ROOT/fuzz.sh" 5
# ---- end of fuzz smoke ----
echo "All tests passed."
