#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The schema scripts of the shared database, built into the program so that
// the administration tool and the tests create the same tables and indexes
// that src/database/esquema/ ships for the technician.
enum class Motor { SqlServer, PostgreSql, Sqlite };

// "sqlserver", "postgresql" or "sqlite" (the script's file name), without
// regard to case; nothing for another name.
std::optional<Motor> MotorPorNombre(const QString& nombre);

// The whole script as it stands in its file.
QString ScriptEsquema(Motor motor);

// The script's statements one by one, without comments or the closing ";",
// ready to run through Conexion::Ejecutar. A ";" inside a dollar-quoted body
// ($$ ... $$) does not end a statement.
QStringList SentenciasEsquema(Motor motor);

// Of those, the statements of the script's "Despertar" part alone (the
// notification triggers): empty for a backend that has none. They can be run
// again on a database that has them.
QStringList SentenciasDespertar(Motor motor);

// Of those, the statements of the script's "Reclamos" part alone: the optional
// table ReclamoTrabajo through which the print servers claim each job before
// printing it. They can be run again on a database that has it.
QStringList SentenciasReclamos(Motor motor);
