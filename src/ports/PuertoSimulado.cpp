#include "ports/PuertoSimulado.h"

#include "platform/Reloj.h"
#include "platform/Rutas.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kPendienteMaximo = 64 * 1024;

// The condition file is re-read at most once a second, on time alone: a
// printer nobody prints to is still seen to change. Status reads come fast
// while a character waits, so they look at the coarse clock.
qint64 MilisegundosMonotonos() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::MonotonoGrueso()).count();
}

std::optional<quint8> InterpretarEstado(const QByteArray& contenido) {
    const QByteArray palabra = contenido.trimmed().toLower();
    if (palabra == "listo") {
        return PuertoSimulado::kListo;
    }
    if (palabra == "ocupado") {
        return PuertoSimulado::kOcupado;
    }
    if (palabra == "sin-papel") {
        return PuertoSimulado::kSinPapel;
    }
    if (palabra == "error") {
        return PuertoSimulado::kError;
    }
    if (palabra.startsWith("0x") && palabra.size() <= 4) {
        bool ok = false;
        const uint valor = palabra.mid(2).toUInt(&ok, 16);
        if (ok) {
            return quint8(valor);
        }
    }
    return std::nullopt;
}

bool Listo(quint8 crudo) {
    return (crudo & 0xA8) == 0x88;
}

} // namespace

PuertoSimulado::PuertoSimulado() : PuertoSimulado(Opciones{}) {}

PuertoSimulado::PuertoSimulado(const Opciones& opciones)
    : m_base(opciones.base), m_tipo(opciones.tipo), m_archivos(opciones.archivos), m_memoria(opciones.memoria) {
    if (m_archivos) {
        const QString nombre = Rutas::RaizUnidad() + QStringLiteral("/lpt/") + QString::number(m_base, 16).toUpper();
        m_rutaCaptura = nombre + QStringLiteral(".bin");
        m_rutaEstado = nombre + QStringLiteral(".estado");
    }
}

PuertoSimulado::~PuertoSimulado() {
    Vaciar();
}

PuertoSimulado& PuertoSimulado::Instalar() {
    return Instalar(Opciones{});
}

PuertoSimulado& PuertoSimulado::Instalar(const Opciones& opciones) {
    auto puerto = std::make_unique<PuertoSimulado>(opciones);
    PuertoSimulado& referencia = *puerto;
    PuertoES::Establecer(std::move(puerto));
    return referencia;
}

void PuertoSimulado::EstablecerTipo(Tipo tipo) {
    m_tipo = tipo;
    m_tiempoAgotadoEpp = false;
}

void PuertoSimulado::OcupadoHasta(const QDateTime& hasta) {
    m_ocupadoHasta = hasta;
}

void PuertoSimulado::LimpiarCaptura() {
    m_capturado.clear();
    m_perdidos.clear();
}

int PuertoSimulado::read8(quint16 direccion) {
    if (m_tipo == Tipo::SinHardware) {
        return 0xFF;
    }
    switch (quint16(direccion - m_base)) {
    case 0:
        return Bidireccional() && (m_control & 0x20) ? 0xFF : m_datos;
    case 1:
        return LeerEstado();
    case 2:
        return m_control | 0xC0;
    case 3:
        return m_tipo == Tipo::Epp ? m_direccionEpp : 0xFF;
    case 0x402:
        return m_tipo == Tipo::Ecp ? m_ecr : 0xFF;
    default:
        return 0xFF;
    }
}

bool PuertoSimulado::write8(quint16 direccion, quint8 valor) {
    if (m_tipo == Tipo::SinHardware) {
        return true;
    }
    switch (quint16(direccion - m_base)) {
    case 0:
        m_datos = valor;
        break;
    case 1:
        if (m_tipo == Tipo::Epp && (valor & 1)) {
            m_tiempoAgotadoEpp = false;
        }
        break;
    case 2: {
        const bool estrobo = !(m_control & 1) && (valor & 1);
        m_control = valor & 0x3F;
        if (estrobo) {
            Estrobo();
        }
        break;
    }
    case 3:
        if (m_tipo == Tipo::Epp) {
            // No EPP peripheral answers the address cycle: the port times out.
            m_direccionEpp = valor;
            m_tiempoAgotadoEpp = true;
        }
        break;
    case 0x402:
        if (m_tipo == Tipo::Ecp) {
            m_ecr = (valor & 0xFC) | 0x01;
        }
        break;
    default:
        break;
    }
    return true;
}

quint8 PuertoSimulado::Estado() {
    RevisarArchivoEstado();
    return Condicion();
}

quint8 PuertoSimulado::Condicion() {
    return m_estadoArchivo ? *m_estadoArchivo : m_estadoFijado;
}

bool PuertoSimulado::Ocupado(bool consumir) {
    if (m_ocupadoLecturas > 0) {
        if (consumir) {
            --m_ocupadoLecturas;
        }
        return true;
    }
    if (m_ocupadoHasta) {
        if (Reloj::Ahora() < *m_ocupadoHasta) {
            return true;
        }
        m_ocupadoHasta.reset();
    }
    return false;
}

quint8 PuertoSimulado::LeerEstado() {
    ++m_lecturasEstado;
    RevisarArchivoEstado();
    quint8 crudo = Condicion();
    if (Ocupado(true)) {
        crudo &= ~0x80;
    }
    if (m_tipo == Tipo::Epp) {
        crudo = (crudo & ~1) | (m_tiempoAgotadoEpp ? 1 : 0);
    }
    return crudo;
}

void PuertoSimulado::RevisarArchivoEstado() {
    if (!m_archivos) {
        return;
    }
    const qint64 ahora = MilisegundosMonotonos();
    if (!m_releer && ahora < m_proximaRevision) {
        return;
    }
    m_releer = false;
    m_proximaRevision = ahora + 1000;
    QFile f(m_rutaEstado);
    if (!f.open(QIODevice::ReadOnly)) {
        m_estadoArchivo.reset();
        return;
    }
    m_estadoArchivo = InterpretarEstado(f.read(64));
}

void PuertoSimulado::Estrobo() {
    ++m_estrobos;
    quint8 crudo = Condicion();
    if (Ocupado(false)) {
        crudo &= ~0x80;
    }
    if (!Listo(crudo)) {
        if (m_memoria) {
            m_perdidos.append(char(m_datos));
        }
        return;
    }
    if (m_bytesHastaCambio > 0 && --m_bytesHastaCambio == 0) {
        m_estadoFijado = m_estadoTras;
    }
    if (m_memoria) {
        m_capturado.append(char(m_datos));
    }
    if (m_archivos) {
        if (!m_pendiente) {
            m_pendiente = std::make_unique<char[]>(kPendienteMaximo);
        }
        m_pendiente[m_usados++] = char(m_datos);
        if (m_usados == kPendienteMaximo) {
            Vaciar();
        }
    }
}

bool PuertoSimulado::AbrirCaptura() {
    struct stat info {};
    if (m_archivo >= 0 && ::stat(QFile::encodeName(m_rutaCaptura).constData(), &info) == 0 &&
        quint64(info.st_dev) == m_dispositivo && quint64(info.st_ino) == m_nodo) {
        return true;
    }
    if (m_archivo >= 0) {
        ::close(m_archivo); // removed or replaced by a reader: start a new file
    }
    QDir().mkpath(m_rutaCaptura.left(m_rutaCaptura.lastIndexOf(u'/')));
    // The owner's alone: it holds the receipts printed.
    m_archivo = ::open(QFile::encodeName(m_rutaCaptura).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (m_archivo < 0 || ::fstat(m_archivo, &info) != 0) {
        return false;
    }
    m_dispositivo = quint64(info.st_dev);
    m_nodo = quint64(info.st_ino);
    return true;
}

void PuertoSimulado::Vaciar() {
    if (m_usados == 0) {
        return;
    }
    bool escrito = AbrirCaptura();
    for (qsizetype hecho = 0; escrito && hecho < m_usados;) {
        const ssize_t n = ::write(m_archivo, m_pendiente.get() + hecho, size_t(m_usados - hecho));
        if (n < 0 && errno != EINTR) {
            escrito = false;
        } else if (n > 0) {
            hecho += n;
        }
    }
    // The paper is gone either way; say so once rather than on every line.
    if (!escrito && !m_avisado) {
        std::fprintf(stderr, "Puerto simulado: no se puede escribir %s: %s\n", qPrintable(m_rutaCaptura),
                     std::strerror(errno));
        m_avisado = true;
    }
    m_usados = 0;
}
