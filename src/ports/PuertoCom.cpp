#include "ports/PuertoCom.h"

#include "ports/PuertoSerie.h"
#include "ports/TransporteTcp.h"
#include "ports/TransporteUsb.h"

namespace {

using Tipo = PuertoCom::Destino::Tipo;

// The forms of a setting that lead elsewhere than a serial device.
struct Forma {
    QLatin1StringView prefijo;
    bool quitarPrefijo;
    Tipo tipo;
};
constexpr Forma kFormas[] = {
    {QLatin1StringView("tcp:"), true, Tipo::Tcp},
    {QLatin1StringView("usb:"), true, Tipo::Usb},
    {QLatin1StringView("/dev/usb/"), false, Tipo::Usb},
};

} // namespace

PuertoCom::Destino PuertoCom::Interpretar(const QString& texto) {
    const QString t = texto.trimmed();
    Destino d;
    d.ruta = t;
    for (const Forma& f : kFormas) {
        if (t.startsWith(f.prefijo, Qt::CaseInsensitive)) {
            d.tipo = f.tipo;
            d.ruta = f.quitarPrefijo ? t.mid(f.prefijo.size()) : t;
            break;
        }
    }
    if (d.tipo == Tipo::Tcp) {
        const qsizetype dosPuntos = d.ruta.lastIndexOf(u':');
        d.host = d.ruta.left(dosPuntos);
        if (d.host.startsWith(u'[') && d.host.endsWith(u']')) {
            d.host = d.host.mid(1, d.host.size() - 2);
        }
        bool ok = false;
        const uint puerto = d.ruta.mid(dosPuntos + 1).toUInt(&ok);
        // Brackets only enclose an IPv6 address; one left inside is a typo.
        const bool sinCorchetes = !d.host.contains(u'[') && !d.host.contains(u']');
        d.valido = dosPuntos > 0 && !d.host.isEmpty() && sinCorchetes && ok && puerto >= 1 && puerto <= 65535;
        d.puerto = d.valido ? static_cast<quint16>(puerto) : 0;
        d.ruta.clear();
    }
    d.valido = d.valido && (d.tipo == Tipo::Tcp || !d.ruta.isEmpty());
    return d;
}

PuertoCom::PuertoCom() = default;

PuertoCom::~PuertoCom() {
    Cerrar();
}

bool PuertoCom::Abrir(const QString& settings) {
    m_sinRespuesta = false;
    if (PortOpen()) {
        m_error = QStringLiteral("El puerto ya está abierto");
        return false;
    }
    m_transporte.reset();
    const QString texto = PuertoSerie::Dispositivo(m_commPort);
    const Destino d = Interpretar(texto);
    m_tipo = d.tipo;
    if (!d.valido) {
        m_error = QStringLiteral("COM%1: destino no válido: \"%2\"").arg(m_commPort).arg(texto);
        return false;
    }
    std::unique_ptr<Transporte> t;
    switch (d.tipo) {
    case Tipo::Serie: {
        auto serie = std::make_unique<PuertoSerie>();
        const QString& s = settings.isNull() ? m_settings : settings;
        if (!serie->EstablecerSettings(s)) {
            m_error = serie->Error();
            return false;
        }
        m_settings = s;
        serie->EstablecerCommPort(m_commPort);
        serie->EstablecerDispositivo(d.ruta);
        t = std::move(serie);
        break;
    }
    case Tipo::Tcp:
        t = std::make_unique<TransporteTcp>(d.host, d.puerto);
        break;
    case Tipo::Usb:
        t = std::make_unique<TransporteUsb>(d.ruta);
        break;
    }
    if (!t->Abrir()) {
        m_error = t->Error();
        m_sinRespuesta = t->SinRespuesta();
        return false;
    }
    m_transporte = std::move(t);
    return true;
}

void PuertoCom::Cerrar() {
    if (m_transporte) {
        m_transporte->Cerrar();
    }
}

bool PuertoCom::PortOpen() const {
    return m_transporte && m_transporte->PortOpen();
}

bool PuertoCom::Cerrado() {
    if (m_transporte) {
        return false;
    }
    m_error = QStringLiteral("El puerto está cerrado");
    return true;
}

bool PuertoCom::Output(QByteArrayView bytes) {
    return !Cerrado() && m_transporte->Output(bytes);
}

QByteArray PuertoCom::Input() {
    return m_transporte ? m_transporte->Input() : QByteArray();
}

qint64 PuertoCom::InBufferCount() {
    return m_transporte ? m_transporte->InBufferCount() : 0;
}

void PuertoCom::DescartarEntrada() {
    if (m_transporte) {
        m_transporte->DescartarEntrada();
    }
}

Transporte::Espera PuertoCom::EsperarEntrada(int milisegundos) {
    return Cerrado() ? Espera::Fallo : m_transporte->EsperarEntrada(milisegundos);
}

bool PuertoCom::Break(bool activo) {
    return !Cerrado() && m_transporte->Break(activo);
}

QString PuertoCom::Dispositivo() const {
    return PuertoSerie::Dispositivo(m_commPort);
}

qint64 PuertoCom::TiempoLinea(qsizetype bytes) const {
    const auto c = PuertoSerie::InterpretarSettings(m_settings);
    if (m_tipo != Tipo::Serie || !c) {
        return qint64(bytes) * 10 * 1000 / 115200;
    }
    const int bitsPorByte = 1 + c->bitsDatos + (c->paridad == 'N' ? 0 : 1) + c->bitsParada / 10;
    return qint64(bytes) * bitsPorByte * 1000 / c->velocidad;
}

const QString& PuertoCom::Error() const {
    return m_transporte ? m_transporte->Error() : m_error;
}
