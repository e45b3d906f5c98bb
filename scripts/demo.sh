#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the demo host.
# Extra arguments go to portrix-demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
if [ -x build/release/bin/portrix-demo ]; then
    exec build/release/bin/portrix-demo "$@"
fi
echo "Built libraries:"; ls build/release/lib
