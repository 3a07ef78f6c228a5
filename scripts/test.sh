#!/usr/bin/env bash
# Installs what is needed, builds everything (program, vendor server, tests,
# benchmarks) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
cd build
QTWEBENGINE_DISABLE_SANDBOX=1 ctest --output-on-failure -j2 --timeout 300
