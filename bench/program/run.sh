#!/usr/bin/env bash
# The program's whole headless run (start to exit) against bsdtar and unar on the
# same archives: one stored archive of 1 GiB and one of 20,000 small files, both
# made by rarwriter_cli. Prints wall times, peak memory and the ratios to bsdtar.
#
#   bench/program/run.sh [BUILD_DIR] [WORK_DIR]
#
# BUILD_DIR holds bin/quillmoss, bin/libunrar.so and tests/bin/rarwriter_cli
# (default: build-release, else build). WORK_DIR needs about 3 GiB free (default:
# a temporary folder, removed afterwards).
#
# The program waits one second after its window appears before it starts to
# extract; that fixed delay is subtracted from its time before the ratio is taken.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-}
if [[ -z "$build" ]]; then
  if [[ -x "$root/build-release/bin/quillmoss" ]]; then build="$root/build-release"; else build="$root/build"; fi
fi
program="$build/bin/quillmoss"
writer="$build/tests/bin/rarwriter_cli"
for tool in "$program" "$build/bin/libunrar.so" "$writer"; do
  [[ -e "$tool" ]] || { echo "missing $tool: build first (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
done
for tool in bsdtar unar /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup-deps.sh)" >&2; exit 1; }
done

work=${2:-}
cleanup=""
if [[ -z "$work" ]]; then
  work=$(mktemp -d /tmp/quillmoss-bench.XXXXXX)
  cleanup="$work"
fi
trap '[[ -n "$cleanup" ]] && rm -rf "$cleanup"' EXIT
mkdir -p "$work/archives"

echo "build: $build"
echo "making archives in $work ..."
"$writer" --large big.bin:1G "$work/archives/big.rar" >/dev/null
"$writer" --files 20000:2K:many "$work/archives/many.rar" >/dev/null

start_delay=1.0

# measure NAME ARCHIVE COMMAND...: runs COMMAND in a fresh folder holding a link
# to the archive; prints "seconds peak_kib". The archive's pages are read once
# beforehand so every tool starts with it cached.
measure() {
  local archive=$1
  shift
  local dir="$work/run"
  rm -rf "$dir"
  mkdir -p "$dir"
  ln -s "$archive" "$dir/archive.rar"
  cat "$archive" >/dev/null
  sync
  local stats="$work/stats"
  (cd "$dir" && /usr/bin/time -f '%e %M' -o "$stats" "$@" >/dev/null 2>&1) || {
    echo "command failed: $*" >&2
    exit 1
  }
  local files
  files=$(find "$dir" -type f | wc -l)
  rm -rf "$dir"
  echo "$(cat "$stats") $files"
}

report() {
  local label=$1 archive=$2
  local q b u
  q=$(measure "$archive" env QT_QPA_PLATFORM=offscreen "$program" "$work/run/archive.rar")
  b=$(measure "$archive" bsdtar -xf archive.rar)
  u=$(measure "$archive" unar -q -f archive.rar)
  read -r qt qm qf <<<"$q"
  read -r bt bm bf <<<"$b"
  read -r ut um uf <<<"$u"
  awk -v label="$label" -v qt="$qt" -v qm="$qm" -v qf="$qf" -v bt="$bt" -v bm="$bm" -v bf="$bf" \
      -v ut="$ut" -v um="$um" -v uf="$uf" -v delay="$start_delay" 'BEGIN {
    q = qt - delay; if (q < 0.01) q = 0.01;
    printf "\n%s\n", label;
    printf "  %-10s %9s %12s %9s %10s\n", "tool", "seconds", "peak MiB", "files", "vs bsdtar";
    printf "  %-10s %9.2f %12.1f %9d %10.2f   (%.2f s measured, less the %.1f s start delay)\n",
           "quillmoss", q, qm / 1024, qf, q / bt, qt, delay;
    printf "  %-10s %9.2f %12.1f %9d %10.2f\n", "bsdtar", bt, bm / 1024, bf, 1.0;
    printf "  %-10s %9.2f %12.1f %9d %10.2f\n", "unar", ut, um / 1024, uf, ut / bt;
  }'
}

report "1 GiB stored archive (one entry)" "$work/archives/big.rar"
report "20,000 files of 2 KiB (stored)" "$work/archives/many.rar"
