#pragma once

#include "platform/PuertoES.h"
#include "platform/PuertoSimulado.h"
#include "platform/Reloj.h"
#include "platform/Rutas.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>

// A simulated port at 0x378 and a clock that moves `m_paso` milliseconds on
// every reading, so that waits of many seconds pass at once.
class PuertoLptPrueba : public ::testing::Test {
protected:
    void SetUp() override {
        Reloj::Establecer([this] {
            m_ahora = m_ahora.addMSecs(m_paso);
            return m_ahora;
        });
    }

    void TearDown() override {
        PuertoES::Establecer(nullptr);
        Reloj::Establecer({});
    }

    PuertoSimulado& Instalar(PuertoSimulado::Tipo tipo, quint16 base = 0x378) {
        PuertoSimulado::Opciones opciones;
        opciones.tipo = tipo;
        opciones.base = base;
        return PuertoSimulado::Instalar(opciones);
    }

    QStringList LineasPrtErr() const {
        const QString texto = QString::fromUtf8(EntornoPrueba::Leer(Rutas::Local("C:\\PRT.ERR")));
        return texto.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    EntornoPrueba m_entorno;
    QDateTime m_inicio{QDate(2026, 12, 5), QTime(10, 0, 0)};
    QDateTime m_ahora = m_inicio;
    int m_paso = 0;
};
