#!/usr/bin/env bash
# Fuzzes libunrar for SECONDS (default 60): builds the fuzz preset (clang,
# libFuzzer, ASan, UBSan; or PRESET fuzz-tsan: ThreadSanitizer), makes writer
# seeds, then runs the target over the seeds and the archives of tests/corpus.
# Fails on any crash, leak, sanitizer report or hang.
#   scripts/fuzz.sh [SECONDS [PRESET]]
#
# A find is left in build-fuzz/fuzz-artifacts/ (crash-*, leak-*, timeout-*,
# oom-*). Once it is fixed, it joins the test corpus for good: copy it to
# tests/corpus/fuzz/<what-it-exercises>.rar, named for the code path it broke in
# lower-case words joined by underscores (say rar29_filter_past_window_end.rar),
# and give it a row in tests/corpus/fuzz/expected.json that says what the library
# must answer; the corpus conformance test runs every row. Minimise it first
# (build-fuzz/bin/libunrar_fuzz -minimize_crash=1 -runs=10000 FILE) if it is big.
set -euo pipefail
seconds=${1:-60}
preset=${2:-fuzz}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target libunrar_fuzz libunrar_fuzz_seeds
build="$root/build-$preset"
work="$build/fuzz-work"
seeds="$build/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$work" "$seeds" "$build/fuzz-artifacts"
"$build/bin/libunrar_fuzz_seeds" "$seeds"
dirs=("$work" "$seeds" "$root/tests/corpus/libarchive" "$root/tests/corpus/rarfile"
  "$root/tests/corpus/fuzz")
# The sanitizer runtimes of the executable serve the instrumented library.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:suppressions=$root/tests/fuzz/tsan.supp}
# Half the time as a one-core machine decodes, half with the worker thread on
# every RAR 2.9 and RAR 5 entry however small (fuzz inputs are too small to get
# it otherwise).
for threads in 1 2; do
  QUILLMOSS_UNRAR_THREADS=$threads "$build/bin/libunrar_fuzz" -max_total_time=$(((seconds + 1) / 2)) \
    -timeout=20 -rss_limit_mb=2048 -max_len=1048576 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/" "${dirs[@]}"
done
echo "fuzz: ran ${seconds}s without a crash, leak or hang"
