// Writes the receipts of three public ESC/POS libraries as the bytes they
// send a printer: node-thermal-printer (types EPSON, TANCA, CUSTOM and STAR),
// escpos-buffer (its Epson profiles) and @node-escpos/core. Each stream holds
// two receipts, each ending in a cut. Run by generar.sh, which installs the
// libraries in a temporary directory; no printer is needed, the bytes are
// taken from the libraries' buffers or from an adapter that keeps them.
const fs = require('fs');
const path = require('path');
const { PNG } = require('pngjs');
const logo = require('./logo');

const destino = process.argv[2] || __dirname;
const ean13 = '4006381333931';
const code128 = 'Cola-128';
const qr = (n) => `https://example.com/recibo/${n}`;
const pdf417 = 'ORLAN PDF417 42';

function escribir(nombre, bytes) {
    fs.writeFileSync(path.join(destino, `${nombre}.bin`), bytes);
}

async function nodeThermalPrinter() {
    const { printer: ThermalPrinter, types } = require('node-thermal-printer');
    const imagen = PNG.sync.write(logo());
    for (const tipo of ['EPSON', 'TANCA', 'CUSTOM', 'STAR']) {
        const p = new ThermalPrinter({ type: types[tipo], width: 48 });
        for (const n of [1, 2]) {
            p.alignCenter();
            await p.printImageBuffer(imagen);
            p.setTextQuadArea();
            p.println('CAFE ORLAN');
            p.setTextNormal();
            p.println(`Recibo ${n}`);
            p.alignLeft();
            p.bold(true);
            p.println('Negrita');
            p.bold(false);
            p.underline(true);
            p.println('Subrayado');
            p.underline(false);
            p.alignRight();
            p.println('Derecha');
            p.alignLeft();
            p.drawLine();
            p.tableCustom([
                { text: '2', width: 0.1 },
                { text: 'Cafe con leche', width: 0.6 },
                { text: '3,00', width: 0.25, align: 'RIGHT' },
            ]);
            p.leftRight('TOTAL', '9,20');
            p.drawLine();
            p.alignCenter();
            p.printBarcode(ean13.slice(0, 12), tipo === 'STAR' ? 3 : 67);
            p.newLine();
            if (tipo === 'TANCA') {
                // TANCA has no code128(): GS k 73 with the code set B prefix.
                p.printBarcode(`{B${code128}`, 73);
            } else {
                p.code128(code128);
            }
            p.newLine();
            p.printQR(qr(n), { model: 2, cellSize: 6 });
            p.newLine();
            p.pdf417(pdf417);
            p.newLine();
            p.cut();
        }
        escribir(`node-thermal-printer-${tipo.toLowerCase()}`, p.getBuffer());
    }
}

async function escposBuffer() {
    const { Printer, InMemory, Image, Style, Align, Cut } = require('escpos-buffer');
    const png = logo();
    // TM-T20 prints Font A; TM-T88 (and TM-T81, whose bytes are the same) Font B.
    for (const modelo of ['TM-T20', 'TM-T88']) {
        const conexion = new InMemory();
        const p = await Printer.CONNECT(modelo, conexion);
        await p.setColumns(48);
        for (const n of [1, 2]) {
            await p.setAlignment(Align.Center);
            await p.draw(new Image({ data: png.data, width: png.width, height: png.height }));
            await p.withStyle({ width: 2, height: 2, align: Align.Center }, async () => {
                await p.writeln('CAFE ORLAN');
            });
            await p.writeln(`Recibo ${n}`, 0, Align.Center);
            await p.writeln('Negrita', Style.Bold);
            await p.writeln('Subrayado', Style.Underline);
            await p.writeln('Doble alto', Style.DoubleHeight);
            await p.writeln('Derecha', 0, Align.Right);
            await p.writeln('-'.repeat(48));
            await p.writeln('2  Cafe con leche' + '3,00'.padStart(48 - 17));
            await p.writeln('TOTAL' + '9,20'.padStart(48 - 5), Style.Bold);
            await p.setAlignment(Align.Center);
            await p.qrcode(qr(n), 6);
            await p.feed(3);
            await p.cutter(Cut.Full);
        }
        escribir(`escpos-buffer-${modelo.toLowerCase()}`, conexion.buffer());
    }
}

async function nodeEscpos() {
    const { Printer, Image } = require('@node-escpos/core');
    const ndarray = require('ndarray');
    const partes = [];
    const adaptador = {
        open(cb) { cb && cb(null); return this; },
        write(datos, cb) { partes.push(Buffer.from(datos)); cb && cb(null); return this; },
        close(cb) { cb && cb(null); return this; },
        read() {},
        on() { return this; },
    };
    // The xprinter model: otherwise CODE128 goes out with no code set and,
    // for data shorter than 16 characters, no length byte.
    const p = new Printer(adaptador, { encoding: 'ascii', width: 48 }).model('xprinter');
    const png = logo();
    const imagen = new Image(ndarray(new Uint8Array(png.data), [png.width, png.height, 4], [4, png.width * 4, 1]));
    for (const n of [1, 2]) {
        p.align('ct');
        await p.image(imagen, 'd24');
        p.size(2, 2).text('CAFE ORLAN');
        p.size(1, 1).text(`Recibo ${n}`);
        p.align('lt');
        p.style('b').text('Negrita');
        p.style('u').text('Subrayado');
        p.style('normal');
        p.align('rt').text('Derecha');
        p.align('lt').drawLine();
        p.tableCustom([
            { text: '2', align: 'left', width: 0.1 },
            { text: 'Cafe con leche', align: 'left', width: 0.6 },
            { text: '3,00', align: 'right', width: 0.25 },
        ]);
        p.drawLine();
        p.align('ct');
        p.barcode(ean13.slice(0, 12), 'EAN13', { width: 2, height: 80, position: 'blw' });
        p.barcode(code128, 'CODE128', { width: 2, height: 80, position: 'blw' });
        p.qrcode(qr(n), 2, 'm', 6);
        p.cut();
    }
    await p.flush();
    escribir('node-escpos', Buffer.concat(partes));
}

(async () => {
    await nodeThermalPrinter();
    await escposBuffer();
    await nodeEscpos();
})().catch((e) => {
    console.error(e);
    process.exit(1);
});
