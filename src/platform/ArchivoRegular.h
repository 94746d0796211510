#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// A small configuration file opened for reading, refused unless it is a
// regular file no larger than a limit. A link to a device or a pipe in place
// of the file would otherwise never end or block the open for ever: the path
// is checked first, then opened without blocking, and everything below is
// decided on the descriptor actually opened (fstat), so that a file swapped in
// between the check and the open is judged as what it is.
class ArchivoRegular {
public:
    static constexpr qint64 kLimite = 1024 * 1024;

    enum class Estado {
        Abierto,   // a regular file within the limit, open for reading
        Ausente,   // no file (or a link to nothing) at that path
        Rechazado, // not a regular file, or larger than the limit
        Fallo,     // the system refused to open or examine it
    };

    // What identifies one version of a file: a rewrite changes its size, its
    // times or (when replaced by rename) its inode.
    struct Firma {
        quint64 dispositivo = 0;
        quint64 nodo = 0;
        qint64 tamano = -1;
        qint64 modificado = 0; // nanoseconds
        qint64 cambiado = 0;   // nanoseconds
        bool operator==(const Firma&) const = default;
    };

    // The signature of the regular file at `ruta`, by its path alone and
    // without opening it; nothing when there is no regular file there. Enough
    // to tell that a file read before is unchanged.
    static std::optional<Firma> FirmaDe(const QString& ruta);

    explicit ArchivoRegular(const QString& ruta, qint64 limite = kLimite);
    ~ArchivoRegular();
    ArchivoRegular(const ArchivoRegular&) = delete;
    ArchivoRegular& operator=(const ArchivoRegular&) = delete;

    Estado estado() const { return m_estado; }
    // Why the file was refused or could not be read, as a phrase for the event log.
    const QString& Motivo() const { return m_motivo; }
    // Of the opened file; meaningful when open.
    const Firma& firma() const { return m_firma; }
    // Permission bits (mode & 07777) of the opened file.
    int Permisos() const { return m_permisos; }
    // Owner (user id) of the opened file.
    uint Propietario() const { return m_propietario; }

    // The whole content, never more than the limit; nullopt (and a Motivo)
    // when reading fails or the file grew past the limit meanwhile.
    std::optional<QByteArray> Leer();

private:
    bool Examinar(const void* estadoSistema);

    qint64 m_limite;
    int m_fd = -1;
    Estado m_estado = Estado::Fallo;
    QString m_motivo;
    Firma m_firma;
    int m_permisos = 0;
    uint m_propietario = 0;
};
