#!/usr/bin/env bash
# Installs what the demo needs (only that), builds the demo alone and runs it.
# Extra arguments go to portrix-demo (--help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$(nproc)"
exec build/demo/bin/portrix-demo "$@"
