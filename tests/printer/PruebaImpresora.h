#pragma once

#include "platform/Ajustes.h"
#include "platform/Reloj.h"
#include "ports/PuertoES.h"
#include "ports/PuertoSimulado.h"
#include "printer/ctlImpresora.h"
#include "support/Bitacora.h"
#include "testsupport/EntornoPrueba.h"

#include <QStringList>
#include <gtest/gtest.h>

// Texts of the event-log lines written so far today (time stamps cut off).
inline QStringList Eventos() {
    const QString texto = QString::fromUtf8(EntornoPrueba::Leer(RutaBitacora(Reloj::Ahora().date())));
    QStringList eventos;
    for (const QString& linea : texto.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        eventos << linea.mid(19);
    }
    return eventos;
}

// A stored printer setting, "-" when absent.
inline QString Ajuste(const QString& seccion, const QString& clave) {
    return Ajustes::Leer("orlan", seccion, clave, "-");
}

// A control bound to LPT1 on the simulated parallel port (SPP at 0x378, a
// ready printer, captured in memory).
class ImpresoraLpt : public ::testing::Test {
protected:
    void SetUp() override { m_puerto = &PuertoSimulado::Instalar({.archivos = false}); }
    void TearDown() override { PuertoES::Establecer(nullptr); }

    void Enlazar(qint16 modo) {
        ASSERT_TRUE(m_pr.InicializarPuerto("LPT1"));
        m_pr.SetModo(modo);
        m_puerto->LimpiarCaptura();
    }

    // What the printer took since the last call.
    QByteArray Tomar() {
        const QByteArray bytes = m_puerto->Capturado();
        m_puerto->LimpiarCaptura();
        return bytes;
    }

    EntornoPrueba m_entorno;
    PuertoSimulado* m_puerto = nullptr;
    ctlImpresora m_pr;
};
