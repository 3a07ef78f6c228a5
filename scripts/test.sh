#!/usr/bin/env bash
# Installs everything the tests need (install-deps.sh --test), builds everything
# (program, vendor server, tests, benchmarks) and runs every test, then builds,
# installs and removes the Debian package (scripts/package-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --test
# Formatting is part of the check: the tree follows .clang-format.
if git rev-parse --git-dir >/dev/null 2>&1; then
  git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
fi
# The package build shares the compiler cache with this one: paths relative to the
# checkout, no build folder in the key.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
(cd build && QTWEBENGINE_DISABLE_SANDBOX=1 ctest --output-on-failure -j2 --timeout 120)
./scripts/package-test.sh
