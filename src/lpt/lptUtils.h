#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// Register access and character output on a parallel port, through the port
// I/O layer of src/platform (real registers or the simulated port).

// Active-high views of the registers: ReadStatus is the raw status XOR 0x80
// (bit 7 reads 1 while the printer is busy); the control register is seen
// XOR 0x0B. Each returns -1 (and logs to PRT.ERR) when the port cannot be
// reached.
int ReadStatus(qint16 base);
int ReadControl(qint16 base);
bool WriteControl(qint16 base, int valor);
int ReadData(qint16 base);
bool WriteData(qint16 base, int valor);

// (valor AND 2^n) \ 2^n.
int BitOf(int valor, int n);

// Writes one character (only the first of `letra` counts): waits until the
// printer is ready (on an EPP port: not busy, and at most about 3 seconds,
// after which the character is written anyway; otherwise: not busy, paper
// present and no error, at most about 25 seconds, after which it is not
// written and PRT.ERR says so), puts it on the data lines and pulses the
// strobe. The acknowledge line is not watched. True when it was written.
bool ImprimirLetra(qint16 base, QStringView letra);

// Writes every character in order; true when all were written (also for an
// empty text). The byte form is the one the printer control uses: command
// bytes and Windows-1252 text go out unchanged.
bool ImprimirCadena(qint16 base, QStringView texto);
bool ImprimirCadena(qint16 base, QByteArrayView bytes);

// Binary digits of a value, most significant first.
QString dec2bin(qint64 valor);

// Appends a time-stamped line to C:\PRT.ERR.
void GrabarErrorPrt(const QString& mensaje);
