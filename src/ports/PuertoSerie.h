#pragma once

#include "ports/Transporte.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <memory>
#include <optional>

// One serial port, offering what the printer control needs of a serial
// communications component: a port number, a settings text, an open state,
// output, input, the count of waiting input and a break.
//
// Port number n opens the device named by setting ORLAN/Puertos/COMn (the
// default is /dev/ttyS<n-1>), read when the port is opened, unless a device
// was named with EstablecerDispositivo. The settings text
// is "speed,parity,data bits,stop bits" as in "9600,N,8,1": parity one of
// N E O M S (either case), data bits 5 to 8, stop bits 1, 1.5 or 2. Flow
// control is always off.
//
// Every operation that can fail returns false (or an empty result) and leaves
// a description in Error(); nothing throws. Failures: a settings text the port
// cannot use, a device that does not exist or cannot be opened, a device that
// another program holds (lock file or exclusive mode), output to a closed
// port, output that the driver does not take within its time limit.
//
// Waits block in the operating system with a time limit; nothing spins.
class PuertoSerie final : public Transporte {
public:
    PuertoSerie();
    ~PuertoSerie() override;
    PuertoSerie(const PuertoSerie&) = delete;
    PuertoSerie& operator=(const PuertoSerie&) = delete;

    // The parts of a settings text.
    struct Configuracion {
        qint32 velocidad = 9600;
        char paridad = 'N'; // upper case
        int bitsDatos = 8;
        int bitsParada = 10; // tenths: 10, 15 or 20
    };

    // Parses a settings text; nullopt when it is not usable.
    static std::optional<Configuracion> InterpretarSettings(QStringView settings);

    // The device that port number `numero` opens.
    static QString Dispositivo(int numero);

    // CommPort: takes effect at the next opening.
    void EstablecerCommPort(int numero) { m_commPort = numero; }
    int CommPort() const { return m_commPort; }

    // The device to open instead of the one that CommPort's setting names (an
    // empty path goes back to the setting). Takes effect at the next opening.
    void EstablecerDispositivo(const QString& ruta) { m_dispositivo = ruta; }

    // Settings: false (and the old settings kept) when the text is not usable.
    // Takes effect at the next opening.
    bool EstablecerSettings(const QString& settings);
    const QString& Settings() const { return m_settings; }

    // PortOpen. Abrir opens the device of CommPort() with Settings(); Cerrar
    // closes it (nothing happens when it is closed).
    bool Abrir() override;
    void Cerrar() override;
    bool PortOpen() const override;

    // Output: sends the bytes and returns once the driver has taken all of
    // them. False when the port is closed or the driver does not take them in
    // time (about 1 s plus twice the line time of the bytes).
    bool Output(QByteArrayView bytes) override;

    // Input: takes the bytes waiting, without waiting for more; of a printer
    // that sends without pause only the newest kEntradaMaxima are kept.
    QByteArray Input() override;

    // InBufferCount: the number of bytes waiting (reading what the driver
    // holds, without waiting). DescartarEntrada discards them all.
    qint64 InBufferCount() override;
    void DescartarEntrada() override;

    // Blocks until more input arrives or `milisegundos` pass. Fallo: the port
    // is closed or the device failed (for example, its other end went away).
    Espera EsperarEntrada(int milisegundos) override;

    // Break: holds the line in the break condition while true. False when the
    // port is closed or the driver refuses.
    bool Break(bool activo) override;

    // The driver's unsent count (TIOCOUTQ).
    qint64 PorEnviar() override;

    // Description of the last failure.
    const QString& Error() const override { return m_error; }

private:
    struct Privado;

    int m_commPort = 1;
    QString m_dispositivo;
    QString m_settings = QStringLiteral("9600,N,8,1");
    Configuracion m_configuracion;
    QString m_error;
    std::unique_ptr<Privado> d;
};
