#!/usr/bin/env bash
# Runs the program on a real X server (under xvfb-run) on an archive of one
# large entry and checks that its window redraws itself while that entry is
# written: once the extraction has begun, the window is unmapped and mapped
# again, which leaves it black until the program paints it anew.
# Needs xdotool, ImageMagick's import, convert and compare, taskset and renice.
#   redraw_check.sh PROGRAM ARCHIVE SHOTS_FOLDER
# Exits with the program's exit code when the window came back as it was
# before; 92 when the extraction never began, 93 when the window did not
# redraw itself, 94 when the run ended before the check was done (the entry
# was too short to tell).
set -u
program=$1
archive=$2
shots=$3
name=$(basename "$archive")
"$program" "$archive" &
pid=$!
window=""
for _ in $(seq 1 600); do
  window=$(xdotool search --onlyvisible --name "^${name} --> " 2>/dev/null | head -n 1)
  [[ -n "$window" ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if [[ -z "$window" ]]; then
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 92
fi
# A fast machine would finish the entry before the check is done: for the
# check the program shares one processor, at a lower priority, with a busy
# loop, which leaves it about a tenth of that processor.
taskset -a -p -c 0 "$pid" >/dev/null
renice -n 10 -p "$pid" >/dev/null
taskset -c 0 sh -c 'while :; do :; done' &
hog=$!
sleep 0.3
import -window "$window" "$shots/before.png"
xdotool windowunmap --sync "$window"
sleep 0.2
xdotool windowmap --sync "$window"
sleep 0.5
import -window "$window" "$shots/after.png"
alive=0
kill -0 "$pid" 2>/dev/null && alive=1
kill "$hog"
wait "$hog" 2>/dev/null
if [[ $alive == 0 ]]; then
  wait "$pid"
  exit 94
fi
# The banner only: the progress bar below it moves while the entry is written.
for shot in before after; do
  convert "$shots/$shot.png" -crop 484x242+0+0 +repage "$shots/$shot-banner.png"
done
differing=$(compare -metric AE "$shots/before-banner.png" "$shots/after-banner.png" null: 2>&1)
wait "$pid"
status=$?
[[ "$differing" == "0" ]] || exit 93
exit "$status"
