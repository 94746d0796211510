#include "testsupport/EntornoPrueba.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

EntornoPrueba::EntornoPrueba()
    : m_configAnterior(qgetenv("XDG_CONFIG_HOME")), m_datosAnterior(qgetenv("XDG_DATA_HOME")) {
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (m_dir.path() + QStringLiteral("/data")).toUtf8());
}

EntornoPrueba::~EntornoPrueba() {
    qputenv("XDG_CONFIG_HOME", m_configAnterior);
    qputenv("XDG_DATA_HOME", m_datosAnterior);
}

QString EntornoPrueba::Escribir(const QString& ruta, const QByteArray& contenido) {
    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QFile f(ruta);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(contenido);
    return ruta;
}

QByteArray EntornoPrueba::Leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString EntornoPrueba::Bitacora(const QString& raizUnidad) {
    QString todo;
    const QDir dir(raizUnidad + QStringLiteral("/nodra"));
    for (const QString& nombre : dir.entryList({QStringLiteral("OrlanComTra*.log")}, QDir::Files, QDir::Name)) {
        todo += QString::fromUtf8(Leer(dir.filePath(nombre)));
    }
    return todo;
}
