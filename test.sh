#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the default build's
# (while the sanitizer build compiles), then the same suite under the address
# and undefined-behaviour sanitizers while the fuzz targets compile and the
# Debian package is checked (scripts/check-package.sh: lintian, the desktop
# entry, AppStream, and the unpacked programs run), then the
# fuzz targets (clang, libFuzzer) over their seeds and briefly beyond. The
# benchmark drivers are not built here: compiled beside the sanitizer build's
# tests they slowed those by half; `--target benchmarks` builds them. Compiler
# warnings are errors in all three builds. The records tests run against SQLite
# and against a private PostgreSQL server (scripts/test-postgres.sh) that lives
# as long as this script, also when it fails or is interrupted.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

scratch=""
declare -A stage_pid=()
cleanup() {
  kill $(jobs -p) 2>/dev/null || true
  for pid in "${stage_pid[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  scripts/test-postgres.sh stop "${TAMRISK_TEST_POSTGRESQL_DIR:-}" || true
  if [ -n "$scratch" ]; then rm -rf "$scratch"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
server=$(scripts/test-postgres.sh start)
eval "$server"
echo "PostgreSQL for the tests: $TAMRISK_TEST_POSTGRESQL"

# A clone built again compiles only what changed since, with ccache where it is installed.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # The precompiled headers are made in the same build: ccache takes them as they are.
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi

# A stage's tests wait on the simulator, the server and the browser for much
# of their time: each build's tests run while the next build compiles, in a
# process group of their own (stopped with this script), their output kept and
# shown once they are done.
background() {  # NAME COMMAND...: runs COMMAND in the background, output to $scratch/NAME.log
  local name=$1
  shift
  setsid bash -c '"$@" >"$0.log" 2>&1; echo $? >"$0.rc"' "$scratch/$name" "$@" &
  stage_pid[$name]=$!
}
finish() {  # NAME: waits for the background stage NAME, shows its output, fails with it
  wait "${stage_pid[$1]}" || true
  unset "stage_pid[$1]"
  cat "$scratch/$1.log"
  local rc
  rc=$(cat "$scratch/$1.rc" 2>/dev/null || echo 1)
  if [ "$rc" != 0 ]; then
    echo "$1 failed" >&2
    exit "$rc"
  fi
}
scratch=$(mktemp -d)

echo "== default =="
cmake --preset default "${launcher[@]}" >/dev/null
cmake --build --preset default
background default-tests ctest --preset default -j2
echo "== asan (building while the default build's tests run) =="
cmake --preset asan "${launcher[@]}" >/dev/null
cmake --build --preset asan
echo "== default: tests =="
finish default-tests
echo "== package: checked while the asan build's tests run =="
background package scripts/check-package.sh
echo "== fuzz: building while the asan build's tests run =="
cmake --preset fuzz "${launcher[@]}" >/dev/null
# At a lower priority than the tests, which wait on processes and timers.
background fuzz-build nice -n 10 cmake --build --preset fuzz --target fuzz_answer fuzz_scriptline fuzz_scriptrun

# The sanitizer build runs whole test executables, the CLI's and the records'
# in parts (see tamrisk_discover_tests), so that no one executable's tests
# outlast the rest.
echo "== asan: tests =="
ctest --preset asan -j2
scripts/test-postgres.sh stop "$TAMRISK_TEST_POSTGRESQL_DIR"
unset TAMRISK_TEST_POSTGRESQL TAMRISK_TEST_POSTGRESQL_DIR
echo "== package =="
finish package
finish fuzz-build

# Every seed in fuzz/corpus/<target> runs first, then new inputs for a few
# seconds, the three targets side by side. New inputs go to a scratch folder,
# so the committed seeds stay as they are; a crashing input is kept in
# build/fuzz/crashes/<target>/.
echo "== fuzz =="
targets=(answer scriptline scriptrun)
declare -A fuzz_pid=()
for target in "${targets[@]}"; do
  crashes="build/fuzz/crashes/$target"
  mkdir -p "$scratch/$target" "$crashes"
  "build/fuzz/fuzz/fuzz_$target" -max_total_time=10 -timeout=25 -artifact_prefix="$crashes/" \
    "$scratch/$target" "fuzz/corpus/$target" >"$scratch/$target.log" 2>&1 &
  fuzz_pid[$target]=$!
done
fuzz_failed=0
for target in "${targets[@]}"; do
  if ! wait "${fuzz_pid[$target]}"; then
    tail -n 40 "$scratch/$target.log"
    echo "fuzz_$target failed; the input is in build/fuzz/crashes/$target/" >&2
    fuzz_failed=1
    continue
  fi
  echo "fuzz_$target: $(ls "fuzz/corpus/$target" | wc -l) seeds, $(tail -n 1 "$scratch/$target.log")"
done
exit "$fuzz_failed"
