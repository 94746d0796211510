#!/usr/bin/env bash
# Regenerates the ESC/POS reference streams of this directory: receiptline's
# receipts, those of node-thermal-printer, escpos-buffer and @node-escpos/core
# (npm, pinned, installed in a temporary directory only for this) and the
# python-escpos-style streams written by hand. Then run the test with
# ORLAN_ACTUALIZAR_DORADOS=1 to redraw the golden pictures, and look at them.
set -euo pipefail
aqui=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm init -y >/dev/null && npm install --silent receiptline@4.0.4 pngjs@5.0.0 >/dev/null)
NODE_PATH=$tmp/node_modules node "$aqui/receiptline.js" "$aqui"
mkdir "$tmp/bibliotecas"
(cd "$tmp/bibliotecas" && npm init -y >/dev/null && npm install --silent node-thermal-printer@4.6.1 \
    escpos-buffer@4.1.0 @node-escpos/core@0.6.0 pngjs@5.0.0 ndarray@1.1.1 >/dev/null)
NODE_PATH=$tmp/bibliotecas/node_modules node "$aqui/bibliotecas.js" "$aqui"
/usr/bin/python3 "$aqui/escpos.py" "$aqui"
