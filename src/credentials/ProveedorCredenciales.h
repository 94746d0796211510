#pragma once

#include <QString>
#include <optional>

// The database user, the database password and the key that unlocks the
// operators' stored passwords. None of them is kept in the program or in the
// settings: they come from $XDG_CONFIG_HOME/orlan/credenciales.ini, a file of
// lines "Usuario=...", "Contrasena=...", "Llave=..." with no section header,
// which must be readable by its owner only (mode 0600, as ssh demands of a
// private key).
//
// Every call opens the file again and checks the file it opened; its content
// is read again only when the file changed (size, times or inode). A missing
// or unreadable file, anything that is not a regular file (a pipe, a device),
// a file larger than 1 MiB, a file that group or others may access, or a
// missing key makes the call fail (no value) after a line in the event log
// that says why. Values are taken as they stand
// after the "=", blanks included; key names compare without regard to case.
class ProveedorCredenciales {
public:
    std::optional<QString> ObtenerLlave() const;
    std::optional<QString> ObtenerUsuario() const;
    std::optional<QString> ObtenerContrasena() const;

    static QString RutaArchivo();
    // The event-log text of the last failed call of any instance (empty when
    // none failed yet), so that start-up can also put it on standard error.
    static QString UltimoFallo();

private:
    std::optional<QString> Obtener(const QString& clave) const;
};
