#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster for tests and benchmarks, holding an empty "snipjar" database.
#   pg-cluster.sh init DIR PORT | start DIR | stop DIR | psql DIR [ARGS] | backup DIR FILE | restore DIR FILE
# The administrator connects by peer on the Unix socket in DIR; other roles by password, on the
# socket or on 127.0.0.1:PORT. Run as root, the server runs as the "postgres" system user, as
# initdb refuses root.
set -euo pipefail
PG_BIN=${SNIPJAR_PG_BIN:-/usr/lib/postgresql/15/bin}
command=${1:?command}
dir=${2:?folder}
admin=$(id -un)
as_server() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
[ "$(id -u)" -eq 0 ] && admin=postgres
at=(-h "$dir" -p "$(cat "$dir/port" 2>/dev/null || echo "${3:-0}")")
start() {
    as_server "$PG_BIN/pg_ctl" -D "$dir/data" status >/dev/null 2>&1 && return 0
    as_server "$PG_BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 120 start >/dev/null ||
        { tail -n 20 "$dir/server.log" >&2; exit 1; }
}
case $command in
init)
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    chmod 0700 "$dir"
    echo "${3:?port}" | as_server tee "$dir/port" >/dev/null
    as_server "$PG_BIN/initdb" -D "$dir/data" -U "$admin" -A peer -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    printf "port = %s\nlisten_addresses = '127.0.0.1'\nunix_socket_directories = '%s'\n" "$3" "$dir" |
        as_server tee -a "$dir/data/postgresql.conf" >/dev/null
    printf 'local all %s peer\nlocal all all scram-sha-256\nhost all all 127.0.0.1/32 scram-sha-256\n' "$admin" |
        as_server tee "$dir/data/pg_hba.conf" >/dev/null
    start
    as_server "$PG_BIN/createdb" "${at[@]}" snipjar ;;
start) start ;;
stop) as_server "$PG_BIN/pg_ctl" -D "$dir/data" status >/dev/null 2>&1 || exit 0
    as_server "$PG_BIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null ;;
psql) shift 2; as_server "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 "${at[@]}" -d snipjar "$@" ;;
backup) (umask 077; as_server "$PG_BIN/pg_dump" -Fc "${at[@]}" -d snipjar >"$3") ;;
restore)
    as_server "$PG_BIN/psql" -X -q "${at[@]}" -d postgres -c "DROP DATABASE IF EXISTS snipjar WITH (FORCE)"
    as_server "$PG_BIN/pg_restore" --create --exit-on-error "${at[@]}" -d postgres <"${3:?file}" ;;
*) sed -n 3p "$0" >&2; exit 2 ;;
esac
