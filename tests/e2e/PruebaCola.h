#pragma once

#include "TerminalPrueba.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "startup/ProveedorCredenciales.h"
#include "testsupport/BaseDatosPrueba.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

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
        QFile credenciales(ProveedorCredenciales::RutaArchivo());
        credenciales.open(QIODevice::ReadOnly);
        m_terminales.push_back(std::make_unique<TerminalPrueba>(
            numero, BaseDatosPrueba::DirectorioOdbc(kMotor), Ajustes::Leer("ORLAN", "Configuracion", "Servidor"),
            Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS"), credenciales.readAll()));
        return *m_terminales.back();
    }

    void Ejecutar(const QString& sql) { Conexion::Instancia().Ejecutar(sql); }
    QString Lista(const QString& sql) {
        QStringList valores;
        auto filas = Conexion::Instancia().Consultar(sql);
        for (; !filas->Fin(); filas->MoveNext()) {
            valores << filas->Campo(0).toString();
        }
        return valores.join(',');
    }
    void Impresora(int id, int terminal, const char* puerto, const char* modo, int respaldo, const char* estado) {
        Ejecutar(QString("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                         "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES "
                         "(%1, %2, '%3', '%4', 'Impresora %1', %5, %1, %6, 0)")
                     .arg(id)
                     .arg(terminal)
                     .arg(puerto, modo)
                     .arg(respaldo)
                     .arg(estado));
    }
    // Writes a job as a point-of-sale terminal does: header with Escribiendo
    // = -1, the lines, then Escribiendo = 0 (unless `terminar` is false).
    void Trabajo(int id, int impresora, const QList<std::optional<QString>>& lineas, bool terminar = true) {
        Ejecutar(QString("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                         "VALUES (%1, 'R', 'caja', -1, %2)")
                     .arg(id)
                     .arg(impresora));
        for (int i = 0; i < lineas.size(); ++i) {
            Ejecutar(QString("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (%1, %2, %3)")
                         .arg(id)
                         .arg(i + 1)
                         .arg(lineas[i] ? "'" + DuplicarComillas(*lineas[i]) + "'" : QString("NULL")));
        }
        if (terminar) {
            Ejecutar(QString("UPDATE ColaImpresion SET Escribiendo = 0 WHERE IDTrabajo=%1").arg(id));
        }
    }
    QString Trabajos() { return Lista("SELECT IdTrabajo FROM ColaImpresion ORDER BY IdTrabajo"); }

    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd{m_entorno, kMotor};
    std::vector<std::unique_ptr<TerminalPrueba>> m_terminales;
};

// What an Epson printer on the parallel port gets for a job of type "R".
inline QByteArray ImpresoEpson(const QByteArray& lineas) {
    return H("1B40") + H("0D1B2100") + lineas + H("0A0D").repeated(3) + H("0A0D").repeated(5) + H("1B6D");
}
