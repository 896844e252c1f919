#!/usr/bin/env bash
# Installs what is missing, builds, lays out the run directory build/run (the engine,
# libQrixLib.so, 7za, database/magic/magic.mgc, database/qrix/QrixDefs.QXD) and scans the
# files named on the command line, printing one result JSON per file.
#   ./run.sh [-j THREADS] FILE...
set -euo pipefail
KIV_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$KIV_ROOT/tools/bootstrap.sh"

kiv_install_missing "${KIV_PACKAGES[@]}"
kiv_build "$KIV_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# The engine finds its data relative to the working directory, so paths are made absolute
# before the host runs inside the run directory.
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        -j) args+=("$1" "$2"); shift 2 ;;
        -*) args+=("$1"); shift ;;
        *) args+=("$(realpath -ms -- "$1")"); shift ;;
    esac
done
cd "$KIV_ROOT/build/run"
exec ./kivhost "${args[@]}"
