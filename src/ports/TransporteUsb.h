#pragma once

#include "ports/Descriptor.h"

// A USB printer-class device of the kernel's usblp driver (/dev/usb/lp0...):
// the bytes are written to the device, and a printer that answers (a
// bidirectional one) is read back on the same device. A printer that never
// answers, or a driver that refuses reads, is simply silent.
//
// The device is opened non-blocking; writes wait in poll() for the driver to
// take the bytes, at most what a 9600-baud line would need twice over plus a
// second; after a write that failed or was not taken in time the device is
// closed, as a network connection is. Input waits in poll() too; at most
// kEntradaMaxima bytes of unread input are kept, and a device that sends more
// waits for them to be taken. A device that goes away (unplugged) fails the
// next wait. There is no line to hold in break.
class TransporteUsb final : public TransporteDescriptor {
public:
    explicit TransporteUsb(const QString& ruta);
    ~TransporteUsb() override;

    bool Abrir() override;
    void Cerrar() override;
    QByteArray Input() override;
    qint64 InBufferCount() override;
    void DescartarEntrada() override;
    Espera EsperarEntrada(int milisegundos) override;
    bool Break(bool activo) override;

private:
    void SalidaVencida() override;
    void SalidaFallida(int numero) override;
    void TomarPendiente();
    void FalloSistema(int numero);

    QString m_ruta;
    QByteArray m_entrada; // read from the device, not yet taken
};
