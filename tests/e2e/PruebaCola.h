#pragma once

#include "TerminalPrueba.h"
#include "database/BaseDatos.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/DatosCola.h"

#include <gtest/gtest.h>
#include <memory>

inline const Motor kMotor = *MotorPorNombre(QStringLiteral(ORLAN_PRUEBA_MOTOR));

inline QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

// A shared database with the schema, and terminals configured on it that run
// the real orlan-cola as services.
class PruebaCola : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_bd.Preparar()) << m_bd.Error().toStdString(); }

    TerminalPrueba& NuevaTerminal(int numero) {
        m_terminales.push_back(std::make_unique<TerminalPrueba>(numero, kMotor));
        return *m_terminales.back();
    }

    void Ejecutar(const QString& sql) { Conexion::Instancia().Ejecutar(sql); }
    QString Trabajos() { return Lista("SELECT IdTrabajo FROM ColaImpresion ORDER BY IdTrabajo"); }

    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd{m_entorno, kMotor};
    std::vector<std::unique_ptr<TerminalPrueba>> m_terminales;
};
