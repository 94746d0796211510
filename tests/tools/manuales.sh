#!/usr/bin/env bash
# manuales.sh BUILD_DIR SOURCE_DIR: every option (and every orlan-admin
# command) that a program's --help lists is described in its manual page, and
# the example of orlan-admin(8) works on a new database.
set -euo pipefail
build=$1 fuente=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fallas=0
falta() { echo "FAIL: $*" >&2; fallas=$((fallas + 1)); }

revisar() { # PROGRAM MANUAL
    local ayuda opcion orden
    ayuda=$("$1" --help)
    for opcion in $(grep -oE -- '(^|[ [])--?[a-z][a-z-]*' <<<"$ayuda" | tr -d ' [' | sort -u); do
        grep -qF -- "*$opcion*" "$2" || falta "$(basename "$1") --help lists $opcion, $(basename "$2") does not"
    done
    # orlan-admin's commands: the first word of each line of its command list.
    for orden in $(sed -n '/^Ordenes:/,/^$/p' <<<"$ayuda" | grep -oE '^  [a-z]+( [a-z]+)?' | sed 's/^  //' |
        sort -u | tr ' ' '~'); do
        grep -qF -- "*${orden//\~/ }" "$2" || falta "orlan-admin --help lists '${orden//\~/ }', its manual does not"
    done
}
revisar "$build/src/orlan-cola" "$fuente/man/orlan-cola.8.scd"
revisar "$build/tools/orlan-admin/orlan-admin" "$fuente/man/orlan-admin.8.scd"
revisar "$build/tools/impresora-virtual/orlan-impresora-virtual" "$fuente/man/orlan-impresora-virtual.1.scd"
revisar "$build/src/panel/orlan-panel" "$fuente/man/orlan-panel.8.scd"

# The example of orlan-admin(8), as it stands, in a new home.
mkdir -p "$tmp/bin" "$tmp/home"
ln -s "$build/tools/orlan-admin/orlan-admin" "$tmp/bin/"
sed -n '/^# EXAMPLES/,/^# SEE ALSO/p' "$fuente/man/orlan-admin.8.scd" | sed -n '/^```$/,/^```$/p' | sed '/^```$/d' |
    sed "s|/usr/share/orlan-cola/|$fuente/src/database/|g" >"$tmp/ejemplo.sh"
[ -s "$tmp/ejemplo.sh" ] || falta "orlan-admin(8) has no example"
if ! salida=$(cd "$tmp/home" && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u ODBCSYSINI HOME="$tmp/home" \
    ORLAN_AMBIENTE=/dev/null PATH="$tmp/bin:$PATH" bash -euo pipefail "$tmp/ejemplo.sh" 2>&1); then
    falta "the example of orlan-admin(8) fails: $salida"
fi
[ "$fallas" = 0 ] || exit 1
echo "manual pages match the programs' --help; the orlan-admin example works"
