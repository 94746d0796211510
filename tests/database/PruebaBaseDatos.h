#pragma once

#include "database/BaseDatos.h"
#include "platform/CajaMensajes.h"
#include "platform/Reloj.h"
#include "platform/Rutas.h"
#include "ports/PuertoES.h"
#include "ports/PuertoSimulado.h"
#include "support/Bitacora.h"
#include "testsupport/BaseDatosPrueba.h"

#include <gtest/gtest.h>

inline const Motor kMotor = *MotorPorNombre(QStringLiteral(ORLAN_PRUEBA_MOTOR));

// A configured terminal with a fresh database holding the schema, a fixed
// clock and a message box that records what it is shown.
class PruebaBaseDatos : public ::testing::Test {
protected:
    void SetUp() override {
        m_reloj = Reloj::Establecer([] { return QDateTime(QDate(2026, 12, 5), QTime(12, 0)); });
        m_caja = CajaMensajes::EstablecerPresentador([this](const CajaMensajes::Mensaje& m) {
            m_mensajes << m;
            return 1;
        });
        ASSERT_TRUE(m_bd.Preparar()) << m_bd.Error().toStdString();
    }
    void TearDown() override {
        if (m_puerto) {
            PuertoES::Establecer(nullptr);
        }
        CajaMensajes::EstablecerPresentador(m_caja);
        Reloj::Establecer(m_reloj);
    }

    QString Bitacora() const { return QString::fromUtf8(EntornoPrueba::Leer(RutaBitacora(QDate(2026, 12, 5)))); }
    QString Traza() const { return QString::fromUtf8(EntornoPrueba::Leer(Rutas::Local("C:\\TT.LOG"))); }
    void Ejecutar(const QString& sql) { Conexion::Instancia().Ejecutar(sql); }
    // Puts the simulated ports, without their files, in place of the real ones.
    void InstalarPuerto() {
        PuertoSimulado::Opciones opciones;
        opciones.archivos = false;
        m_puerto = &PuertoSimulado::Instalar(opciones);
    }
    // What the simulated parallel port has captured since the last call.
    QByteArray Tomar() {
        const QByteArray bytes = m_puerto->Capturado();
        m_puerto->LimpiarCaptura();
        return bytes;
    }

    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd{m_entorno, kMotor};
    QList<CajaMensajes::Mensaje> m_mensajes;
    PuertoSimulado* m_puerto = nullptr;
    Reloj::Fuente m_reloj;
    CajaMensajes::Presentador m_caja;
};
