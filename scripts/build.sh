#!/usr/bin/env bash
# Installs what is missing, then configures and builds the developer preset.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup-deps.sh"
cd "$root"
[[ -f build/build.ninja ]] || cmake --preset dev >/dev/null
cmake --build --preset dev
