#!/usr/bin/env bash
# Instructions of one LoadMemory against one DGifSlurp of the same animation, per frame shape,
# counted by callgrind (a count that the machine's load does not change).
# Usage: bench/picture_load_instructions.sh <build dir>   (a release build with the benchmarks)
set -euo pipefail

build=${1:?usage: picture_load_instructions.sh <build dir>}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
    "$build/bin/bench_picture_load" --instructions >/dev/null 2>"$out/valgrind.log" ||
    { cat "$out/valgrind.log" >&2; exit 1; }

# Each dump names its call in its "desc: Trigger: Client Request: <load|slurp> <shape>" line and
# holds the instructions since the last zeroing in its "totals:" line.
for f in "$out"/callgrind.out.*; do
    awk '/^desc: Trigger: Client Request:/ { what = $5; shape = $6 }
         /^totals:/ { print shape, what, $2 }' "$f"
done | awk '
    { ir[$1 " " $2] = $3; shapes[$1] = 1 }
    END {
        printf "%-20s %14s %14s %7s %12s\n", "shape", "LoadMemory Ir", "DGifSlurp Ir", "ratio", "load Ir/px"
        n = split("32x32x10 32x32x100 96x96x10 96x96x100 200x200x10 200x200x100 640x480x10 640x480x100 " \
                    "32x32x10distinct 32x32x100distinct 200x200x10distinct 200x200x100distinct", order, " ")
        for (i = 1; i <= n; ++i) {
            s = order[i]
            if (!(s in shapes)) continue
            split(s, d, "x")
            printf "%-20s %14.0f %14.0f %7.3f %12.2f\n", s, ir[s " load"], ir[s " slurp"],
                   ir[s " load"] / ir[s " slurp"], ir[s " load"] / (d[1] * d[2] * d[3])
        }
    }'
