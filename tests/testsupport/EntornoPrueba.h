#pragma once

#include <QString>
#include <QTemporaryDir>

// Points the settings store, the credentials file and the drive root at a
// fresh temporary directory for the lifetime of the object, so that no test
// reads or writes the user's own configuration. Restores the variables after.
class EntornoPrueba {
public:
    EntornoPrueba();
    ~EntornoPrueba();

    QString Raiz() const { return m_dir.path(); }
    QString Configuracion() const { return m_dir.path() + QStringLiteral("/config/orlan"); }
    QString Datos() const { return m_dir.path() + QStringLiteral("/data/orlan"); }

    // Writes a file (creating its directory); returns its path.
    QString Escribir(const QString& ruta, const QByteArray& contenido);
    static QByteArray Leer(const QString& ruta);
    // The event log under a drive root (Datos() or a terminal's), every day's file joined.
    static QString Bitacora(const QString& raizUnidad);

private:
    QTemporaryDir m_dir;
    QByteArray m_configAnterior;
    QByteArray m_datosAnterior;
};
