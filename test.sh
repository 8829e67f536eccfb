#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the default build's,
# then the same suite under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

for preset in default asan; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2
done
