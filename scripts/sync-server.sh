#!/usr/bin/env bash
# A private PostgreSQL 15 server for Snipjar's sync, for a user who has none.
#
#   sync-server.sh init DIR [--port N] [--listen ADDRESSES] [--tls CERT KEY]
#                                             new cluster in DIR, started, schema applied
#   sync-server.sh start|stop|status DIR
#   sync-server.sh add-user DIR NAME [--password P | --generate]
#   sync-server.sh migrate DIR                applies the schema migrations not yet applied
#   sync-server.sh psql DIR [psql arguments]  psql as the administrator, on the Unix socket
#   sync-server.sh backup DIR FILE            the whole sync database into FILE (readable by you only)
#   sync-server.sh restore DIR FILE           replaces the sync database with a backup's; clients
#                                             connected are cut off and reconnect
#
# The server listens on a Unix socket in DIR and on a TCP port (localhost unless --listen names
# other addresses, such as '*'; scram-sha-256 passwords; TLS with the certificate and key given).
# Run as root, the server runs as the "postgres" system user (initdb refuses root) and DIR is
# handed to it. Nothing here touches a system PostgreSQL service.
set -euo pipefail

PG_BIN=${SNIPJAR_PG_BIN:-/usr/lib/postgresql/15/bin}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
migrations=${SNIPJAR_PG_MIGRATIONS:-$here/../src/sync/cloud/postgres/migrations}
database=snipjar

usage() {
    sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

die() {
    echo "sync-server: $*" >&2
    exit 1
}

# The system user that runs the server: ourselves, or "postgres" when we are root.
server_user() {
    if [ "$(id -u)" -eq 0 ]; then
        echo "${SNIPJAR_PG_USER:-postgres}"
    else
        id -un
    fi
}

as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u "$(server_user)" -- "$@"
    else
        "$@"
    fi
}

port_of() {
    cat "$1/port" 2>/dev/null || die "$1 holds no sync server (run init first)"
}

admin_psql() {
    local dir=$1
    shift
    as_server "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$(port_of "$dir")" -d "$database" "$@"
}

is_running() {
    as_server "$PG_BIN/pg_ctl" -D "$1/data" status >/dev/null 2>&1
}

start_server() {
    local dir=$1
    if is_running "$dir"; then
        return 0
    fi
    as_server "$PG_BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 120 start >/dev/null \
        || { tail -n 20 "$dir/server.log" >&2 || true; die "the server did not start"; }
}

schema_version() {
    if [ "$(admin_psql "$1" -At -c "SELECT to_regclass('snipjar.schema_version') IS NOT NULL")" = t ]; then
        admin_psql "$1" -At -c "SELECT max(version) FROM snipjar.schema_version"
    else
        echo 0
    fi
}

cmd_migrate() {
    local dir=$1 current file number
    current=$(schema_version "$dir")
    for file in "$migrations"/[0-9][0-9][0-9]_*.sql; do
        number=$((10#$(basename "$file" | cut -c1-3)))
        if [ "$number" -gt "$current" ]; then
            admin_psql "$dir" -1 -f - <"$file" >/dev/null
            echo "applied $(basename "$file")"
        fi
    done
}

cmd_init() {
    local dir=$1
    shift
    local port=5432 listen=localhost cert="" key=""
    while [ $# -gt 0 ]; do
        case $1 in
        --port) port=${2:?--port needs a number}; shift 2 ;;
        --listen) listen=${2:?--listen needs addresses}; shift 2 ;;
        --tls) cert=${2:?--tls needs a certificate and a key}; key=${3:?--tls needs a key}; shift 3 ;;
        *) usage ;;
        esac
    done
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    [ -e "$dir/data" ] && die "$dir already holds a cluster"
    if [ "$(id -u)" -eq 0 ]; then
        chown "$(server_user):" "$dir"
    fi
    chmod 0700 "$dir"
    as_server test -w "$dir" || die "$(server_user) cannot write to $dir (a parent folder is closed to it)"
    echo "$port" | as_server tee "$dir/port" >/dev/null
    as_server "$PG_BIN/initdb" -D "$dir/data" -U "$(server_user)" --auth-local=peer --auth-host=scram-sha-256 \
        -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; die "initdb failed"; }
    as_server tee -a "$dir/data/postgresql.conf" >/dev/null <<CONF

# Snipjar sync server
port = $port
listen_addresses = '$listen'
unix_socket_directories = '$dir'
password_encryption = 'scram-sha-256'
lo_compat_privileges = off
CONF
    if [ -n "$cert" ]; then
        as_server tee "$dir/data/server.crt" <"$cert" >/dev/null
        as_server tee "$dir/data/server.key" <"$key" >/dev/null
        as_server chmod 0600 "$dir/data/server.key"
        echo "ssl = on" | as_server tee -a "$dir/data/postgresql.conf" >/dev/null
    fi
    # The administrator by peer on the socket; users with passwords, on the socket and over TCP.
    as_server tee "$dir/data/pg_hba.conf" >/dev/null <<HBA
local   all   $(server_user)   peer
local   $database   +snipjar_users   scram-sha-256
host    $database   +snipjar_users   0.0.0.0/0   scram-sha-256
host    $database   +snipjar_users   ::/0        scram-sha-256
HBA
    start_server "$dir"
    as_server "$PG_BIN/createdb" -h "$dir" -p "$port" "$database"
    cmd_migrate "$dir" >/dev/null
    echo "sync server ready in $dir, port $port"
}

generate_password() {
    head -c 18 /dev/urandom | base64 | tr '+/' '-_'
}

cmd_add_user() {
    local dir=$1 name=$2
    shift 2
    local password="" generated=0
    while [ $# -gt 0 ]; do
        case $1 in
        --password) password=${2?--password needs a value}; shift 2 ;;
        --generate) generated=1; shift ;;
        *) usage ;;
        esac
    done
    if [ -z "$password" ] && [ $generated -eq 0 ] && [ -t 0 ]; then
        local again
        read -r -s -p "Password for $name: " password; echo >&2
        read -r -s -p "Again: " again; echo >&2
        [ "$password" = "$again" ] || die "the passwords differ"
    fi
    if [ -z "$password" ]; then
        password=$(generate_password)
        generated=1
    fi
    # Variables keep the name and password out of the SQL text's quoting.
    printf '%s\n' "CREATE ROLE :\"name\" LOGIN PASSWORD :'password' IN ROLE snipjar_users;" \
        | admin_psql "$dir" -v name="$name" -v password="$password"
    if [ $generated -eq 1 ]; then
        echo "$password"
    fi
}

cmd_backup() {
    local dir=$1 file=$2
    (
        umask 077
        as_server "$PG_BIN/pg_dump" -Fc -h "$dir" -p "$(port_of "$dir")" -d "$database" >"$file.part"
    ) || { rm -f "$file.part"; die "the backup failed"; }
    mv "$file.part" "$file"
}

# The roles stay (they are the cluster's); the database, its rights, rows and large objects are the
# backup's.
cmd_restore() {
    local dir=$1 file=$2
    [ -r "$file" ] || die "cannot read $file"
    as_server "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$(port_of "$dir")" -d postgres \
        -c "DROP DATABASE IF EXISTS $database WITH (FORCE)"
    as_server "$PG_BIN/pg_restore" --create --exit-on-error -h "$dir" -p "$(port_of "$dir")" -d postgres \
        <"$file" || die "the restore failed"
}

cmd_status() {
    local dir=$1
    if is_running "$dir"; then
        echo "running in $dir, port $(port_of "$dir"), schema version $(schema_version "$dir")"
    else
        echo "stopped ($dir)"
        return 3
    fi
}

[ $# -ge 2 ] || usage
command=$1
dir=$2
shift 2
case $command in
init) cmd_init "$dir" "$@" ;;
start) start_server "$dir" ;;
stop) if is_running "$dir"; then as_server "$PG_BIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null; fi ;;
status) cmd_status "$dir" ;;
add-user) [ $# -ge 1 ] || usage; cmd_add_user "$dir" "$@" ;;
migrate) cmd_migrate "$dir" ;;
psql) admin_psql "$dir" "$@" ;;
backup) [ $# -eq 1 ] || usage; cmd_backup "$dir" "$1" ;;
restore) [ $# -eq 1 ] || usage; cmd_restore "$dir" "$1" ;;
*) usage ;;
esac
