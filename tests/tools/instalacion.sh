#!/usr/bin/env bash
# instalacion.sh BUILD_DIR SOURCE_DIR: runs the commands of the installation manual's
# "From an empty database to the first receipt", as they stand, on a fresh
# SQLite database, with a virtual receipt printer where the manual has
# /dev/ttyUSB0, and checks the receipt. The installed paths are mapped to the
# source tree and the build; systemctl starts the built server as the unit
# would, with the environment file.
set -euo pipefail
build=$1 fuente=$2
tmp=$(mktemp -d)
pids=()
terminar() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap terminar EXIT
fallo() {
    echo "FAIL: $*" >&2
    for f in "$tmp"/*.log "$tmp"/recibo.txt; do [ -f "$f" ] && { echo "== $f" >&2; cat "$f" >&2; }; done
    exit 1
}
esperar() { # CONDITION: repeats it for at most 30 s
    for _ in $(seq 300); do eval "$1" && return 0; sleep 0.1; done
    return 1
}

mkdir -p "$tmp/bin" "$tmp/home" "$tmp/etc/default"
for programa in tools/orlan-admin/orlan-admin src/orlan-cola; do
    ln -s "$build/$programa" "$tmp/bin/"
done

# The commands of the installation manual's walk-through (docs/instalacion.md).
sed -n '/^### From an empty database to the first receipt/,/^##/p' "$fuente/docs/instalacion.md" |
    sed -n '/^   ```sh$/,/^   ```$/p' | grep -v '^   ```' | sed 's/^   //' |
    sed -e "s|/usr/share/orlan-cola/|$fuente/src/database/|g" -e "s|/etc/default/orlan-cola|$tmp/etc/default/orlan-cola|g" \
        -e "s|/dev/ttyUSB0|$tmp/ttyUSB0|g" >"$tmp/pasos.sh"
grep -q 'orlan-admin encolar' "$tmp/pasos.sh" || fallo "no walk-through found in docs/instalacion.md"

# The receipt printer.
"$build/tools/impresora-virtual/orlan-impresora-virtual" --modo E --ancho 42 --respuesta 18 \
    --enlace "$tmp/ttyUSB0" >"$tmp/recibo.txt" 2>"$tmp/impresora.log" &
pids+=($!)
esperar '[ -e "$tmp/ttyUSB0" ]' || fallo "the virtual printer did not start"

cat >"$tmp/ambiente.sh" <<FIN
# What systemd does for orlan-cola@caja.service.
systemctl() {
    if [ "\$*" = "enable --now orlan-cola@caja.service" ]; then
        : >"$tmp/servicio.log"
        ( set -a; ODBCSYSINI=$fuente/src/database/odbc/sqlserver; . "$tmp/etc/default/orlan-cola"; set +a
          exec orlan-cola --servicio ) >"$tmp/servicio.log" 2>&1 &
        echo \$! >"$tmp/servicio.pid"
    fi
}
journalctl() { cat "$tmp/servicio.log"; }
FIN
echo "the operator's password" >"$tmp/entrada"
(cd "$tmp/home" && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u ODBCSYSINI HOME="$tmp/home" \
    ORLAN_AMBIENTE="$tmp/etc/default/orlan-cola" PATH="$tmp/bin:$PATH" \
    bash -euo pipefail -c ". '$tmp/ambiente.sh'; . '$tmp/pasos.sh'" <"$tmp/entrada" >"$tmp/pasos.log" 2>&1) ||
    fallo "a command of the walk-through failed"
[ -f "$tmp/servicio.pid" ] && pids+=("$(cat "$tmp/servicio.pid")")
grep -q "La terminal puede servir la cola." "$tmp/pasos.log" || fallo "diagnostico did not pass"
grep -q "^\[FALLA\]" "$tmp/pasos.log" && fallo "diagnostico reported a failure"

esperar 'grep -q "Terminal 1, impresora Caja" "$tmp/recibo.txt"' || fallo "no receipt came out"
grep -q "sirviendo la cola de impresion (servicio)" "$tmp/servicio.log" || fallo "the server did not say it serves"
# Padded to the paper's width, the two lines come out as two lines.
grep -q "PRUEBA DE IMPRESION" "$tmp/recibo.txt" || fallo "the first line is missing"
grep "Terminal 1, impresora Caja" "$tmp/recibo.txt" | grep -q "PRUEBA" && fallo "the two lines ran together"
echo "the installation manual's walk-through printed its receipt"
