#pragma once

#include "support/ErrorProveedor.h"

#include <QString>
#include <stdexcept>

// A run-time error that a routine does not handle itself and that reaches its
// caller: a database statement that fails inside a routine with no failure
// path of its own, a port name whose number is not a digit, a job line with an
// unterminated tag. The callers that own a failure path (the queue tick, the
// dialogs) catch it, log it and hand it to ManejarErrorBD.
//
// `numero` tells the kind of failure: -2147467259 for a database failure,
// -2147217900 for an integrity violation (SQLSTATE 23...), 13 for a type
// mismatch. `errores` keeps the driver's diagnostic records.
class ErrorEjecucion : public std::runtime_error {
public:
    ErrorEjecucion(qint64 numero, const QString& descripcion, ErroresProveedor errores = {})
        : std::runtime_error(descripcion.toStdString()), m_numero(numero), m_descripcion(descripcion),
          m_errores(std::move(errores)) {}

    qint64 Numero() const { return m_numero; }
    const QString& Descripcion() const { return m_descripcion; }
    const ErroresProveedor& Errores() const { return m_errores; }

    static constexpr qint64 kErrorBaseDatos = -2147467259;
    static constexpr qint64 kErrorIntegridad = -2147217900;
    static constexpr qint64 kTiposNoCoinciden = 13;

private:
    qint64 m_numero;
    QString m_descripcion;
    ErroresProveedor m_errores;
};
