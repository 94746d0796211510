#pragma once

#include "impresora-virtual/ImpresoraVirtual.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A receipt printer at the far end of a pseudo-terminal: the program under
// test opens Ruta() as its serial port (or as a USB printer, usb:Ruta()). The
// printer answers the paper-status request and keeps every byte it receives
// (see ImpresoraVirtual).
class ImpresoraPty final : public ImpresoraVirtual {
public:
    ImpresoraPty();
    ~ImpresoraPty() override;

    // False when no pseudo-terminal could be had; Error() says why.
    bool Abierta() const { return m_maestro >= 0; }
    const QString& Error() const { return m_error; }

    // The device path of the program's end.
    const QString& Ruta() const { return m_ruta; }

    QList<Pieza> AtenderPiezas(int milisegundos) override;

    // Writes bytes to the program's end, as the printer's answer.
    bool Enviar(QByteArrayView bytes);

    // Bytes the program wrote that the printer has not read yet (while it
    // is stopped, they wait in the pseudo-terminal).
    qsizetype Pendientes() const;

    // Closes both ends: the device path disappears, as an unplugged printer's.
    void Cerrar();

private:
    // The same through the model, when there is one (false otherwise).
    bool AtenderConModelo(int milisegundos, QList<Pieza>& piezas);

    int m_maestro = -1;
    int m_esclavo = -1; // kept open so that the master never sees a hang-up
    QString m_ruta;
    QString m_error;
    int m_estadoPedido = 0; // how much of a status request was seen so far
};
