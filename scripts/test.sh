#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then says which tests did
# not run and why, so that a skip is seen.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh"
cd "$root"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
results="$root/build/test-results.xml"
rm -f "$results"
status=0
ctest --preset dev --output-junit "$results" || status=$?
[[ -f "$results" ]] || exit "$status"
# A test that did not run has status "notrun" (or "disabled"); its reason is
# the line after Google Test's "Skipped", else ctest's own message.
awk '
  function unescape(s) {
    gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s)
    gsub(/&apos;/, "\047", s); gsub(/&amp;/, "\\&", s)
    return s
  }
  /<testcase / {
    name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
    notrun = $0 ~ /status="(notrun|disabled)"/; why = ""; grab = 0; next
  }
  notrun && /<skipped message="/ {
    m = $0; sub(/.*<skipped message="/, "", m); sub(/".*/, "", m)
    if (m != "SKIP_REGULAR_EXPRESSION_MATCHED") why = m
    next
  }
  notrun && grab { why = $0; grab = 0; next }
  notrun && /: Skipped$/ { grab = 1; next }
  /<\/testcase>/ && notrun { lines[++n] = "  " unescape(name) ": " unescape(why == "" ? "no reason given" : why); notrun = 0 }
  END {
    if (n == 0) { print "test.sh: every test ran."; exit }
    print "test.sh: " n " test(s) did not run:"
    for (i = 1; i <= n; ++i) print lines[i]
  }
' "$results"
exit "$status"
