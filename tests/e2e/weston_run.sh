#!/usr/bin/env bash
# Runs the program on Qt's Wayland platform under a private weston (headless
# backend), with the client's side of the Wayland protocol written to
# standard error (WAYLAND_DEBUG=client), so that a test can read which window
# each new one was made a child of:
#   weston_run.sh PROGRAM ARGUMENT...
# Exits with the program's exit code; 95 when weston did not come up.
set -u
runtime=$(mktemp -d)
chmod 700 "$runtime"
socket=quillmoss-$$
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket="$socket" \
  --idle-time=0 --no-config >"$runtime/weston.log" 2>&1 &
weston=$!
for _ in $(seq 1 200); do
  [[ -S "$runtime/$socket" ]] && break
  kill -0 "$weston" 2>/dev/null || break
  sleep 0.05
done
if [[ ! -S "$runtime/$socket" ]]; then
  cat "$runtime/weston.log" >&2
  kill "$weston" 2>/dev/null
  wait "$weston" 2>/dev/null
  rm -rf "$runtime"
  exit 95
fi
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland \
  WAYLAND_DEBUG=client "$@"
status=$?
kill "$weston"
wait "$weston" 2>/dev/null
rm -rf "$runtime"
exit "$status"
