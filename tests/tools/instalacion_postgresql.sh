#!/usr/bin/env bash
# instalacion_postgresql.sh BUILD_DIR SOURCE_DIR: runs the commands of the
# installation manual's "A PostgreSQL shop with two terminals", as they stand,
# each block where its first line says ("# terminal N, as USER"), against a
# PostgreSQL server of its own; then checks each terminal's diagnosis and the
# first receipt on each terminal's virtual printer.
#
# What stands in for the two machines, and nothing else is changed:
# - a terminal is a directory with its /etc/default/orlan-cola, its
#   /dev/ttyUSB0 (a virtual printer) and a home for each account;
# - 192.168.1.10 is 127.0.0.2 and 192.168.1.0/24 is 127.0.0.0/24; the test
#   server's port goes on a Puerto= line after each Servidor=; /var/run/postgresql is the
#   test server's socket directory and /etc/postgresql/15/main/ its data
#   directory, which includes conf.d/ as Debian's does;
# - Debian's peer line for the owner is a trust line for orlan on the socket
#   (the test runs as one system account);
# - "runuser -u postgres --" runs the server's client program as its
#   superuser; apt and adduser do nothing; "systemctl restart postgresql"
#   restarts the test server, "systemctl enable --now orlan-cola@U.service"
#   starts orlan-cola --servicio in U's home as the unit would.
set -euo pipefail
build=$1 fuente=$2
tmp=$(mktemp -d)
chmod 711 "$tmp"
pg=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
datos=$tmp/pg/datos
como_postgres() { if [ "$(id -u)" = 0 ]; then command runuser -u postgres -- "$@"; else "$@"; fi; }
terminar() {
    [ -f "$tmp/pids" ] && while read -r p; do kill "$p" 2>/dev/null || true; done <"$tmp/pids"
    como_postgres "$pg/pg_ctl" -D "$datos" -m immediate -w stop >/dev/null 2>&1 || true
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap terminar EXIT
fallo() {
    echo "FAIL: $*" >&2
    for f in "$tmp"/*.log "$tmp"/recibo-*.txt "$tmp/pg/servidor.log"; do
        [ -f "$f" ] && { echo "== $f" >&2; cat "$f" >&2; }
    done
    exit 1
}
esperar() { # CONDITION: repeats it for at most 30 s
    for _ in $(seq 300); do eval "$1" && return 0; sleep 0.1; done
    return 1
}

# The database server, listening on no address until the manual says where.
mkdir -p "$tmp/pg" && [ "$(id -u)" != 0 ] || chown postgres: "$tmp/pg"
puerto=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
como_postgres "$pg/initdb" -D "$datos" -E UTF8 --locale=C.UTF-8 -U postgres --no-sync >"$tmp/initdb.log" 2>&1 ||
    fallo "initdb: $(cat "$tmp/initdb.log")"
rm "$tmp/initdb.log"
como_postgres mkdir "$datos/conf.d"
printf "listen_addresses = ''\nfsync = off\ninclude_dir = 'conf.d'\n" >>"$datos/postgresql.conf"
printf 'local all postgres trust\nlocal dborlan orlan trust\n' >"$datos/pg_hba.conf"
como_postgres "$pg/pg_ctl" -D "$datos" -l "$tmp/pg/servidor.log" -w \
    -o "-p $puerto -c unix_socket_directories=$tmp/pg" start >/dev/null || fallo "PostgreSQL did not start"

mkdir -p "$tmp/bin"
for programa in tools/orlan-admin/orlan-admin src/orlan-cola; do
    ln -s "$build/$programa" "$tmp/bin/"
done

# The section's blocks, one file each.
sed -n '/^### A PostgreSQL shop with two terminals/,/^##/p' "$fuente/docs/instalacion.md" |
    awk -v dir="$tmp" '/^ *```sh$/ { n++; dentro = 1; next } /^ *```$/ { dentro = 0; next }
        dentro { sub(/^   /, ""); print > (dir "/bloque-" sprintf("%02d", n) ".sh") }'
ls "$tmp"/bloque-*.sh >/dev/null 2>&1 || fallo "no PostgreSQL walk-through in docs/instalacion.md"

# Every terminal's printer, 48 columns across as an 80 mm roll.
for t in 1 2; do
    mkdir -p "$tmp/t$t/etc/default"
    "$build/tools/impresora-virtual/orlan-impresora-virtual" --modo E --ancho 48 --respuesta 18 \
        --enlace "$tmp/t$t/ttyUSB0" --captura "$tmp/t$t/bytes.bin" >"$tmp/recibo-$t.txt" 2>"$tmp/impresora-$t.log" &
    echo $! >>"$tmp/pids"
    esperar '[ -e "$tmp/t$t/ttyUSB0" ]' || fallo "the virtual printer of terminal $t did not start"
done

# The passwords the owner's block is asked for, in its order.
printf '%s\n' "the password of caja" "the password of barra" "the operator's password" >"$tmp/entrada"

for bloque in "$tmp"/bloque-*.sh; do
    read -r _ _ t _ usuario <<<"$(head -n 1 "$bloque" | tr -d ',')"
    [[ "$t" =~ ^[12]$ && -n "$usuario" ]] || fallo "block $(basename "$bloque") names no terminal and account"
    casa=$tmp/t$t/$usuario
    mkdir -p "$casa"
    sed -e "s|/usr/share/orlan-cola/|$fuente/src/database/|g" \
        -e "s|/etc/default/orlan-cola|$tmp/t$t/etc/default/orlan-cola|g" -e "s|/dev/ttyUSB0|$tmp/t$t/ttyUSB0|g" \
        -e "s|/etc/postgresql/15/main/|$datos/|g" -e "s|/var/run/postgresql|$tmp/pg|g" \
        -e "s|192.168.1.10|127.0.0.2|g" -e "s|192.168.1.0/24|127.0.0.0/24|g" -e "/^Servidor=/a Puerto=$puerto" \
        "$bloque" >"$casa/pasos.sh"
    cat >"$casa/ambiente.sh" <<FIN
apt() { :; }
adduser() { :; }
runuser() { shift 3; local programa=\$1; shift; PGHOST=$tmp/pg PGPORT=$puerto PGUSER=postgres "$pg/\$programa" "\$@"; }
systemctl() {
    case "\$*" in
    "restart postgresql") como_postgres "$pg/pg_ctl" -D "$datos" -m fast -w restart >/dev/null ;;
    "enable --now orlan-cola@"*.service)
        local cuenta=\${3#orlan-cola@} && cuenta=\${cuenta%.service}
        ( set -a; . "$tmp/t$t/etc/default/orlan-cola"; set +a; cd "$tmp/t$t/\$cuenta"
          exec env HOME="$tmp/t$t/\$cuenta" orlan-cola --servicio ) >"$tmp/servicio-$t.log" 2>&1 &
        echo \$! >>"$tmp/pids" ;;
    *) return 1 ;;
    esac
}
FIN
    entrada=/dev/null
    [ "$usuario" = orlan ] && entrada=$tmp/entrada
    registro=$tmp/$(basename "$bloque" .sh)-t$t-$usuario.log
    (cd "$casa" && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u ODBCSYSINI HOME="$casa" \
        ORLAN_AMBIENTE="$tmp/t$t/etc/default/orlan-cola" PATH="$tmp/bin:$PATH" \
        bash -euo pipefail -c "$(declare -f como_postgres); . '$casa/ambiente.sh'; . '$casa/pasos.sh'" \
        <"$entrada" >"$registro" 2>&1) || fallo "block $(basename "$bloque") (terminal $t, as $usuario) failed"
done

for t in 1 2; do
    usuario=$([ "$t" = 1 ] && echo caja || echo barra)
    nombre=$([ "$t" = 1 ] && echo Caja || echo Barra)
    diagnostico=$(cat "$tmp"/bloque-*-t$t-$usuario.log)
    grep -q "La terminal puede servir la cola." <<<"$diagnostico" || fallo "diagnostico did not pass on terminal $t"
    grep -q "^\[FALLA\]" <<<"$diagnostico" && fallo "diagnostico reported a failure on terminal $t"
    esperar 'grep -q "Terminal $t, impresora $nombre" "$tmp/recibo-$t.txt"' || fallo "no receipt on terminal $t"
    grep -q "PRUEBA DE IMPRESION" "$tmp/recibo-$t.txt" || fallo "the first line is missing on terminal $t"
    if grep "Terminal $t, impresora $nombre" "$tmp/recibo-$t.txt" | grep -q "PRUEBA"; then
        fallo "the two lines ran together on terminal $t"
    fi
done
grep -q "permission denied" "$tmp"/servicio-*.log && fallo "a server was refused a privilege"
echo "the PostgreSQL walk-through printed a receipt on each of its two terminals"
