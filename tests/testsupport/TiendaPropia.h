#pragma once

#include "database/BaseDatos.h"
#include "database/Esquema.h"

#include <QString>

// A shop's own database as its point-of-sale system has it, made by hand on
// the open connection: its tables with only the columns the print server
// reads and writes, and no keys, indexes, triggers, claim table or terminal
// names of ours. The rows are the test's own.
inline void CrearTablasTienda(Motor motor) {
    const bool postgres = motor == Motor::PostgreSql;
    const QString fecha = postgres ? QStringLiteral("timestamp") : QStringLiteral("datetime");
    for (const QString& sentencia : {
             QStringLiteral("CREATE TABLE Terminal (ID_Terminal smallint)"),
             QStringLiteral("CREATE TABLE Impresora (Id_Impresora int, ID_Terminal smallint, Puerto varchar(20), "
                            "Modo char(1), Nombre_Impresora varchar(40), Id_Impresora_Respaldo int, "
                            "Redirigido int, Estado_Impresora varchar(2), esdecheques smallint)"),
             QStringLiteral("CREATE TABLE ColaImpresion (IdTrabajo int, Tipo varchar(10), Usuario varchar(30), "
                            "FechaHora %1, Escribiendo smallint, id_impresora int)")
                 .arg(fecha),
             QStringLiteral("CREATE TABLE DetalleColaImpresion (IdTrabajo int, IdRenglon int, Datos varchar(200))"),
             QStringLiteral("CREATE TABLE ImpresorasXImpresion (IdTrabajo int, Id_Impresora int)"),
             QStringLiteral("CREATE TABLE Parametros (Id_Parametro varchar(20), Valor_Num int)"),
             postgres ? QStringLiteral("CREATE TABLE Transacciones (ID_Transaccion serial, Transaccion text)")
                      : QStringLiteral("CREATE TABLE Transacciones (ID_Transaccion INTEGER PRIMARY KEY "
                                       "AUTOINCREMENT, Transaccion text)"),
             QStringLiteral("CREATE TABLE TransaccionesXTerminal (Tran int, Term smallint)"),
             QStringLiteral("CREATE TABLE Empleado (ID_Empleado int, Usuario varchar(30), Contraseña varchar(100))"),
             QStringLiteral("CREATE TABLE EmpleadosXGrupo (ID_Empleado int, ID_Grupo_Trabajo int)"),
             QStringLiteral("CREATE TABLE PermisosXGrupo_Trabajo (ID_Grupo_Trabajo int, ID_Permiso int)"),
         }) {
        Conexion::Instancia().Ejecutar(sentencia);
    }
}
