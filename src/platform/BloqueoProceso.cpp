#include "platform/BloqueoProceso.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace BloqueoProceso {

Resultado Tomar(const QString& ruta, QString* error) {
    // A lock taken twice in one process on two descriptors would refuse
    // itself: the paths already held are remembered.
    static QSet<QString> propios;
    const QString absoluta = QFileInfo(ruta).absoluteFilePath();
    if (propios.contains(absoluta)) {
        return Resultado::YaPropio;
    }
    QDir().mkpath(QFileInfo(absoluta).absolutePath());
    const int fd = ::open(QFile::encodeName(absoluta).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error != nullptr) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
        }
        return Resultado::Error;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int causa = errno;
        ::close(fd);
        if (causa == EWOULDBLOCK) {
            return Resultado::Ajeno;
        }
        if (error != nullptr) {
            *error = QString::fromLocal8Bit(std::strerror(causa));
        }
        return Resultado::Error;
    }
    // The descriptor stays open for the life of the process: closing it
    // would drop the lock.
    propios.insert(absoluta);
    return Resultado::Tomado;
}

} // namespace BloqueoProceso
