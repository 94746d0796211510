// Writes the receiptline receipts of this directory: each as the ESC/POS
// bytes an Epson printer receives (.bin) and as receiptline's own drawing
// (.svg). Run by generar.sh, which installs receiptline in a temporary
// directory; the library plays no part in the viewer itself.
const fs = require('fs');
const path = require('path');
const receiptline = require('receiptline');
const { PNG } = require('pngjs');
const logoPng = require('./logo');

// The logo, as receiptline's {image:} takes it.
function logo() {
    return PNG.sync.write(logoPng()).toString('base64');
}

const recibos = {
    estilos: `{image:${logo()}}
^^^CAFÉ ORLAN
Calle Mayor 1, Madrid
{border:line; width:*}
-
{border:space; width:4,*,10}
|2|Café con leche|3,00|
|1|Tostada "con tomate"|2,50|
|1|Zumo de naranja|_3,20_|
-
{width:*,12}
|^TOTAL|^^9,20|
|\`Tarjeta\`|9,20|
{width:*}
"Negrita" _subrayado_ \`invertido\` ^ancho ^^^grande
^^^^^^^^^^^^^^^^cuatro
{align:right}
Derecha
{align:left}
Izquierda
{cut}
`,
    extranjero: `^^Señor Muñoz: café
Straße, Größe, Übergröße
Zażółć gęślą jaźń
Съешь же ещё этих булочек
Prix: 12,50 € TTC
{cut}
`,
    codigos: `{align:center}
{code:1234567890128; option:ean,hri}
{code:ORLAN-42; option:code39,hri}
{code:Cola 128; option:code128,hri}
{code:https://example.com/recibo/42; option:qrcode,6,m}
{cut}
`,
};

const destino = process.argv[2] || __dirname;
for (const [nombre, documento] of Object.entries(recibos)) {
    const base = path.join(destino, `receiptline-${nombre}`);
    const escpos = receiptline.transform(documento, { cpl: 48, encoding: 'multilingual', command: 'escpos' });
    fs.writeFileSync(`${base}.bin`, Buffer.from(escpos, 'binary'));
    fs.writeFileSync(`${base}.svg`, receiptline.transform(documento, { cpl: 48, encoding: 'multilingual' }));
}
