#!/usr/bin/env bash
# Installs what building and running need (KIV_PACKAGES in tools/bootstrap.sh; the test tools
# are ./test.sh's), builds (Release), lays out the engine's working directory build/run
# (kiv_engine.so, libQrixLib.so, 7za, database/magic/magic.mgc, database/qrix/QrixDefs.QXD) and
# runs the host program kivscan there, printing one line per file: the path, a TAB and the
# result JSON.
#   ./run.sh [-r] [-j N] [--ext] [--stats] [PATH...]
# With no PATH it scans samples/ (small files of many types, made by tools/kivscan/generate_samples.py).
set -euo pipefail
KIV_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$KIV_ROOT/tools/bootstrap.sh"

kiv_install_missing "${KIV_PACKAGES[@]}"
# Only what running needs is built. A new build/ is configured without the tests, which need
# the test packages; one that ./test.sh configured keeps them (the two share build/).
options=(-DCMAKE_BUILD_TYPE=Release)
[ -f "$KIV_ROOT/build/CMakeCache.txt" ] || options+=(-DKIV_BUILD_TESTS=OFF)
kiv_build "$KIV_ROOT/build" "${options[@]}" -- rundir kivscan >/dev/null

# The engine finds its data relative to the working directory, so paths are made absolute
# before the host runs inside the run directory.
args=()
paths=0
while [ $# -gt 0 ]; do
    case "$1" in
        -j) [ $# -ge 2 ] || { echo "run.sh: -j needs a thread count" >&2; exit 2; }
            args+=("$1" "$2"); shift 2 ;;
        --) shift
            while [ $# -gt 0 ]; do args+=("$(realpath -ms -- "$1")"); paths=$((paths + 1)); shift; done ;;
        -*) args+=("$1"); shift ;;
        *) args+=("$(realpath -ms -- "$1")"); paths=$((paths + 1)); shift ;;
    esac
done
if [ "$paths" -eq 0 ]; then
    [ -e "$KIV_ROOT/samples/plain.txt" ] || python3 "$KIV_ROOT/tools/kivscan/generate_samples.py" "$KIV_ROOT/samples"
    args=(-r "${args[@]}" "$KIV_ROOT/samples")
fi
cd "$KIV_ROOT/build/run"
exec "$KIV_ROOT/build/tools/kivscan/kivscan" "${args[@]}"
