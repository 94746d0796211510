#pragma once

#include <QString>
#include <functional>

// The per-user settings store: values addressed by application, section and
// key, each read with a default. Every application is one INI file,
// $XDG_CONFIG_HOME/orlan/<application in lower case>.ini (default
// ~/.config/orlan/). Application, section and key names compare without
// regard to case; a new section or key keeps the spelling of its first write.
//
// Every write reaches the disk (written to a temporary file, synced and
// renamed over the old one) before Guardar returns. A file that cannot be read
// or holds damaged lines gives a warning through the warning sink and the
// defaults (or the lines that could be read) apply: nothing throws.
namespace Ajustes {

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
