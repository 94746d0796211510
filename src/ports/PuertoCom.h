#pragma once

#include "ports/Transporte.h"

#include <QString>
#include <memory>

// One of the printer control's port objects (Puerto, Puerto2, ...): a port
// number and a serial settings text, as the serial component kept them, and
// at each opening the way to the printer that setting ORLAN/Puertos/COMn
// names (default /dev/ttyS<n-1>), read then:
//
//   tcp:HOST:PORT          a network printer's raw port (TransporteTcp);
//                          HOST may be a name, an address or [IPv6 address]
//   /dev/usb/lp0           any path under /dev/usb/: a USB printer-class
//   usb:PATH               device (TransporteUsb); the prefix names any other
//                          path as one
//   anything else          a serial device (PuertoSerie) with the settings
//
// Network and USB printers ignore the settings text. While closed, every
// operation answers as a closed port does.
class PuertoCom final : public Transporte {
public:
    // Where a setting's text leads.
    struct Destino {
        enum class Tipo { Serie, Tcp, Usb };
        Tipo tipo = Tipo::Serie;
        QString ruta; // Serie, Usb
        QString host; // Tcp
        quint16 puerto = 0;
        bool valido = true; // false for a tcp: text without a usable host and port
    };
    static Destino Interpretar(const QString& texto);

    PuertoCom();
    ~PuertoCom() override;

    void EstablecerCommPort(int numero) { m_commPort = numero; }
    int CommPort() const { return m_commPort; }
    const QString& Settings() const { return m_settings; }

    // Opens where the port leads. A non-null `settings` replaces the serial
    // settings first; a serial port refuses a text it cannot use (keeping the
    // old one) and the other ways ignore it.
    bool Abrir(const QString& settings);
    bool Abrir() override { return Abrir(QString()); }
    void Cerrar() override;
    bool PortOpen() const override;
    bool Output(QByteArrayView bytes) override;
    QByteArray Input() override;
    qint64 InBufferCount() override;
    void DescartarEntrada() override;
    Espera EsperarEntrada(int milisegundos) override;
    bool Break(bool activo) override;
    qint64 PorEnviar() override { return m_transporte ? m_transporte->PorEnviar() : 0; }
    bool SinRespuesta() const override { return m_sinRespuesta; }
    const QString& Error() const override;

    // The kind of way the last opening led to (or tried to).
    Destino::Tipo Tipo() const { return m_tipo; }
    // Where the port leads, as its setting names it.
    QString Dispositivo() const;
    // The time the printer needs to take `bytes` bytes at its line speed:
    // a serial port's own, a nominal 115200 baud for the others (the pace of
    // a fast receipt printer that prints what it takes).
    qint64 TiempoLinea(qsizetype bytes) const;

private:
    bool Cerrado();

    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    std::unique_ptr<Transporte> m_transporte; // null while closed
    bool m_sinRespuesta = false;
    Destino::Tipo m_tipo = Destino::Tipo::Serie;
    QString m_error;
};
