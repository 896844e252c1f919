#!/bin/bash
# Rewrites tests/conformance/expected/ with the engine's current answers for every fixture, and
# removes expected answers whose fixture is gone. The result is a proposal, not a verdict:
# review every changed answer against what the file really is before committing it.
#   tests/conformance/update.sh [BUILD_DIR]      (default: build/ of the project)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j4 --target test_conformance
KIV_CONFORMANCE_UPDATE=1 "$build/tests/conformance/test_conformance" --gtest_brief=1
git -C "$root" status --short -- tests/conformance/expected
echo "Review the changes: git diff -- tests/conformance/expected"
