#!/usr/bin/env bash
# A private PostgreSQL server for the tests, from Debian's postgresql package:
# made in a temporary folder, listening only on a Unix socket in that folder
# (no TCP), with trust for local connections, a role `tamrisk` that may create
# databases and roles and a database `tamrisk_test` it owns. No autovacuum: its
# workers would keep a test's database from being dropped at the test's end.
# With --tls it listens on TCP too, on 127.0.0.1 and a free port, with TLS only
# (ssl = on, hostssl lines): its certificate, for 127.0.0.1 and localhost, is
# signed by an authority of its own, made with openssl in FOLDER/tls.
#
#   eval "$(scripts/test-postgres.sh start)"   # prints the exports below
#   eval "$(scripts/test-postgres.sh start --tls)"
#   ... tests read TAMRISK_TEST_POSTGRESQL ...
#   scripts/test-postgres.sh halt               # stops it, keeping its folder (an outage)
#   scripts/test-postgres.sh resume             # starts it again on the same data and socket
#   scripts/test-postgres.sh stop               # stops it and removes the folder
#
# start prints `export TAMRISK_TEST_POSTGRESQL=postgresql://tamrisk@/tamrisk_test?host=FOLDER`
# (with --tls `postgresql://tamrisk@:PORT/tamrisk_test?host=FOLDER`)
# and `export TAMRISK_TEST_POSTGRESQL_DIR=FOLDER`; halt, resume and stop take the
# folder as their argument or from TAMRISK_TEST_POSTGRESQL_DIR. start --tls
# also prints `export TAMRISK_TEST_POSTGRESQL_TLS=postgresql://tamrisk@127.0.0.1:PORT/tamrisk_test`
# and `export TAMRISK_TEST_POSTGRESQL_CA=FOLDER/tls/ca.crt` (the authority's certificate). PostgreSQL refuses to run as
# root: as root the server runs as the user `nobody`.
set -euo pipefail

bindir() {
  local dir
  dir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [ -z "$dir" ] || [ ! -x "$dir/pg_ctl" ]; then
    echo "PostgreSQL server binaries not found under /usr/lib/postgresql (Debian package postgresql)" >&2
    exit 1
  fi
  echo "$dir"
}

# Runs a command as the server's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

# Starts the server of `folder` (made by start) and waits until it takes connections.
# Where it listens is in its postgresql.conf.
serve() {
  as_owner "$1/pg_ctl" -D "$2/data" -l "$2/server.log" -w -t 30 start >/dev/null
}

# A TCP port of 127.0.0.1 that nothing listens on, below the range the kernel
# gives outgoing connections their local ports from: a port in that range may be
# taken by a connection (the suite's own, to its servers) between this check and
# the server's bind.
free_port() {
  local port tries low=32768 high
  read -r low high </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || true
  [ "$low" -gt 11000 ] || low=32768
  for tries in $(seq 50); do
    port=$((10000 + RANDOM % (low - 10000)))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "no free TCP port found" >&2
  return 1
}

# Makes an authority and a server certificate it signs in FOLDER/tls, and sets the
# server up to take TCP connections on 127.0.0.1:PORT with TLS only.
tls() {
  local folder=$1 port=$2 tls=$1/tls
  mkdir -p "$tls"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tamrisk test authority" \
    -keyout "$tls/ca.key" -out "$tls/ca.crt" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$tls/server.key" -out "$tls/server.csr" \
    2>/dev/null
  printf 'subjectAltName = IP:127.0.0.1, DNS:localhost\n' >"$tls/server.ext"
  openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
    -extfile "$tls/server.ext" -out "$tls/server.crt" 2>/dev/null
  chmod 600 "$tls/server.key"
  [ "$(id -u)" -eq 0 ] && chown -R nobody "$tls"
  cat >>"$folder/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
ssl = on
ssl_cert_file = '$tls/server.crt'
ssl_key_file = '$tls/server.key'
CONF
  # Unix socket as before; over TCP only TLS connections.
  printf 'local all all trust\nhostssl all all 127.0.0.1/32 trust\n' >"$folder/data/pg_hba.conf"
}

# The folder named by the argument or by TAMRISK_TEST_POSTGRESQL_DIR; fails when there is none.
server_folder() {
  local folder=${1:-${TAMRISK_TEST_POSTGRESQL_DIR:-}}
  if [ -z "$folder" ] || [ ! -d "$folder/data" ]; then
    echo "no test server in '${folder}' (give its folder or set TAMRISK_TEST_POSTGRESQL_DIR)" >&2
    exit 1
  fi
  echo "$folder"
}

# Stops the server at once, its connections cut as by an outage; its data and folder stay.
# A halted server stays halted.
halt() {
  local folder
  folder=$(server_folder "${1:-}")
  [ -f "$folder/data/postmaster.pid" ] || return 0
  as_owner "$(bindir)/pg_ctl" -D "$folder/data" -m fast -w -t 30 stop >/dev/null
}

# Starts a halted server again on the same data folder and socket; a running one runs on.
resume() {
  local folder
  folder=$(server_folder "${1:-}")
  [ -f "$folder/data/postmaster.pid" ] && return 0
  if ! serve "$(bindir)" "$folder"; then
    tail -n 20 "$folder/server.log" >&2
    exit 1
  fi
}

start() {
  local bin folder url port=
  bin=$(bindir)
  # Short, so that the socket's path stays within the 107 bytes a Unix socket allows.
  folder=$(mktemp -d /tmp/tpg.XXXXXX)
  chmod 755 "$folder"
  [ "$(id -u)" -eq 0 ] && chown nobody "$folder"
  if ! as_owner "$bin/initdb" -D "$folder/data" -U postgres --auth=trust --encoding=UTF8 --locale=C \
      >"$folder/initdb.log" 2>&1; then
    cat "$folder/initdb.log" >&2
    rm -rf "$folder"
    exit 1
  fi
  cat >>"$folder/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$folder'
fsync = off
autovacuum = off
CONF
  if [ "${1:-}" = "--tls" ]; then
    if ! port=$(free_port) || ! tls "$folder" "$port"; then
      rm -rf "$folder"
      exit 1
    fi
  fi
  # A port free when it was chosen can still be taken before the server binds it:
  # then the server starts again on another (the last `port` line holds).
  local tries=1
  until serve "$bin" "$folder"; do
    if [ -z "$port" ] || [ "$tries" -ge 5 ] || ! grep -q 'could not bind' "$folder/server.log" \
        || ! port=$(free_port); then
      cat "$folder/server.log" >&2
      rm -rf "$folder"
      exit 1
    fi
    tries=$((tries + 1))
    echo "port = $port" >>"$folder/data/postgresql.conf"
    : >"$folder/server.log"
  done
  "$bin/psql" -h "$folder" -p "${port:-5432}" -U postgres -d postgres -v ON_ERROR_STOP=1 -q \
    -c "CREATE ROLE tamrisk LOGIN CREATEDB CREATEROLE" -c "CREATE DATABASE tamrisk_test OWNER tamrisk" >&2 || {
    stop "$folder"
    exit 1
  }
  # The socket's name has the server's port in it.
  url="postgresql://tamrisk@${port:+:$port}/tamrisk_test?host=$folder"
  echo "export TAMRISK_TEST_POSTGRESQL='$url'"
  echo "export TAMRISK_TEST_POSTGRESQL_DIR='$folder'"
  if [ -n "$port" ]; then
    echo "export TAMRISK_TEST_POSTGRESQL_TLS='postgresql://tamrisk@127.0.0.1:$port/tamrisk_test'"
    echo "export TAMRISK_TEST_POSTGRESQL_CA='$folder/tls/ca.crt'"
  fi
}

stop() {
  local folder=${1:-${TAMRISK_TEST_POSTGRESQL_DIR:-}}
  if [ -z "$folder" ] || [ ! -d "$folder" ]; then
    return 0  # nothing started, or stopped already
  fi
  if [ -f "$folder/data/postmaster.pid" ]; then
    as_owner "$(bindir)/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$folder"
}

case "${1:-}" in
  start) start "${2:-}" ;;
  stop) stop "${2:-}" ;;
  halt) halt "${2:-}" ;;
  resume) resume "${2:-}" ;;
  *)
    echo "usage: $0 start [--tls] | halt [FOLDER] | resume [FOLDER] | stop [FOLDER]" >&2
    exit 2
    ;;
esac
