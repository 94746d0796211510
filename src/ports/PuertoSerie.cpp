#include "ports/PuertoSerie.h"

#include "platform/Ajustes.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <sys/ioctl.h>

struct PuertoSerie::Privado {
    QSerialPort puerto;
};

namespace {

// Every wait, for input or for output, reads what the driver holds into the
// port's buffer: of a printer that sends without pause only the newest
// kEntradaMaxima bytes are kept.
void Recortar(QSerialPort& p) {
    const qint64 sobran = p.bytesAvailable() - Transporte::kEntradaMaxima;
    if (sobran > 0) {
        p.skip(sobran);
    }
}

// Moves what the driver holds into the port's buffer without waiting. With no
// event loop running, nothing else does.
void TomarPendiente(QSerialPort& p) {
    if (!p.waitForReadyRead(0)) {
        p.clearError();
    }
    Recortar(p);
}

} // namespace

PuertoSerie::PuertoSerie() : d(std::make_unique<Privado>()) {}

PuertoSerie::~PuertoSerie() {
    Cerrar();
}

std::optional<PuertoSerie::Configuracion> PuertoSerie::InterpretarSettings(QStringView settings) {
    const auto partes = settings.split(u',');
    if (partes.size() != 4) {
        return std::nullopt;
    }
    Configuracion c;
    bool ok = false;
    c.velocidad = partes[0].trimmed().toInt(&ok);
    if (!ok || c.velocidad <= 0) {
        return std::nullopt;
    }
    const QStringView paridad = partes[1].trimmed();
    if (paridad.size() != 1 || !QStringView(u"NEOMS").contains(paridad[0].toUpper())) {
        return std::nullopt;
    }
    c.paridad = static_cast<char>(paridad[0].toUpper().unicode());
    c.bitsDatos = partes[2].trimmed().toInt(&ok);
    if (!ok || c.bitsDatos < 5 || c.bitsDatos > 8) {
        return std::nullopt;
    }
    const QStringView parada = partes[3].trimmed();
    if (parada == u"1") {
        c.bitsParada = 10;
    } else if (parada == u"1.5") {
        c.bitsParada = 15;
    } else if (parada == u"2") {
        c.bitsParada = 20;
    } else {
        return std::nullopt;
    }
    return c;
}

QString PuertoSerie::Dispositivo(int numero) {
    return Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Puertos"), QStringLiteral("COM%1").arg(numero),
                         QStringLiteral("/dev/ttyS%1").arg(numero - 1));
}

bool PuertoSerie::EstablecerSettings(const QString& settings) {
    const auto configuracion = InterpretarSettings(settings);
    if (!configuracion) {
        m_error = QStringLiteral("Configuración no válida: \"%1\"").arg(settings);
        return false;
    }
    m_settings = settings;
    m_configuracion = *configuracion;
    return true;
}

bool PuertoSerie::Abrir() {
    if (PortOpen()) {
        m_error = QStringLiteral("El puerto ya está abierto");
        return false;
    }
    QSerialPort& p = d->puerto;
    p.setPortName(m_dispositivo.isEmpty() ? Dispositivo(m_commPort) : m_dispositivo);
    if (!p.open(QIODevice::ReadWrite)) {
        m_error = p.portName() + QStringLiteral(": ") + p.errorString();
        return false;
    }
    const auto paridad = [](char letra) {
        switch (letra) {
        case 'E':
            return QSerialPort::EvenParity;
        case 'O':
            return QSerialPort::OddParity;
        case 'M':
            return QSerialPort::MarkParity;
        case 'S':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
        }
    };
    const Configuracion& c = m_configuracion;
    const bool ok = p.setBaudRate(c.velocidad) && p.setParity(paridad(c.paridad)) &&
                    p.setDataBits(static_cast<QSerialPort::DataBits>(c.bitsDatos)) &&
                    p.setStopBits(c.bitsParada == 10   ? QSerialPort::OneStop
                                  : c.bitsParada == 15 ? QSerialPort::OneAndHalfStop
                                                       : QSerialPort::TwoStop) &&
                    p.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        m_error = p.portName() + QStringLiteral(": ") + p.errorString();
        p.close();
        return false;
    }
    return true;
}

void PuertoSerie::Cerrar() {
    if (d->puerto.isOpen()) {
        d->puerto.close();
    }
}

bool PuertoSerie::PortOpen() const {
    return d->puerto.isOpen();
}

bool PuertoSerie::Output(QByteArrayView bytes) {
    QSerialPort& p = d->puerto;
    if (!p.isOpen()) {
        m_error = QStringLiteral("El puerto está cerrado");
        return false;
    }
    if (bytes.isEmpty()) {
        return true;
    }
    if (p.write(bytes.data(), bytes.size()) != bytes.size()) {
        m_error = p.errorString();
        p.clear(QSerialPort::Output);
        return false;
    }
    // Twice the time the line needs for the bytes, plus a second for a slow
    // driver; a printer that holds the line longer counts as failed.
    const int bitsPorByte = 1 + m_configuracion.bitsDatos + (m_configuracion.paridad == 'N' ? 0 : 1) + 2;
    const qint64 limite = 1000 + 2 * bytes.size() * bitsPorByte * 1000 / m_configuracion.velocidad;
    QElapsedTimer reloj;
    reloj.start();
    while (p.bytesToWrite() > 0) {
        const qint64 resto = limite - reloj.elapsed();
        const bool escrito = resto > 0 && p.waitForBytesWritten(static_cast<int>(resto));
        Recortar(p);
        if (!escrito && p.bytesToWrite() > 0) {
            m_error = QStringLiteral("%1: la salida no terminó a tiempo").arg(p.portName());
            p.clear(QSerialPort::Output);
            return false;
        }
    }
    return true;
}

qint64 PuertoSerie::PorEnviar() {
    QSerialPort& p = d->puerto;
    int enCola = 0;
    if (!p.isOpen() || ::ioctl(static_cast<int>(p.handle()), TIOCOUTQ, &enCola) != 0) {
        return 0;
    }
    return p.bytesToWrite() + enCola;
}

QByteArray PuertoSerie::Input() {
    QSerialPort& p = d->puerto;
    if (!p.isOpen()) {
        return {};
    }
    TomarPendiente(p);
    return p.readAll();
}

qint64 PuertoSerie::InBufferCount() {
    QSerialPort& p = d->puerto;
    if (!p.isOpen()) {
        return 0;
    }
    TomarPendiente(p);
    return p.bytesAvailable();
}

void PuertoSerie::DescartarEntrada() {
    QSerialPort& p = d->puerto;
    if (p.isOpen()) {
        p.clear(QSerialPort::Input);
        p.readAll();
    }
}

PuertoSerie::Espera PuertoSerie::EsperarEntrada(int milisegundos) {
    QSerialPort& p = d->puerto;
    if (!p.isOpen()) {
        m_error = QStringLiteral("El puerto está cerrado");
        return Espera::Fallo;
    }
    if (p.waitForReadyRead(milisegundos)) {
        Recortar(p);
        return Espera::Datos;
    }
    if (p.error() == QSerialPort::TimeoutError) {
        p.clearError();
        return Espera::Plazo;
    }
    m_error = p.errorString();
    return Espera::Fallo;
}

bool PuertoSerie::Break(bool activo) {
    QSerialPort& p = d->puerto;
    if (!p.isOpen()) {
        m_error = QStringLiteral("El puerto está cerrado");
        return false;
    }
    if (!p.setBreakEnabled(activo)) {
        m_error = p.errorString();
        return false;
    }
    return true;
}
