#!/usr/bin/env bash
# Builds if needed and runs Quillmoss. Without an argument it extracts a fresh
# copy of the bundled sample archive in build/sample/. Without a display it
# runs headless on Qt's offscreen platform, unattended.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
sample=""
if [[ $# -eq 0 ]]; then
  sample="$root/build/sample"
  rm -rf "$sample" && mkdir -p "$sample"
  cp "$root/samples/sample.rar" "$sample/"
  set -- "$sample/sample.rar"
  echo "Extracting the sample archive into $sample"
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  # Headless, nobody can answer a question: the program gives each its safe
  # answer (keep the existing file, no password, no next volume) and says so.
  export QT_QPA_PLATFORM=offscreen QUILLMOSS_UNATTENDED=1
  # A login session gives the runtime folder; without one Qt makes the same
  # folder itself, but warns about it first.
  if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    export XDG_RUNTIME_DIR="/tmp/runtime-$(id -un)"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  fi
fi
if [[ -z "$sample" ]]; then
  exec "$root/build/bin/quillmoss" "$@"
fi
status=0
"$root/build/bin/quillmoss" "$@" || status=$?
echo "The program ended with exit code $status. The sample folder now holds:"
(cd "$sample" && find . -mindepth 1 | sort)
exit "$status"
