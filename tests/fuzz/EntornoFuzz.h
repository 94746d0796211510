#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <cstdlib>
#include <memory>

// Once per fuzzing process: settings, credentials and the drive root in a
// directory of its own, never the user's, and an application object for the
// code that expects one.
inline QString PrepararEntornoFuzz() {
    static const QString raiz = [] {
        QByteArray plantilla = QDir::tempPath().toLocal8Bit() + "/orlan-fuzz.XXXXXX";
        if (!mkdtemp(plantilla.data())) {
            std::abort();
        }
        setenv("XDG_CONFIG_HOME", plantilla + "/config", 1);
        setenv("XDG_DATA_HOME", plantilla + "/data", 1);
        QDir().mkpath(QString::fromLocal8Bit(plantilla) + QStringLiteral("/config/orlan"));
        QDir().mkpath(QString::fromLocal8Bit(plantilla) + QStringLiteral("/data/orlan"));
        static int argc = 1;
        static char nombre[] = "orlan-fuzz";
        static char* argv[] = {nombre, nullptr};
        static QCoreApplication app(argc, argv);
        return QString::fromLocal8Bit(plantilla);
    }();
    return raiz;
}
