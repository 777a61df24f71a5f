#!/usr/bin/env bash
# Installs what is missing, builds KAVREN Nodrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DNODREL_TESTS=OFF \
    -DNODREL_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
exec build/release/ui/nodrel "$@"
