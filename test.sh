#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the default build's,
# then its Debian package's checks (scripts/check-package.sh: lintian, the desktop
# entry, AppStream, and the unpacked programs run), then the same suite under the
# address and undefined-behaviour sanitizers,
# then the fuzz targets (clang, libFuzzer) over their seeds and briefly beyond.
# Compiler warnings are errors in all three builds. The records tests run against
# SQLite and against a private PostgreSQL server (scripts/test-postgres.sh) that
# lives as long as this script, also when it fails or is interrupted.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

scratch=""
cleanup() {
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

for preset in default asan; do
  echo "== $preset =="
  cmake --preset "$preset" "${launcher[@]}" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2
  if [ "$preset" = default ]; then
    echo "== package =="
    scripts/check-package.sh
  fi
done
scripts/test-postgres.sh stop "$TAMRISK_TEST_POSTGRESQL_DIR"
unset TAMRISK_TEST_POSTGRESQL TAMRISK_TEST_POSTGRESQL_DIR

# Every seed in fuzz/corpus/<target> runs first, then new inputs for a few
# seconds. New inputs go to a scratch folder, so the committed seeds stay as
# they are; a crashing input is kept in build/fuzz/crashes/<target>/.
echo "== fuzz =="
cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build --preset fuzz --target fuzz_answer fuzz_scriptline fuzz_scriptrun
scratch=$(mktemp -d)
for target in answer scriptline scriptrun; do
  crashes="build/fuzz/crashes/$target"
  mkdir -p "$scratch/$target" "$crashes"
  if ! "build/fuzz/fuzz/fuzz_$target" -max_total_time=10 -timeout=25 -artifact_prefix="$crashes/" \
      "$scratch/$target" "fuzz/corpus/$target" >"$scratch/$target.log" 2>&1; then
    tail -n 40 "$scratch/$target.log"
    echo "fuzz_$target failed; the input is in $crashes/" >&2
    exit 1
  fi
  echo "fuzz_$target: $(ls "fuzz/corpus/$target" | wc -l) seeds, $(tail -n 1 "$scratch/$target.log")"
done
