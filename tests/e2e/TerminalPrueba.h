#pragma once

#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/Procesos.h"

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// One point-of-sale terminal for the end-to-end tests: its own settings file,
// credentials file and drive root in a temporary directory, and the real
// orlan-cola started as a service on it.
class TerminalPrueba {
public:
    // `odbcsysini` is the directory whose odbcinst.ini maps {sql server};
    // `servidor` and `baseDatos` go to the settings like an installation's,
    // `credenciales` to the credentials file.
    TerminalPrueba(int numero, const QString& odbcsysini, const QString& servidor, const QString& baseDatos,
                   const QByteArray& credenciales);
    // The same with what this program's own connection uses: `motor`'s
    // drivers, the settings and the credentials file now in place.
    TerminalPrueba(int numero, Motor motor);
    ~TerminalPrueba();

    // Adds "clave=valor" to a section of the settings file (before Iniciar).
    void Ajuste(const QString& seccion, const QString& clave, const QString& valor);

    // Writes the settings and starts `orlan-cola --servicio`.
    void Iniciar();
    // SIGTERM, then waits for the exit; returns the exit status.
    int Detener();
    // SIGKILL, as a crash or a power cut would end it.
    void Matar();
    qint64 Pid() const { return m_proceso.processId(); }
    bool Corriendo() const { return m_proceso.state() != QProcess::NotRunning; }
    QString Salida();

    QString RaizUnidad() const { return m_dir.path() + QStringLiteral("/data/orlan"); }
    // Everything the simulated parallel port at 0x378 has captured.
    QByteArray CapturaLpt() const;
    // The event log, every day's file joined.
    QString Bitacora() const;

private:
    void EscribirAjustes();

    QTemporaryDir m_dir;
    QProcess m_proceso;
    QMap<QString, QMap<QString, QString>> m_ajustes;
    QString m_salida;
};
