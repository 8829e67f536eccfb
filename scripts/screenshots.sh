#!/usr/bin/env bash
# Takes the manuals' screenshots of the station's windows into docs/screenshots/,
# on a virtual display (xvfb-run, 1280 x 1024) against the printer simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tamrisk_screenshots tamrisk-sim
xvfb-run -a -s "-screen 0 1280x1024x24" build/default/tools/screenshots/tamrisk_screenshots docs/screenshots
