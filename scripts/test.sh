#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh"
cd "$root"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
ctest --preset dev
