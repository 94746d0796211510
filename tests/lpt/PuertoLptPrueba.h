#pragma once

#include "platform/Reloj.h"
#include "platform/Rutas.h"
#include "ports/PuertoSimulado.h"
#include "testsupport/EntornoPrueba.h"

#include <QStringList>
#include <gtest/gtest.h>

// A simulated port and a clock that moves `m_paso` milliseconds on every
// reading, so that waits of many seconds pass at once.
class PuertoLptPrueba : public ::testing::Test {
protected:
    void SetUp() override {
        Reloj::Establecer([this] { return m_ahora = m_ahora.addMSecs(m_paso); });
    }

    void TearDown() override {
        PuertoES::Establecer(nullptr);
        Reloj::Establecer({});
    }

    static PuertoSimulado& Instalar(PuertoSimulado::Tipo tipo, quint16 base = 0x378) {
        return PuertoSimulado::Instalar({.base = base, .tipo = tipo});
    }

    static QStringList LineasPrtErr() {
        return QString::fromUtf8(EntornoPrueba::Leer(Rutas::Local("C:\\PRT.ERR"))).split("\r\n", Qt::SkipEmptyParts);
    }

    EntornoPrueba m_entorno;
    QDateTime m_inicio{QDate(2026, 12, 5), QTime(10, 0, 0)};
    QDateTime m_ahora = m_inicio;
    int m_paso = 0;
};
