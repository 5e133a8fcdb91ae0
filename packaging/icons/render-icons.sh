#!/usr/bin/env bash
# Renders the application icon's PNG sizes for the hicolor theme from quillmoss.svg
# (and quillmoss-small.svg for the smallest sizes).
# The PNGs are kept in the repository, so building needs no SVG renderer; run this after
# editing the SVG (rsvg-convert comes with `scripts/setup-deps.sh --tools`).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing: scripts/setup-deps.sh --tools" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256 512; do
  # Below 32 pixels the full drawing's flaps and shading turn to noise: a simpler one
  # drawn on a 16-pixel grid stays sharp.
  svg="$here/quillmoss.svg"
  [[ $size -lt 32 ]] && svg="$here/quillmoss-small.svg"
  out="$here/hicolor/${size}x${size}/apps/quillmoss.png"
  mkdir -p "$(dirname "$out")"
  rsvg-convert --width "$size" --height "$size" "$svg" --output "$out"
done
