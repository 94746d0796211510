#pragma once

#include "testsupport/EntornoPrueba.h"
#include "testsupport/Procesos.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// orlan-impresora-virtual of this build as an Epson printer, recording what it
// takes into a capture file that survives its restarts. With a link it is a
// serial printer on a pseudo-terminal reached through that fixed path (as
// "usb:" + the path, a USB printer), which goes away with the process as an
// unplugged device's node does; otherwise the options say what it is ("--tcp
// 0": a network printer on 127.0.0.1).
class ImpresoraVirtual {
public:
    explicit ImpresoraVirtual(QString captura, QString enlace = {})
        : m_captura(std::move(captura)), m_enlace(std::move(enlace)) {
        m_proceso.setStandardErrorFile(QProcess::nullDevice());
    }
    ~ImpresoraVirtual() { Matar(); }

    // Starts it with `opciones` and waits for its first line, the port's
    // setting ORLAN/Puertos/COMn. False when it did not come.
    bool Iniciar(const QStringList& opciones = {}) {
        QStringList argumentos{"--modo", "E", "--captura", m_captura};
        if (!m_enlace.isEmpty()) {
            QFile::remove(m_enlace);
            argumentos << "--enlace" << m_enlace;
        }
        m_proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/impresora-virtual/orlan-impresora-virtual"),
                        argumentos + opciones);
        QString linea;
        Esperar(
            [&] {
                linea += QString::fromUtf8(m_proceso.readLine());
                return linea.endsWith(u'\n') || m_proceso.state() == QProcess::NotRunning;
            },
            10);
        m_destino = linea.trimmed();
        return !m_destino.isEmpty();
    }
    // SIGKILL: whatever was being written is cut off, and the link goes.
    void Matar() {
        TerminarProceso(m_proceso);
        if (!m_enlace.isEmpty()) {
            QFile::remove(m_enlace);
        }
    }
    const QString& Destino() const { return m_destino; }
    QByteArray Captura() const { return EntornoPrueba::Leer(m_captura); }

private:
    QString m_captura;
    QString m_enlace;
    QString m_destino;
    QProcess m_proceso;
};
