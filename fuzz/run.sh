#!/usr/bin/env bash
# Runs every fuzzer repeatably and briefly: seed corpora that the project generates itself, a
# fixed random seed and a fixed number of inputs per target. The time limits are only a
# safety net on a slow machine; together they stay under a minute.
# Usage: fuzz/run.sh <build dir of the fuzz preset>
set -euo pipefail

build=${1:?usage: fuzz/run.sh <build dir>}
bin="$build/bin"
work="$build/fuzz-work"
seed=20261208

rm -rf "$work"
mkdir -p "$work/gif"
"$bin/gif_seed_corpus" "$work/gif"
"$bin/seed_corpora" "$work"

# Scratch files of the fuzzers in memory, so that the flushes of the code under test cost nothing.
export TMPDIR=/dev/shm
# The picture loader refuses pictures above its limits; allocations past them are findings.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# target, corpus, inputs, seconds at most, longest input
runs=(
    "gif_load_fuzzer gif 20000 15 4096"
    "gif_decode_fuzzer gif 20000 10 4096"
    "picture_load_fuzzer png 10000 5 4096"
    "picture_load_fuzzer jpeg 10000 5 4096"
    "picture_load_fuzzer bmp 10000 5 4096"
    "hive_fuzzer hive 10000 8 4096"
    "profile_fuzzer profile 1000 8 1024"
    "base64_fuzzer base64 50000 3 1024"
    "version_file_fuzzer version 2000 8 1024"
)
start=$SECONDS
for run in "${runs[@]}"; do
    read -r target corpus inputs seconds longest <<<"$run"
    printf -- '-- %s on %s: %s inputs\n' "$target" "$corpus" "$inputs"
    "$bin/$target" -seed=$seed -runs="$inputs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 \
        -max_len="$longest" -artifact_prefix="$work/" -print_final_stats=1 "$work/$corpus" 2>"$work/$target-$corpus.log" ||
        { tail -n 60 "$work/$target-$corpus.log"; exit 1; }
    grep -E '^stat::number_of_executed_units|^Done' "$work/$target-$corpus.log" || true
done
printf 'fuzzing took %d s\n' $((SECONDS - start))
