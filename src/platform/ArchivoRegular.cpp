#include "platform/ArchivoRegular.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString TextoError(int numero) {
    return QString::fromLocal8Bit(std::strerror(numero));
}

ArchivoRegular::Firma FirmaDeEstado(const struct stat& st) {
    ArchivoRegular::Firma firma;
    firma.dispositivo = static_cast<quint64>(st.st_dev);
    firma.nodo = static_cast<quint64>(st.st_ino);
    firma.tamano = st.st_size;
    firma.modificado = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    firma.cambiado = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return firma;
}

} // namespace

ArchivoRegular::ArchivoRegular(const QString& ruta, qint64 limite) : m_limite(limite) {
    const QByteArray nombre = QFile::encodeName(ruta);
    struct stat st {};
    // Looking before opening spares a device the open itself (a tty would
    // otherwise see its lines change).
    if (::stat(nombre.constData(), &st) != 0) {
        const int numero = errno;
        m_estado = numero == ENOENT || numero == ENOTDIR ? Estado::Ausente : Estado::Fallo;
        m_motivo = TextoError(numero);
        return;
    }
    if (!Examinar(&st)) {
        return;
    }
    m_fd = ::open(nombre.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        const int numero = errno;
        m_estado = numero == ENOENT ? Estado::Ausente : Estado::Fallo;
        m_motivo = TextoError(numero);
        return;
    }
    if (::fstat(m_fd, &st) != 0) {
        m_estado = Estado::Fallo;
        m_motivo = TextoError(errno);
        return;
    }
    if (Examinar(&st)) {
        m_estado = Estado::Abierto;
    }
}

ArchivoRegular::~ArchivoRegular() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::optional<ArchivoRegular::Firma> ArchivoRegular::FirmaDe(const QString& ruta) {
    struct stat st {};
    if (::stat(QFile::encodeName(ruta).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return FirmaDeEstado(st);
}

bool ArchivoRegular::Examinar(const void* estadoSistema) {
    const auto& st = *static_cast<const struct stat*>(estadoSistema);
    if (!S_ISREG(st.st_mode)) {
        m_estado = Estado::Rechazado;
        m_motivo =
            S_ISDIR(st.st_mode) ? QStringLiteral("es un directorio") : QStringLiteral("no es un archivo regular");
        return false;
    }
    if (st.st_size > m_limite) {
        m_estado = Estado::Rechazado;
        m_motivo = QStringLiteral("mide %1 bytes, mas del limite de %2").arg(st.st_size).arg(m_limite);
        return false;
    }
    m_firma = FirmaDeEstado(st);
    m_permisos = static_cast<int>(st.st_mode & 07777);
    m_propietario = st.st_uid;
    return true;
}

std::optional<QByteArray> ArchivoRegular::Leer() {
    if (m_estado != Estado::Abierto) {
        return std::nullopt;
    }
    if (::lseek(m_fd, 0, SEEK_SET) < 0) {
        m_motivo = TextoError(errno);
        return std::nullopt;
    }
    // One byte past the limit tells a file that grew since it was examined.
    QByteArray contenido(static_cast<qsizetype>(std::min(m_firma.tamano, m_limite) + 1), Qt::Uninitialized);
    qsizetype leidos = 0;
    while (leidos <= m_limite) {
        if (leidos == contenido.size()) {
            contenido.resize(std::min<qsizetype>(contenido.size() * 2, m_limite + 1));
        }
        const ssize_t n = ::read(m_fd, contenido.data() + leidos, static_cast<size_t>(contenido.size() - leidos));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_motivo = TextoError(errno);
            return std::nullopt;
        }
        if (n == 0) {
            contenido.truncate(leidos);
            return contenido;
        }
        leidos += n;
    }
    m_motivo = QStringLiteral("crecio mas alla del limite de %1 bytes").arg(m_limite);
    return std::nullopt;
}
