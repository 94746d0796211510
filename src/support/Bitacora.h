#pragma once

#include "support/ErrorProveedor.h"

#include <QFile>
#include <QString>
#include <memory>

// The daily event log. Every call opens the day's file, appends one line and
// closes it again, so the file can be read or moved between calls.
//
// The file of a day is "C:\nodra\OrlanComTra<ddmmyyyy>.log" (the directory
// "C:\nodra\log\" is ensured to exist first, although the file lies one level
// above it). Lines are "dd/MM/yyyy HH:mm:ss" followed directly by the text
// (no separator), then CR LF, dated by the injectable clock of
// platform/Reloj.h. Line breaks inside the text become blanks, so that every
// line of the file starts with its time stamp.

// Appends one line. Returns false when the file could not be opened or written.
bool Registrar(const QString& texto);

// Ensures the log directory, then opens the day's file for appending; null
// when it cannot be opened.
std::unique_ptr<QFile> AbrirBitacora();

// Creates every missing directory of a path ("C:\a\b" or a local path), one
// level at a time. Returns whether the whole path exists as a directory.
bool CrearRuta(const QString& ruta);

// One line per provider error: native number + description + SQLSTATE.
void RegistrarErroresBD(const ErroresProveedor& errores);

// The log-name prefix, empty until the first line is written.
QString NombreBitacora();

// Local path of the day's file for a given date (for tests and tools).
QString RutaBitacora(const QDate& fecha);
