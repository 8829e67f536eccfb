#!/usr/bin/env bash
# Installs what is missing, builds, and starts the printer simulator on a
# virtual port (DEMO). With a display it opens the station on that port with
# the demo script loaded: press Connect, then Execute Script. Without one it
# talks to the simulator through tamrisk-cli: a few commands, then the demo
# script with every kind of line and the final test whose checks judge the
# answers, showing the log, and then the records they left; forty more quiet
# runs of the final test, then the numbers of today's runs and the capability
# of the final test's measurements (in a temporary records file, so the demo
# adds nothing to the user's). The simulator's journal figure varies from unit
# to unit and creeps upwards, so that the measurements have a spread and a drift.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null

bin=build/default/src
portfile=$(mktemp)
start_simulator() {
  "$bin/sim/tamrisk-sim" --name DEMO --vary 2026 --vary-spread 150 --vary-drift 12 >"$portfile" &
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
final_runs=40
echo "\$ for i in \$(seq $final_runs); do tamrisk-cli run --port DEMO --unit FP3-\$i --vars examples/final-test.vars examples/final-test.inp >/dev/null; done"
pass=0 fail=0 other=0
for i in $(seq "$final_runs"); do
  status=0
  cli run --port DEMO --speed 115200 --unit "FP3-$i" --vars examples/final-test.vars examples/final-test.inp \
    </dev/null >/dev/null 2>&1 || status=$?
  case $status in 0) pass=$((pass + 1)) ;; 1) fail=$((fail + 1)) ;; *) other=$((other + 1)) ;; esac
done
echo "$final_runs runs of the final test: $pass pass, $fail fail$( [ "$other" -eq 0 ] || echo ", $other error")"
echo
echo "\$ tamrisk-cli records stats"
cli records stats
echo
echo "\$ tamrisk-cli records capability"; cli records capability
