#!/usr/bin/env bash
# instalacion.sh BUILD_DIR SOURCE_DIR: runs the commands of the installation manual's
# "From an empty database to the first receipt", as they stand, on a fresh
# SQLite database, with a virtual receipt printer where the manual has
# /dev/ttyUSB0, and checks the receipt; then again for a Star printer (the
# walk-through's --modo E read as --modo S), whose receipt must come out in
# Star's commands, and diagnostico must name a row whose Modo differs. The
# installed paths are mapped to the source tree and the build; systemctl
# starts the built server as the unit would, with the environment file.
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
    for f in "$tmp"/*.log "$tmp"/recibo-*.txt; do [ -f "$f" ] && { echo "== $f" >&2; cat "$f" >&2; }; done
    exit 1
}
esperar() { # CONDITION: repeats it for at most 30 s
    for _ in $(seq 300); do eval "$1" && return 0; sleep 0.1; done
    return 1
}

mkdir -p "$tmp/bin"
for programa in tools/orlan-admin/orlan-admin src/orlan-cola; do
    ln -s "$build/$programa" "$tmp/bin/"
done

# The commands of the installation manual's walk-through (docs/instalacion.md).
sed -n '/^### From an empty database to the first receipt/,/^##/p' "$fuente/docs/instalacion.md" |
    sed -n '/^   ```sh$/,/^   ```$/p' | grep -v '^   ```' | sed 's/^   //' >"$tmp/manual.sh"
grep -q 'orlan-admin encolar' "$tmp/manual.sh" || fallo "no walk-through found in docs/instalacion.md"
grep -q -- '--modo E' "$tmp/manual.sh" || fallo "the walk-through adds no printer with --modo E"

recorrer() { # MODO: the walk-through in a new home, its printer in dialect MODO
    local modo=$1 casa=$tmp/casa-$1
    mkdir -p "$casa/home" "$casa/etc/default"
    sed -e "s|/usr/share/orlan-cola/|$fuente/src/database/|g" -e "s|/etc/default/orlan-cola|$casa/etc/default/orlan-cola|g" \
        -e "s|/dev/ttyUSB0|$casa/ttyUSB0|g" -e "s|--modo E|--modo $modo|" "$tmp/manual.sh" >"$casa/pasos.sh"

    # The receipt printer, reading the bytes in its own dialect.
    "$build/tools/impresora-virtual/orlan-impresora-virtual" --modo "$modo" --ancho 48 --respuesta 18 \
        --enlace "$casa/ttyUSB0" --captura "$casa/bytes.bin" >"$tmp/recibo-$modo.txt" 2>"$tmp/impresora-$modo.log" &
    pids+=($!)
    esperar '[ -e "$casa/ttyUSB0" ]' || fallo "the virtual printer did not start"

    cat >"$casa/ambiente.sh" <<FIN
# What systemd does for orlan-cola@caja.service.
systemctl() {
    if [ "\$*" = "enable --now orlan-cola@caja.service" ]; then
        : >"$tmp/servicio-$modo.log"
        ( set -a; ODBCSYSINI=$fuente/src/database/odbc/sqlserver; . "$casa/etc/default/orlan-cola"; set +a
          exec orlan-cola --servicio ) >"$tmp/servicio-$modo.log" 2>&1 &
        echo \$! >"$casa/servicio.pid"
    fi
}
journalctl() { cat "$tmp/servicio-$modo.log"; }
FIN
    echo "the operator's password" >"$casa/entrada"
    (cd "$casa/home" && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u ODBCSYSINI HOME="$casa/home" \
        ORLAN_AMBIENTE="$casa/etc/default/orlan-cola" PATH="$tmp/bin:$PATH" \
        bash -euo pipefail -c ". '$casa/ambiente.sh'; . '$casa/pasos.sh'" <"$casa/entrada" >"$tmp/pasos-$modo.log" 2>&1) ||
        fallo "a command of the walk-through failed"
    [ -f "$casa/servicio.pid" ] && pids+=("$(cat "$casa/servicio.pid")")
    grep -q "La terminal puede servir la cola." "$tmp/pasos-$modo.log" || fallo "diagnostico did not pass"
    grep -q "^\[FALLA\]" "$tmp/pasos-$modo.log" && fallo "diagnostico reported a failure"

    esperar 'grep -q "Terminal 1, impresora Caja" "$tmp/recibo-$modo.txt"' || fallo "no receipt came out"
    grep -q "sirviendo la cola de impresion (servicio)" "$tmp/servicio-$modo.log" || fallo "the server did not say it serves"
    # Padded to the paper's width, the two lines come out as two lines.
    grep -q "PRUEBA DE IMPRESION" "$tmp/recibo-$modo.txt" || fallo "the first line is missing"
    if grep "Terminal 1, impresora Caja" "$tmp/recibo-$modo.txt" | grep -q "PRUEBA"; then
        fallo "the two lines ran together"
    fi
}

# Bold ends with ESC E 0 in Epson's commands and with ESC F in Star's; a Star
# printer would print Epson's zero as a character.
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }
recorrer E
hex "$tmp/casa-E/bytes.bin" | grep -q '1b4500' || fallo "the Epson receipt has no ESC E 0"
recorrer S
hex "$tmp/casa-S/bytes.bin" | grep -q '1b46' || fallo "the Star printer got no ESC F: not Star's commands"
hex "$tmp/casa-S/bytes.bin" | grep -q '1b4500' && fallo "the Star printer got Epson's ESC E 0"

# The row says Citizen, the port's section Star: diagnostico names both.
diagnostico=$(cd "$tmp/casa-S/home" && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u ODBCSYSINI HOME="$tmp/casa-S/home" \
    ORLAN_AMBIENTE="$tmp/casa-S/etc/default/orlan-cola" PATH="$tmp/bin:$PATH" \
    bash -c "orlan-admin sql \"UPDATE Impresora SET Modo = 'C' WHERE Id_Impresora = 1\" >/dev/null && orlan-admin diagnostico" 2>&1) || true
grep -q "^\[aviso\] impresora 1 'Caja' en COM1: Modo C en la base de datos, pero se imprime en el Modo S de \[COM1\]" \
    <<<"$diagnostico" || fallo "diagnostico did not name the Modo mismatch: $diagnostico"
echo "the installation manual's walk-through printed its receipt, in Epson's and in Star's commands"
