#pragma once

#include <QString>

// Where the fixed Windows paths of the system live on this machine.
//
// The drive "C:\" stands for $XDG_DATA_HOME/orlan/ (default
// ~/.local/share/orlan/): "C:\nodra\log" is <root>/nodra/log and "C:\TT.LOG"
// is <root>/TT.LOG. The settings and the credentials file live in
// $XDG_CONFIG_HOME/orlan/ (default ~/.config/orlan/).
namespace Rutas {

// The directory that stands for "C:\" (no trailing slash).
QString RaizUnidad();

// Local path of a Windows path. "C:\a\b" (any drive letter, either slash) maps
// under RaizUnidad(); a path without a drive prefix is returned with its
// backslashes turned into slashes.
QString Local(const QString& rutaWindows);

// $XDG_CONFIG_HOME/orlan (no trailing slash).
QString DirectorioConfiguracion();

} // namespace Rutas
