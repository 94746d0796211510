#include "database/AccionesCola.h"

#include "database/BaseDatos.h"
#include "database/ColumnaOpcional.h"
#include "database/RepositorioCola.h"

#include <optional>

namespace {

// The printer's Redirigido as text, or nothing when the printer does not exist.
std::optional<QString> Redirigido(int impresora, QString* estado = nullptr) {
    const auto filas = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Redirigido, Estado_Impresora FROM Impresora WHERE Id_Impresora = ?"), {impresora});
    if (filas->Fin()) {
        return std::nullopt;
    }
    if (estado) {
        *estado = filas->Campo(1).toString().trimmed();
    }
    return filas->Campo(0).toString();
}

} // namespace

ResultadoAccion RestablecerImpresora(int impresora) {
    const QString id = QString::number(impresora);
    QString estado;
    const std::optional<QString> antes = Redirigido(impresora, &estado);
    if (!antes) {
        return ResultadoAccion::NoExiste;
    }
    if (*antes == id && estado == QStringLiteral("A")) {
        return ResultadoAccion::SinCambios;
    }
    // The statement's text is logged and replicated to the other terminals:
    // it carries the number itself, which is all the text it takes.
    if (Actualizar(QStringLiteral("Impresora"),
                   QStringLiteral("Redirigido = ") + id + QStringLiteral(", Estado_Impresora='A'"),
                   QStringLiteral("Id_Impresora=") + id)) {
        return ResultadoAccion::Hecha;
    }
    // Actualizar also fails when only the replication to the other terminals
    // did; the local update then stands.
    return Redirigido(impresora) == id ? ResultadoAccion::NoReplicada : ResultadoAccion::Fallida;
}

ResultadoAccion ReintentarTrabajo(qint64 trabajo) {
    Conexion& c = Conexion::Instancia();
    const auto filas = c.Consultar(
        QStringLiteral("SELECT COALESCE(Escribiendo, -1) FROM ColaImpresion WHERE IdTrabajo = ?"), {trabajo});
    if (filas->Fin()) {
        return ResultadoAccion::NoExiste;
    }
    if (filas->Campo(0).toString() != QStringLiteral("2")) {
        return ResultadoAccion::NoApartado;
    }
    // Its time becomes the database's now, as if written again: a job set
    // aside for its age ([Cola] EdadMaxima) then prints instead of being set
    // aside again. A shop's table may lack the column.
    const QString fecha = ExisteColumna(QStringLiteral("ColaImpresion"), QStringLiteral("FechaHora"))
                              ? QStringLiteral(", FechaHora = ") + AhoraFechaHora()
                              : QString();
    c.Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = 0") + fecha +
                   QStringLiteral(" WHERE IdTrabajo = ? AND Escribiendo = 2"),
               {trabajo});
    return ResultadoAccion::Hecha;
}
