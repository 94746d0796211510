#pragma once

#include <QString>

// Whether a table of the shop's database has a column (or every column of a
// comma-separated list, or a table of ours at all) that only our own schema
// scripts add (a terminal's name, the job claims, ...): the point-of-sale
// system's tables need not have it, and every program works without it.
// Asked once by whoever needs it. A lost connection throws ErrorEjecucion;
// any other failure of the probe means the column is not there.
bool ExisteColumna(const QString& tabla, const QString& columna);

// Whether a database failure is the connection's own (SQLSTATE class 08; a
// statement that outlived its time-out is reported so too): only then is
// reconnecting of any use.
class ErrorEjecucion;
bool ConexionPerdida(const ErrorEjecucion& error);

// Whether a database failure is a missing privilege (SQLSTATE 42501 on
// PostgreSQL): the object is there, but the login may not use it.
bool SinPermiso(const ErrorEjecucion& error);
