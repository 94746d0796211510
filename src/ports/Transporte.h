#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// A way to a receipt printer that takes bytes and may answer them: a serial
// port (PuertoSerie), a network printer's raw port (TransporteTcp) or a USB
// printer-class device (TransporteUsb). The printer control speaks to all of
// them alike; the names are those of the serial communications component it
// was first written for (PortOpen, Output, Input, InBufferCount, Break).
//
// Every operation that can fail returns false (or an empty result) and leaves
// a description in Error(); nothing throws. Waits block in the operating
// system with a time limit; nothing spins.
class Transporte {
public:
    // Unread input kept, bytes: a printer that sends without pause cannot
    // fill the server's memory.
    static constexpr qint64 kEntradaMaxima = 4096;

    virtual ~Transporte() = default;

    // Opens the way to the printer; false when it cannot be opened.
    virtual bool Abrir() = 0;
    // Closes it; nothing happens when it is closed.
    virtual void Cerrar() = 0;
    virtual bool PortOpen() const = 0;

    // Sends the bytes and returns once the device (the driver, the socket) has
    // taken all of them. False when closed or when they are not taken in time.
    virtual bool Output(QByteArrayView bytes) = 0;

    // Takes the bytes the printer has sent, at most kEntradaMaxima, without
    // waiting for more.
    virtual QByteArray Input() = 0;

    // The number of bytes waiting, without waiting. DescartarEntrada discards
    // them.
    virtual qint64 InBufferCount() = 0;
    virtual void DescartarEntrada() = 0;

    // Blocks until more input arrives or `milisegundos` pass. Fallo: closed, or
    // the device failed (its other end went away).
    enum class Espera { Datos, Plazo, Fallo };
    virtual Espera EsperarEntrada(int milisegundos) = 0;

    // Bytes the device took but has not passed on to the printer yet (the
    // socket's or tty's unsent count, SIOCOUTQ / TIOCOUTQ): while it keeps
    // falling the printer is still taking bytes. 0 when unknown or closed.
    virtual qint64 PorEnviar() { return 0; }

    // Holds a serial line in the break condition while true. Ways without a
    // line only answer whether they are open.
    virtual bool Break(bool activo) = 0;

    // True when the last Abrir failed only because the printer did not answer
    // in time (a network printer that does not take the connection), which is
    // "no answer" rather than a failed port.
    virtual bool SinRespuesta() const { return false; }

    // Description of the last failure.
    virtual const QString& Error() const = 0;

protected:
    // The longest an output of `bytes` bytes may take on a way without a line
    // speed of its own: what a 9600-baud line allows, twice over, plus a second.
    static int LimiteSalida(qsizetype bytes) { return static_cast<int>(1000 + 2 * qint64(bytes) * 10 * 1000 / 9600); }
};
