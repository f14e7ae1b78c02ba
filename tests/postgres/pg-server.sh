#!/usr/bin/env bash
# Starts or stops a throwaway PostgreSQL server for the tests, listening only on a Unix socket in
# the given folder. As root, the server runs as nobody (PostgreSQL refuses to run as root).
#   pg-server.sh start DIR [PORT]   -> prints the socket folder on success; with PORT it listens
#                                      on 127.0.0.1:PORT too, where logins need a password (scram)
#                                      MORV_PG_MESSAGES=de: the server's messages in that language
#   pg-server.sh stop DIR
#   pg-server.sh crash DIR    -> kills the server at once and starts it again
#   pg-server.sh halt DIR / resume DIR -> stops it (fast) and starts it again later
#   pg-server.sh shared DIR   -> start afresh for a whole test run; never fails, so that the
#                                tests themselves say why they have no server
set -euo pipefail
cmd=$1 dir=$2 port=${3:-}
bindir=""
for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  [ -x "$d/initdb" ] && { bindir=$d; break; }
done
[ -z "$bindir" ] && command -v initdb >/dev/null && bindir=$(dirname "$(command -v initdb)")
[ -z "$bindir" ] && { echo "no PostgreSQL server installed (Debian package postgresql)" >&2; exit 3; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
  else "$@"; fi
}

case $cmd in
shared)
  "$0" stop "$dir" || true
  "$0" start "$dir" || echo "no shared test server; each test program tries its own" >&2
  exit 0
  ;;
start)
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$dir"
  chmod 700 "$dir"
  as_owner "$bindir/initdb" -D "$dir/data" -U morv -A trust -E UTF8 --locale=C --no-sync >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }
  # Over TCP every login needs its password; the socket lets the superuser in without one.
  [ -n "$port" ] && as_owner sed -i -E 's/^(host[[:space:]].*)trust$/\1scram-sha-256/' "$dir/data/pg_hba.conf"
  # Only the socket unless a test asks for a port: none for other developers' tests to clash with.
  listen="listen_addresses=''"
  [ -n "$port" ] && listen="listen_addresses=127.0.0.1 -c port=$port -c password_encryption=scram-sha-256"
  # gettext heeds LANGUAGE under any locale but C, and C.UTF-8 is there without generated locales.
  if [ -n "${MORV_PG_MESSAGES:-}" ]; then
    export LANGUAGE=$MORV_PG_MESSAGES
    listen="$listen -c lc_messages=C.UTF-8"
  fi
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c $listen -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=60" \
    start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  echo "$dir"
  ;;
crash)
  # Killed as a power cut would: no shutdown, crash recovery at the next start.
  as_owner "$bindir/pg_ctl" -D "$dir/data" -w -t 60 -m immediate stop >/dev/null
  "$0" resume "$dir"
  ;;
halt)
  # Stopped as an administrator stops it; resume starts it again on the same data.
  as_owner "$bindir/pg_ctl" -D "$dir/data" -w -t 60 -m fast stop >/dev/null
  ;;
resume)
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=60" \
    start >/dev/null
  ;;
restart)
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -m fast restart >/dev/null
  ;;
stop)
  as_owner "$bindir/pg_ctl" -D "$dir/data" -w -t 60 -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$dir"
  ;;
esac
