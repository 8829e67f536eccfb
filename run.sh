#!/usr/bin/env bash
# Installs what is missing, builds, and starts the printer simulator on a
# virtual port (DEMO). With a display it opens the station on that port with
# the demo script loaded: press Connect, then Execute Script. Without one it
# talks to the simulator through tamrisk-cli: a few commands, then the demo
# script with every kind of line and the final test whose checks judge the
# answers, showing the log, and then the records they left and the numbers of
# today's runs (in a temporary records file, so the demo adds nothing to the user's).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null

bin=build/default/src
portfile=$(mktemp)
start_simulator() {
  "$bin/sim/tamrisk-sim" --name DEMO >"$portfile" &
  sim=$!
  trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$portfile"; rm -rf "${recordsdir:-}"' EXIT
  for _ in $(seq 50); do [ -s "$portfile" ] && break; sleep 0.1; done
  port=$(head -n 1 "$portfile")
  echo "Simulated printer on $port"
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build --preset default --target tamrisk tamrisk-sim
  start_simulator
  echo "Opening the station on DEMO with examples/demo.inp: press Connect, then Execute Script;"
  echo "Records in the menu bar lists the run's record (kept in your records file)."
  "$bin/app/tamrisk" --port DEMO examples/demo.inp
  exit 0
fi

cmake --build --preset default --target tamrisk-cli tamrisk-sim
recordsdir=$(mktemp -d)
export TAMRISK_RECORDS="$recordsdir/records.sqlite"
start_simulator
echo "(no display: the demo runs headless through tamrisk-cli; records go to $TAMRISK_RECORDS)"
echo

cli() { "$bin/cli/tamrisk-cli" "$@"; }
echo "\$ tamrisk-cli ports"; cli ports; echo
show() {
  echo "\$ tamrisk-cli exec --port DEMO $*"
  cli exec --port DEMO --speed 115200 "$@" || true
}
show 119 I
show 61 "31-02-12 10:00"   # no such date: the printer refuses it

echo "\$ tamrisk-cli run --port DEMO examples/demo.inp"
cli run --port DEMO --speed 115200 examples/demo.inp </dev/null || true
echo
echo "\$ tamrisk-cli run --port DEMO --vars examples/final-test.vars examples/final-test.inp"
cli run --port DEMO --speed 115200 --vars examples/final-test.vars examples/final-test.inp </dev/null || true
echo
echo "\$ tamrisk-cli records list"
cli records list
echo
echo "\$ tamrisk-cli records stats"
cli records stats
