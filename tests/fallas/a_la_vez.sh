#!/usr/bin/env bash
# Runs the fault matrix in N parts side by side, each with its own database
# server and terminals, and prints each part's report whole, in order. The
# matrix mostly waits (faults last seconds, printers print at their speed),
# so N parts take little more than the longest of them.
#
#   a_la_vez.sh ORLAN-FALLAS N [ARGUMENTS...]
set -uo pipefail
programa=$1
partes=$2
shift 2
salidas=$(mktemp -d)
pids=()
terminar() {
    kill "${pids[@]}" 2>/dev/null
    wait
    rm -rf "$salidas"
    exit 1
}
trap terminar INT TERM
for ((k = 1; k <= partes; k++)); do
    "$programa" "$@" --parte "$k/$partes" >"$salidas/$k" 2>&1 &
    pids+=($!)
done
fallo=0
for ((k = 1; k <= partes; k++)); do
    wait "${pids[k - 1]}" || fallo=1
done
for ((k = 1; k <= partes; k++)); do
    echo "=== part $k of $partes"
    cat "$salidas/$k"
done
rm -rf "$salidas"
exit $fallo
