#include "database/AccionesCola.h"

#include "database/BaseDatos.h"

ResultadoAccion RestablecerImpresora(int impresora) {
    const QString id = QString::number(impresora);
    const QString condicion = QStringLiteral("Id_Impresora=") + id;
    const auto filas = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Redirigido, Estado_Impresora FROM Impresora WHERE ") + condicion);
    if (filas->Fin()) {
        return ResultadoAccion::NoExiste;
    }
    if (filas->Campo(0).toString() == id && filas->Campo(1).toString().trimmed() == QStringLiteral("A")) {
        return ResultadoAccion::SinCambios;
    }
    if (Actualizar(QStringLiteral("Impresora"),
                   QStringLiteral("Redirigido = ") + id + QStringLiteral(", Estado_Impresora='A'"), condicion)) {
        return ResultadoAccion::Hecha;
    }
    // Actualizar also fails when only the replication to the other terminals
    // did; the local update then stands.
    return ObtenerValor(QStringLiteral("Redirigido"), QStringLiteral("Impresora"), condicion) == id
               ? ResultadoAccion::NoReplicada
               : ResultadoAccion::Fallida;
}

ResultadoAccion ReintentarTrabajo(qint64 trabajo) {
    const QString condicion = QStringLiteral("IdTrabajo = ") + QString::number(trabajo);
    const QString escribiendo =
        ObtenerValor(QStringLiteral("COALESCE(Escribiendo, -1)"), QStringLiteral("ColaImpresion"), condicion);
    if (escribiendo != QStringLiteral("2")) {
        return escribiendo.isEmpty() ? ResultadoAccion::NoExiste : ResultadoAccion::NoApartado;
    }
    Conexion::Instancia().Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = 0 WHERE ") + condicion +
                                   QStringLiteral(" AND Escribiendo = 2"));
    return ResultadoAccion::Hecha;
}
