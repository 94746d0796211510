#!/usr/bin/env bash
# endurecido.sh BUILD_DIR: every program the package installs is built with
# Debian's hardening, as hardening-check (devscripts) sees it: position
# independent, stack protector, fortified libc calls, read-only relocations
# bound at start-up.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fallas=0
falta() { echo "FAIL: $*" >&2; fallas=$((fallas + 1)); }

command -v hardening-check >/dev/null || { echo "FAIL: hardening-check not found (scripts/setup installs devscripts)" >&2; exit 1; }
# What the package holds: the install tree, without stripping or packaging.
DESTDIR=$tmp/raiz cmake --install "$build" >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log" >&2; exit 1; }

programas=()
while IFS= read -r -d '' f; do
    [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] && programas+=("$f")
done < <(find "$tmp/raiz" -type f -perm -u+x -print0 | sort -z)
for nombre in orlan-cola orlan-cola-ventana orlan-admin orlan-panel orlan-impresora-virtual; do
    printf '%s\n' "${programas[@]}" | grep -q "/$nombre\$" || falta "the install tree has no $nombre"
done
for p in "${programas[@]}"; do
    # Control-flow protection (-fcf-protection) is not part of Debian 12's
    # hardening=+all, so it is not asked for.
    if ! salida=$(hardening-check --nocfprotection "$p" 2>&1); then
        falta "${p#"$tmp/raiz"} is not hardened:"
        grep -v ': yes' <<<"$salida" >&2
    fi
done
[ "$fallas" = 0 ] || exit 1
echo "${#programas[@]} programs hardened"
