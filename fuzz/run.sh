#!/usr/bin/env bash
# Runs the GIF loading fuzzer for about a minute, repeatably: a seed corpus that the project
# generates itself, a fixed random seed and a fixed number of runs (the time limit is only a
# safety net on a slow machine).
# Usage: fuzz/run.sh <build dir of the fuzz preset>
set -euo pipefail

build=${1:?usage: fuzz/run.sh <build dir>}
bin="$build/bin"
work="$build/fuzz-work"
runs=${PORTRIX_FUZZ_RUNS:-40000}

rm -rf "$work"
mkdir -p "$work/corpus"
"$bin/gif_seed_corpus" "$work/corpus"

# The picture loader refuses pictures above its limits; allocations past them are findings.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

"$bin/gif_load_fuzzer" -seed=20261208 -runs="$runs" -max_total_time=150 -timeout=20 \
    -rss_limit_mb=3072 -max_len=4096 -print_final_stats=1 "$work/corpus"
