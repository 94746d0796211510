#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The parts of a request that the panel reads from text a client chose.

// The value of the first cookie called `nombre` in a Cookie header; empty
// without one.
QByteArray ValorCookie(const QByteArray& cookie, const QByteArray& nombre);

// The name a Host header asks for, in lower case, without its port and
// without the brackets of an IPv6 address ("[::1]:8080" gives "::1").
QString NombreDeHost(const QByteArray& host);

// An action's path: "/api/impresoras/N/restablecer" or
// "/api/trabajos/N/reintentar", N of 1 to 15 digits.
struct RutaAccion {
    QString recurso; // "impresoras" or "trabajos"
    qint64 numero;
};
std::optional<RutaAccion> LeerRutaAccion(const QString& ruta);

// The sign-in body {"usuario": ..., "contrasena": ...}; a member that is
// missing or not text, or a body that is not a JSON object, gives "".
struct Ingreso {
    QString usuario;
    QString contrasena;
};
Ingreso LeerIngreso(const QByteArray& cuerpo);
