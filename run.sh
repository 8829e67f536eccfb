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
#
# ./run.sh --sockets (with a display) also starts four simulated printers,
# SIM1 to SIM4 (SIM4 refusing command 74), and opens the socket window on them
# beside the main window, with the final test loaded: scan or type a unit and
# Enter, and it runs in the first idle socket. Its settings (the sockets' ports)
# and its records are temporary ones; the user's stay untouched.
set -euo pipefail
cd "$(dirname "$0")"

sockets=false
case "${1:-}" in
  "") ;;
  --sockets) sockets=true ;;
  *) echo "usage: $0 [--sockets]" >&2; exit 2 ;;
esac
display=false
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && display=true
if $sockets && ! $display; then
  echo "$0 --sockets opens the socket window: it needs a display (DISPLAY or WAYLAND_DISPLAY)." >&2
  exit 2
fi

./scripts/install-deps.sh
cmake --preset default >/dev/null

bin=build/default/src
rundir=$(mktemp -d)
sims=()
stop_simulators() {
  [ ${#sims[@]} -eq 0 ] || kill "${sims[@]}" 2>/dev/null || true
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$rundir" "${recordsdir:-}"
}
trap stop_simulators EXIT

# Starts a simulator named $1 with the options that follow, and sets `port` to
# the path of its virtual port.
start_simulator() {
  local name=$1 portfile="$rundir/$1.port"
  shift
  "$bin/sim/tamrisk-sim" --name "$name" "$@" >"$portfile" &
  sims+=($!)
  for _ in $(seq 50); do [ -s "$portfile" ] && break; sleep 0.1; done
  port=$(head -n 1 "$portfile")
  [ -n "$port" ] || { echo "tamrisk-sim $name did not start" >&2; exit 1; }
  echo "Simulated printer $name on $port"
}

if $display && $sockets; then
  cmake --build --preset default --target tamrisk tamrisk-sim
  start_simulator DEMO --vary 2026 --vary-spread 150 --vary-drift 12
  # The socket window's settings in a folder of this run: four sockets, each on
  # a simulator of its own (a port serves one socket).
  export XDG_CONFIG_HOME="$rundir/config"
  settings="$XDG_CONFIG_HOME/ZORMIK/ZORMIK Tamrisk.conf"
  mkdir -p "$(dirname "$settings")"
  printf '[Sockets]\nCount=4\nAutoStart=true\n' >"$settings"
  for k in 1 2 3 4; do
    faults=()
    [ "$k" -eq 4 ] && faults=(--status 74=21,00,00,00,00,00)
    start_simulator "SIM$k" --delay 150 "${faults[@]}"
    echo "Port$k=$port" >>"$settings"
  done
  recordsdir=$(mktemp -d)
  export TAMRISK_RECORDS="$recordsdir/records.sqlite"
  echo "Opening the station with the socket window on SIM1 to SIM4 and examples/final-test.inp:"
  echo "type or scan a unit (e.g. FP3-1) and Enter: it runs in the first idle socket. SIM4 refuses"
  echo "command 74, so its socket fails. Records go to $TAMRISK_RECORDS (removed at the end)."
  "$bin/app/tamrisk" --port DEMO --sockets 4 --vars examples/final-test.vars examples/final-test.inp
  exit 0
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build --preset default --target tamrisk tamrisk-sim
  start_simulator DEMO --vary 2026 --vary-spread 150 --vary-drift 12
  echo "Opening the station on DEMO with examples/demo.inp: press Connect, then Execute Script;"
  echo "Records in the menu bar lists the run's record (kept in your records file)."
  echo "($0 --sockets opens the socket window on four simulated printers beside it.)"
  "$bin/app/tamrisk" --port DEMO examples/demo.inp
  exit 0
fi

cmake --build --preset default --target tamrisk-cli tamrisk-sim
recordsdir=$(mktemp -d)
export TAMRISK_RECORDS="$recordsdir/records.sqlite"
start_simulator DEMO --vary 2026 --vary-spread 150 --vary-drift 12
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
