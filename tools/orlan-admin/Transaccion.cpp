#include "Transaccion.h"

#include "database/BaseDatos.h"
#include "support/ErrorEjecucion.h"

Transaccion::Transaccion(Conexion& conexion) : m_conexion(conexion) {
    m_conexion.Ejecutar(QStringLiteral("BEGIN TRANSACTION"));
    m_abierta = true;
}

Transaccion::~Transaccion() {
    if (!m_abierta) {
        return;
    }
    try {
        m_conexion.Ejecutar(QStringLiteral("ROLLBACK TRANSACTION"));
    } catch (const ErrorEjecucion&) {
        // The connection is gone or the server already ended the transaction;
        // either way the server discards what was not committed.
    }
}

void Transaccion::Confirmar() {
    m_conexion.Ejecutar(QStringLiteral("COMMIT TRANSACTION"));
    m_abierta = false;
}
