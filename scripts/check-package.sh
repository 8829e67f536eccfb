#!/usr/bin/env bash
# Builds the Debian package from the default build and checks it as a user's
# machine would see it. lintian fails it on any error and prints its warnings
# and notes; the desktop entry and the AppStream metadata must validate. Then
# the package is unpacked with dpkg-deb -x into a temporary folder (nothing is
# installed) and its programs run from there, with the machine's libraries only:
# the versions of all three, tamrisk-sim driven by tamrisk-cli exec, the station
# offscreen (--help, and a start that opens its records). Every Qt plugin these
# runs load must come from a package that the package depends on, since Qt
# loads plugins by name at run time and dpkg-shlibdeps cannot see them.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
  echo "check-package: $*" >&2
  exit 1
}

build=build/default
cmake --build --preset default --target package
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$version" ] || fail "no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake"
deb="$build/tamrisk_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "the package target made no $deb"
echo "== package: $deb =="
dpkg-deb --info "$deb" control

echo "== lintian (fails on errors) =="
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" || fail "lintian reports errors"

work=$(mktemp -d)
sim=""
station=""
cleanup() {
  for pid in $sim $station; do { kill "$pid" && wait "$pid"; } 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
root="$work/root"
dpkg-deb -x "$deb" "$root"

echo "== contents =="
bin="$root/usr/bin"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[ ${#metainfo[@]} -eq 1 ] && [ -f "${metainfo[0]}" ] || fail "want one AppStream file, found: ${metainfo[*]}"
expected=(
  usr/bin/tamrisk usr/bin/tamrisk-cli usr/bin/tamrisk-sim
  usr/share/applications/tamrisk.desktop
  usr/share/icons/hicolor/scalable/apps/tamrisk.svg
  usr/share/man/man1/tamrisk.1.gz usr/share/man/man1/tamrisk-cli.1.gz usr/share/man/man1/tamrisk-sim.1.gz
  usr/share/doc/tamrisk/copyright usr/share/doc/tamrisk/changelog.gz
  lib/systemd/system/tamrisk-dashboard.service etc/default/tamrisk-dashboard
)
for file in "${expected[@]}"; do
  [ -f "$root/$file" ] || fail "the package has no /$file"
done
desktop-file-validate "$root/usr/share/applications/tamrisk.desktop" || fail "desktop entry not valid"
echo "desktop entry: valid"
appstreamcli validate --no-net "${metainfo[0]}" || fail "AppStream metadata not valid"
# The newest release in the metadata and in the changelog is this version.
release=$(grep -o -m 1 '<release version="[^"]*"' "${metainfo[0]}" | cut -d '"' -f 2)
[ "$release" = "$version" ] || fail "newest AppStream release is '$release', the project's version $version"
changelog=$(gzip -dc "$root/usr/share/doc/tamrisk/changelog.gz" | head -n 1)
[[ "$changelog" == "tamrisk ($version) "* ]] || fail "changelog starts '$changelog', not version $version"

echo "== the dashboard's service =="
# Its settings file is a conffile; the unit is valid, runs the packaged program
# with the settings file's variables, as a user of its own, and nothing enables it.
control="$work/control"
dpkg-deb -e "$deb" "$control"
grep -q -x -F /etc/default/tamrisk-dashboard "$control/conffiles" || fail "/etc/default/tamrisk-dashboard is no conffile"
for script in preinst postinst prerm postrm; do
  if [ -f "$control/$script" ] && grep -q -E 'systemctl|deb-systemd' "$control/$script"; then
    fail "$script touches the service: it is installed disabled"
  fi
done
unit="$root/lib/systemd/system/tamrisk-dashboard.service"
for line in 'ExecStart=/usr/bin/tamrisk-cli dashboard --listen ${TAMRISK_DASHBOARD_LISTEN}' \
            'EnvironmentFile=-/etc/default/tamrisk-dashboard' 'DynamicUser=yes'; do
  grep -q -x -F "$line" "$unit" || fail "the service has no line $line"
done
for variable in TAMRISK_RECORDS TAMRISK_DASHBOARD_LISTEN; do
  grep -q "^$variable=" "$root/etc/default/tamrisk-dashboard" || fail "the settings file sets no $variable"
done
# Verified against the package's own program: the unit's path rewritten into the unpacked tree.
sed "s|/usr/bin/tamrisk-cli|$bin/tamrisk-cli|" "$unit" >"$work/tamrisk-dashboard.service"
systemd-analyze verify --man=no "$work/tamrisk-dashboard.service" || fail "the service does not verify"
echo "tamrisk-dashboard.service: valid, disabled, settings in /etc/default/tamrisk-dashboard"

echo "== libraries =="
for program in tamrisk tamrisk-cli tamrisk-sim; do
  if readelf -d "$bin/$program" | grep -q -E 'RPATH|RUNPATH'; then fail "$program carries a library path"; fi
  libraries=$(ldd "$bin/$program")
  if grep -q 'not found' <<<"$libraries"; then fail "$program misses libraries: $libraries"; fi
  if grep -v -E '^\s*(linux-vdso\.so|/lib64/ld-linux)' <<<"$libraries" | grep -q -v -E '=> /(usr/)?lib/'; then
    fail "$program takes libraries from outside the system's: $libraries"
  fi
  echo "$program: $(wc -l <<<"$libraries") libraries, all the system's"
done

# The programs run in a private runtime folder (their virtual ports), settings
# and data, with no display.
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM TAMRISK_RECORDS TAMRISK_LOCAL_RECORDS

echo "== versions =="
for program in tamrisk tamrisk-cli tamrisk-sim; do
  said=$("$bin/$program" --version) || fail "$program --version failed"
  [ "$said" = "$program $version" ] || fail "$program --version says '$said', want '$program $version'"
  echo "$said"
done

echo "== tamrisk-sim with tamrisk-cli exec =="
"$bin/tamrisk-sim" --name PKG >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 100); do
  [ -s "$work/sim.out" ] && break
  kill -0 "$sim" 2>/dev/null || fail "tamrisk-sim ended: $(cat "$work/sim.err")"
  sleep 0.1
done
[ -s "$work/sim.out" ] || fail "tamrisk-sim published no port"
echo "tamrisk-sim on $(head -n 1 "$work/sim.out")"
QT_DEBUG_PLUGINS=1 TAMRISK_RECORDS="$work/records.sqlite" \
  "$bin/tamrisk-cli" exec --port PKG --color never 74 >"$work/exec.out" 2>"$work/exec.plugins" ||
  fail "tamrisk-cli exec failed: $(grep -v '^qt\.' "$work/exec.plugins")"
cat "$work/exec.out"
[ "$(sed -n 1p "$work/exec.out")" = '-> 74,""' ] || fail "exec sent no request 74"
sed -n 2p "$work/exec.out" | grep -q -E '^<- \[[0-9A-F]{2}(,[0-9A-F]{2}){5}\]' || fail "exec got no answer"
# The line's database driver: the refused connection comes after the driver loaded.
QT_DEBUG_PLUGINS=1 "$bin/tamrisk-cli" records list --records postgresql://tamrisk@127.0.0.1:1/tamrisk \
  >/dev/null 2>"$work/psql.plugins" && fail "records list on a closed port succeeded"

echo "== tamrisk-cli dashboard =="
# The page over the records file exec wrote, with Chart.js from libjs-chart.js.
"$bin/tamrisk-cli" dashboard --records "$work/records.sqlite" --listen 127.0.0.1:0 >"$work/dashboard.out" 2>&1 &
dashboard=$!
for _ in $(seq 100); do
  [ -s "$work/dashboard.out" ] && break
  sleep 0.1
done
url=$(grep -o 'http://[^ ]*' "$work/dashboard.out") || fail "the dashboard serves nowhere: $(cat "$work/dashboard.out")"
for path in / /dashboard.js /chart.js /api/stats /api/records; do
  curl --silent --fail --output /dev/null "${url%/}$path" || fail "the dashboard does not serve $path"
done
kill -TERM "$dashboard" && wait "$dashboard" || fail "the dashboard did not end with status 0 on SIGTERM"
echo "tamrisk-cli dashboard: served /, its script, Chart.js and the API at $url"

echo "== tamrisk offscreen =="
QT_QPA_PLATFORM=offscreen timeout 60 "$bin/tamrisk" --help >"$work/help.out" 2>"$work/help.err" ||
  fail "tamrisk --help offscreen failed ($?): $(cat "$work/help.err")"
grep -q -- '--port' "$work/help.out" || fail "tamrisk --help names no --port: $(cat "$work/help.out")"
echo "tamrisk --help: $(wc -l <"$work/help.out") lines"
# The station starts, draws its windows and opens its records file; then it is ended.
QT_QPA_PLATFORM=offscreen QT_DEBUG_PLUGINS=1 "$bin/tamrisk" --port PKG >/dev/null 2>"$work/station.plugins" &
station=$!
for _ in $(seq 300); do
  grep -q 'libqsqlite\.so" loaded library' "$work/station.plugins" && break
  kill -0 "$station" 2>/dev/null || fail "the station ended: $(grep -v '^qt\.' "$work/station.plugins")"
  sleep 0.1
done
grep -q 'libqsqlite\.so" loaded library' "$work/station.plugins" || fail "the station opened no records file"
kill "$station" && wait "$station" 2>/dev/null || true
station=""

echo "== run-time plugins =="
# Package names in Depends, alternatives and versions aside.
depends=$(dpkg-deb --field "$deb" Depends | tr ',|' '\n\n' | sed -e 's/(.*)//' -e 's/:any//' -e 's/ //g')
plugins=$(grep -h -o '"/[^"]*" loaded library' "$work"/*.plugins | cut -d '"' -f 2 | sort -u)
for wanted in platforms/libqoffscreen.so sqldrivers/libqsqlite.so sqldrivers/libqsqlpsql.so; do
  grep -q "/$wanted\$" <<<"$plugins" || fail "no run loaded $wanted; loaded: $plugins"
done
for plugin in $plugins; do
  owner=$(dpkg-query --search "$plugin" | cut -d : -f 1)
  grep -q -x -F "$owner" <<<"$depends" || fail "$plugin comes from $owner, which the package does not depend on"
  echo "$plugin ($owner)"
done
echo "check-package: $deb is good"
