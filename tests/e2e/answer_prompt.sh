#!/usr/bin/env bash
# Runs the program on a real X server (under xvfb-run) and answers the first
# overwrite prompt with keys, as a person would:
#   answer_prompt.sh PROGRAM ARCHIVE KEY...
# Waits for a visible window titled exactly "Quillmoss" that is wider than the
# main window (which carries that title too until its run starts), focuses it
# and types the keys.
# Exits with the program's exit code; 90 when no prompt came, 91 when the
# program did not end after the answer.
set -u
program=$1
archive=$2
shift 2
"$program" "$archive" &
pid=$!
prompt=""
for _ in $(seq 1 300); do
  for window in $(xdotool search --onlyvisible --name '^Quillmoss$' 2>/dev/null); do
    width=$(xdotool getwindowgeometry --shell "$window" 2>/dev/null | sed -n 's/^WIDTH=//p')
    if [[ -n "$width" && "$width" -gt 484 ]]; then
      prompt=$window
      break
    fi
  done
  [[ -n "$prompt" ]] && break
  sleep 0.05
done
if [[ -z "$prompt" ]]; then
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 90
fi
xdotool windowfocus --sync "$prompt"
sleep 0.2
xdotool key --clearmodifiers "$@"
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
  kill "$pid"
  wait "$pid" 2>/dev/null
  exit 91
fi
wait "$pid"
