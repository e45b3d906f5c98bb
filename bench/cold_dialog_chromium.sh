#!/bin/bash
# A manual benchmark, never run by CI: Debian's chromium (apt-get install chromium; not in
# scripts/deps.sh) loading a page of <count> pictures from the same nginx and 25 ms relay as
# BM_ColdDialog, to set the dialog's times beside a browser's. Prints, per run, the time from
# the first picture's request to the page's load event, then the connections and requests
# that nginx saw.
#
# Usage: bench/cold_dialog_chromium.sh [build dir] [count] [runs]
set -eu
build=${1:-build/release}
count=${2:-200}
runs=${3:-5}

for run in $(seq "$runs"); do
    profile=$(mktemp -d)
    coproc SERVE { "$build/bin/bench_cold_dialog" serve "$count"; }
    read -r url <&"${SERVE[0]}"
    title=$(timeout 120 chromium --no-sandbox --headless --disable-gpu \
        --disable-background-networking --disable-component-update --disable-sync \
        --no-first-run --user-data-dir="$profile" --dump-dom "$url" 2>/dev/null |
        sed -n 's/.*<title>\([^<]*\)<\/title>.*/\1/p')
    eval "exec ${SERVE[1]}>&-"
    read -r counts <&"${SERVE[0]}"
    wait "$SERVE_PID" || true
    echo "run $run: ${title:-no load event} $counts"
    rm -rf "$profile"
done
