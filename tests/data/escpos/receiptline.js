// Writes the receiptline receipts of this directory: each as the ESC/POS
// bytes an Epson printer receives (.bin) and as receiptline's own drawing
// (.svg). Run by generar.sh, which installs receiptline in a temporary
// directory; the library plays no part in the viewer itself.
const fs = require('fs');
const path = require('path');
const receiptline = require('receiptline');
const { PNG } = require('pngjs');

// A 96 x 48 logo: a frame, a diagonal band and a checker corner.
function logo() {
    const png = new PNG({ width: 96, height: 48 });
    for (let y = 0; y < 48; y++) {
        for (let x = 0; x < 96; x++) {
            const marco = x < 3 || y < 3 || x > 92 || y > 44;
            const banda = Math.abs(x - 2 * y) < 6;
            const damero = x > 64 && y > 24 && ((x >> 2) + (y >> 2)) % 2 === 0;
            const i = (y * 96 + x) * 4;
            const v = marco || banda || damero ? 0 : 255;
            png.data[i] = png.data[i + 1] = png.data[i + 2] = v;
            png.data[i + 3] = 255;
        }
    }
    return PNG.sync.write(png).toString('base64');
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
