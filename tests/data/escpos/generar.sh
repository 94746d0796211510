#!/usr/bin/env bash
# Regenerates the ESC/POS reference streams of this directory: receiptline's
# receipts (npm, installed in a temporary directory only for this) and the
# python-escpos-style streams written by hand. Then run the test with
# ORLAN_ACTUALIZAR_DORADOS=1 to redraw the golden pictures, and look at them.
set -euo pipefail
aqui=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm init -y >/dev/null && npm install --silent receiptline@4.0.4 pngjs@5.0.0 >/dev/null)
NODE_PATH=$tmp/node_modules node "$aqui/receiptline.js" "$aqui"
/usr/bin/python3 "$aqui/escpos.py" "$aqui"
