#!/usr/bin/env bash
# Installs what is missing, builds, starts the printer simulator on a virtual
# port and talks to it through tamrisk-cli: a few commands, then the demo
# script with every kind of line, showing the log.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tamrisk-cli tamrisk-sim

bin=build/default/src
portfile=$(mktemp)
"$bin/sim/tamrisk-sim" --name DEMO >"$portfile" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$portfile"' EXIT
for _ in $(seq 50); do [ -s "$portfile" ] && break; sleep 0.1; done
port=$(head -n 1 "$portfile")
echo "Simulated printer on $port"
echo

cli() { "$bin/cli/tamrisk-cli" "$@"; }
echo "\$ tamrisk-cli ports"; cli ports; echo
show() {
  echo "\$ tamrisk-cli exec --port DEMO $*"
  cli exec --port DEMO --speed 115200 "$@" || true
}
show 119 I
show 61 "31-02-12 10:00"   # no such date: the printer refuses it

# The station's window comes later; for now the demo script runs headless.
echo "\$ tamrisk-cli run --port DEMO examples/demo.inp"
cli run --port DEMO --speed 115200 examples/demo.inp </dev/null || true
