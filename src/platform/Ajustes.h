#pragma once

#include <QString>
#include <functional>

// The per-user settings store: values addressed by application, section and
// key, each read with a default. Every application is one INI file,
// $XDG_CONFIG_HOME/orlan/<application in lower case>.ini (default
// ~/.config/orlan/). Application, section and key names compare without
// regard to case; a new section or key keeps the spelling of its first write.
//
// Names are taken without the blanks at either end. A write changes only the
// line of its own key (or adds the key after the last key of its section, or
// the section at the end of the file): comments, blank lines, lines the store
// does not understand and the order of everything stay as they were.
//
// Every write reaches the disk (written to a temporary file, synced and
// renamed over the old one) before Guardar returns. A file that is not a
// regular file, is larger than 1 MiB or cannot be read counts as absent for
// reading and is never written over; it and any damaged line give a warning
// through the warning sink, and the defaults (or the lines that could be
// read) apply: nothing throws.
namespace Ajustes {

// Whether a section or key name reads back as itself: not empty (after
// trimming), not starting with ";" or "#", and free of "[", "]", "=", CR, LF
// and NUL. Guardar refuses any other name with a warning.
bool NombreValido(const QString& nombre);

// Value of application/section/key, or `predeterminado` when it is absent.
QString Leer(const QString& aplicacion, const QString& seccion, const QString& clave,
             const QString& predeterminado = QString());

// Stores the value. Returns false (after a warning) when the file could not be
// written; the stored value then stays as it was.
bool Guardar(const QString& aplicacion, const QString& seccion, const QString& clave, const QString& valor);

// Path of the file that holds an application's settings.
QString RutaArchivo(const QString& aplicacion);

// Where warnings about damaged or unreadable files go. The start-up code points
// this at the event log; until then they go to standard error.
void EstablecerAvisos(std::function<void(const QString&)> receptor);

} // namespace Ajustes
