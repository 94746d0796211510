#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

// Once per fuzzing process: settings, credentials and the drive root in a
// directory of its own (removed at exit), never the user's, and an application
// object for the code that expects one.
inline QString PrepararEntornoFuzz() {
    static const QString raiz = [] {
        // Memory-backed when the machine has it: the settings store syncs
        // every write.
        const QString base =
            QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        static QTemporaryDir directorio(base + QStringLiteral("/orlan-fuzz-XXXXXX"));
        if (!directorio.isValid()) {
            std::abort();
        }
        const QString ruta = directorio.path();
        setenv("XDG_CONFIG_HOME", QFile::encodeName(ruta + QStringLiteral("/config")).constData(), 1);
        setenv("XDG_DATA_HOME", QFile::encodeName(ruta + QStringLiteral("/data")).constData(), 1);
        QDir().mkpath(ruta + QStringLiteral("/config/orlan"));
        QDir().mkpath(ruta + QStringLiteral("/data/orlan"));
        static int argc = 1;
        static char nombre[] = "orlan-fuzz";
        static char* argv[] = {nombre, nullptr};
        static QCoreApplication app(argc, argv);
        return ruta;
    }();
    return raiz;
}

// Replaces a file by rename, as an editor or the settings store does, so that
// every version has an inode of its own. Mode 0600.
inline void ReemplazarArchivo(const QString& ruta, const QByteArray& contenido) {
    const QString temporal = ruta + QStringLiteral(".nuevo");
    QFile f(temporal);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || f.write(contenido) != contenido.size()) {
        std::abort();
    }
    f.close();
    if (std::rename(QFile::encodeName(temporal).constData(), QFile::encodeName(ruta).constData()) != 0) {
        std::abort();
    }
}
