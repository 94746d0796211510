#pragma once

#include "crypto/clsDES.h"
#include "database/BaseDatos.h"

#include <QStringList>
#include <initializer_list>
#include <optional>

// Rows of the queue's tables for the tests, on the open connection.

// The shop the queue's tests start from: the rows of `terminales` and the
// parameter TERMINAL = 1. Named columns only, so that a shop's own tables
// (TiendaPropia.h) take them as well as ours.
inline void InsertarTerminales(std::initializer_list<int> terminales) {
    Conexion& c = Conexion::Instancia();
    for (int terminal : terminales) {
        c.Ejecutar(QString("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(terminal));
    }
    c.Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
}

inline void InsertarImpresora(int id, int terminal, int respaldo, const QString& estado = "'A'",
                              const QString& puerto = "LPT1", const QString& modo = "E", int cheques = 0) {
    Conexion::Instancia().Ejecutar(
        QString("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES "
                "(%1, %2, '%3', '%4', 'Impresora %1', %5, %1, %6, %7)")
            .arg(id)
            .arg(terminal)
            .arg(puerto, modo, respaldo ? QString::number(respaldo) : QString("NULL"), estado)
            .arg(cheques));
}

// A job written as a point-of-sale terminal does: the header with
// Escribiendo = -1, its lines numbered in the order given (nullopt stores a
// NULL line), then Escribiendo = 0 unless the writer is `aMedias`.
inline void InsertarTrabajo(int id, int impresora, const QList<std::optional<QString>>& lineas, bool aMedias = false) {
    Conexion& c = Conexion::Instancia();
    c.Ejecutar(QString("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                       "VALUES (%1, 'R', 'caja', -1, %2)")
                   .arg(id)
                   .arg(impresora));
    for (int i = 0; i < lineas.size(); ++i) {
        c.Ejecutar(QString("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (%1, %2, %3)")
                       .arg(id)
                       .arg(i + 1)
                       .arg(lineas[i] ? "'" + DuplicarComillas(*lineas[i]) + "'" : QString("NULL")));
    }
    if (!aMedias) {
        c.Ejecutar(QString("UPDATE ColaImpresion SET Escribiendo = 0 WHERE IDTrabajo=%1").arg(id));
    }
}

// The operator "gerente", password "demo" encrypted with `llave`, in a group
// allowed to control the print server (permission 27).
inline void InsertarGerente(const QString& llave) {
    clsDES des;
    des.Key(llave);
    Conexion& c = Conexion::Instancia();
    c.Ejecutar("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (1, 'gerente', '" +
               des.EncryptString("demo", {}, true) + "')");
    c.Ejecutar("INSERT INTO EmpleadosXGrupo (ID_Empleado, ID_Grupo_Trabajo) VALUES (1, 1)");
    c.Ejecutar("INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (1, 27)");
}

// The first column of every row, joined with commas.
inline QString Lista(const QString& sql) {
    QStringList valores;
    auto filas = Conexion::Instancia().Consultar(sql);
    for (; !filas->Fin(); filas->MoveNext()) {
        valores << filas->Campo(0).toString();
    }
    return valores.join(',');
}

// What an Epson printer gets for a job of type "R": the resets, the lines,
// three feeds and the cut with its own five feeds.
inline QByteArray ImpresoEpson(const QByteArray& lineas) {
    return QByteArray::fromHex("1B400D1B2100") + lineas + QByteArray::fromHex("0A0D").repeated(8) +
           QByteArray::fromHex("1B6D");
}
