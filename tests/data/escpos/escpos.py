#!/usr/bin/python3
"""Writes the python-escpos-style streams of this directory: the bytes that
library's Epson profile sends for text, styles, code pages, images, codes and
cuts, written out by hand command by command."""
import sys
from pathlib import Path

ESC, GS, FS = b"\x1b", b"\x1d", b"\x1c"


def texto(s, tabla="cp437"):
    return s.encode(tabla)


def estilo(negrita=False, subrayado=0, ancho=1, alto=1, fuente=0, invertido=False, alinear=0):
    return (ESC + b"a" + bytes([alinear]) + ESC + b"E" + bytes([negrita]) + ESC + b"-" + bytes([subrayado]) +
            ESC + b"M" + bytes([fuente]) + GS + b"!" + bytes([(ancho - 1) << 4 | (alto - 1)]) +
            GS + b"B" + bytes([invertido]))


def raster(ancho, alto, punto):
    """GS v 0 of a picture given as punto(x, y) -> bool."""
    bytes_fila = (ancho + 7) // 8
    datos = bytearray()
    for y in range(alto):
        for bx in range(bytes_fila):
            b = 0
            for k in range(8):
                x = bx * 8 + k
                if x < ancho and punto(x, y):
                    b |= 0x80 >> k
            datos.append(b)
    return GS + b"v0\x00" + bytes([bytes_fila & 255, bytes_fila >> 8, alto & 255, alto >> 8]) + bytes(datos)


def columnas24(ancho, punto):
    """ESC * 33: 24-dot double density, three bytes a column."""
    datos = bytearray()
    for x in range(ancho):
        for banda in range(3):
            b = 0
            for k in range(8):
                if punto(x, banda * 8 + k):
                    b |= 0x80 >> k
            datos.append(b)
    return ESC + b"*\x21" + bytes([ancho & 255, ancho >> 8]) + bytes(datos)


def qr(datos, tamano=6, nivel=49):
    d = datos.encode()
    largo = len(d) + 3
    return (GS + b"(k\x04\x00\x31\x41\x32\x00" + GS + b"(k\x03\x00\x31\x43" + bytes([tamano]) +
            GS + b"(k\x03\x00\x31\x45" + bytes([nivel]) +
            GS + b"(k" + bytes([largo & 255, largo >> 8]) + b"\x31\x50\x30" + d + GS + b"(k\x03\x00\x31\x51\x30")


def pdf417(datos):
    d = datos.encode()
    largo = len(d) + 3
    return (GS + b"(k\x03\x00\x30\x41\x02" + GS + b"(k\x03\x00\x30\x43\x03" +
            GS + b"(k" + bytes([largo & 255, largo >> 8]) + b"\x30\x50\x30" + d + GS + b"(k\x03\x00\x30\x51\x30")


def barras(tipo, datos, hri=2):
    return GS + b"h\x50" + GS + b"w\x02" + GS + b"H" + bytes([hri]) + GS + b"f\x00" + GS + b"k" + bytes(
        [tipo, len(datos)]) + datos


RESET = ESC + b"@"
LF = b"\n"

flujos = {
    "estilos": RESET + ESC + b"t\x02" + estilo(alinear=1, ancho=2, alto=2, negrita=True) + texto("EL RINCÓN", "cp850") + LF +
    ESC + b"t\x00" + estilo(alinear=1) + texto("Ticket 0042  06/12/2026 13:05") + LF + estilo() +
    texto("Normal, ") + ESC + b"E\x01" + texto("negrita, ") + ESC + b"E\x00" + ESC + b"-\x01" +
    texto("subrayado") + ESC + b"-\x02" + texto(" doble") + ESC + b"-\x00" + LF +
    ESC + b"M\x01" + texto("Fuente B: 64 columnas en un rollo de 80 mm, mas letras por linea.") + LF +
    ESC + b"M\x00" + GS + b"B\x01" + texto(" INVERTIDO ") + GS + b"B\x00" + LF +
    GS + b"!\x11" + texto("2x2 ") + GS + b"!\x22" + texto("3x3") + GS + b"!\x00" + LF +
    ESC + b"a\x02" + texto("a la derecha") + LF + ESC + b"a\x00" +
    texto("Cafe") + ESC + b"$\x20\x01" + texto("3,00") + LF +
    texto("a\tb\tc") + LF +
    ESC + b"3\x40" + texto("interlineado de 64 puntos") + LF + ESC + b"2" +
    ESC + b"{\x01" + texto("boca abajo") + LF + ESC + b"{\x00" +
    ESC + b"V\x01" + texto("girado") + LF + ESC + b"V\x00" +
    GS + b"L\x40\x00" + texto("margen de 64 puntos") + LF + GS + b"L\x00\x00" +
    ESC + b"d\x02" + GS + b"V\x42\x00",
    "tablas": RESET + ESC + b"t\x02" + texto("PC850: Señor Muñoz, café ½ año", "cp850") + LF +
    ESC + b"t\x12" + texto("PC852: Zażółć gęślą jaźń", "cp852") + LF +
    ESC + b"t\x11" + texto("PC866: Съешь же ещё", "cp866") + LF +
    ESC + b"t\x13" + texto("PC858: 12,50 €", "cp858") + LF +
    ESC + b"t\x10" + texto("WPC1252: Œuvre, 9,50 €", "cp1252") + LF +
    ESC + b"t\x00" + ESC + b"R\x07" + texto("Spain I: #1 [n] {n}") + LF +
    ESC + b"R\x02" + texto("Germany: [O] {o} ~") + LF + ESC + b"R\x00" +
    FS + b"(C\x02\x00\x30\x02" + "UTF-8: ½ € Ω ğ Ж".encode() + LF +
    GS + b"V\x01",
    "imagenes": RESET + ESC + b"a\x01" +
    raster(192, 64, lambda x, y: (x // 16 + y // 16) % 2 == 0) +
    columnas24(192, lambda x, y: abs(x - 8 * y) < 8 or y in (0, 23)) + LF +
    ESC + b"*\x00" + bytes([48, 0]) + bytes([0xFF, 0x81] * 24) + LF +
    GS + b"(L\x0e\x00\x30\x70\x30\x01\x01\x31\x10\x00\x02\x00" + b"\xff\xff\x80\x01" + GS + b"(L\x02\x00\x30\x32" +
    FS + b"p\x01\x00" + LF + GS + b"V\x00",
    "codigos": RESET + ESC + b"a\x01" +
    barras(65, b"03600029145") + LF + barras(67, b"4006381333931") + LF + barras(68, b"9638507") + LF +
    barras(69, b"ORLAN-42") + LF + barras(70, b"12345678") + LF + barras(71, b"A40156B") + LF +
    barras(72, b"CODE93") + LF + barras(73, b"{B" + b"Cola-128") + LF + barras(73, b"{C" + bytes([12, 34, 56, 78])) + LF +
    qr("https://example.com/recibo/42") + LF + pdf417("ORLAN COLA 42") + LF + GS + b"V\x41\x03",
    "cortes": RESET + texto("primero") + LF + GS + b"V\x00" + texto("segundo") + LF + GS + b"V\x01" +
    texto("tercero") + LF + ESC + b"i" + texto("cuarto") + LF + ESC + b"m" + texto("quinto") + LF +
    GS + b"V\x41\x10" + texto("sexto") + LF + GS + b"V\x30" + texto("septimo, sin corte") + LF,
}

destino = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
for nombre, datos in flujos.items():
    (destino / f"escpos-{nombre}.bin").write_bytes(datos)
