#include "credentials/ProveedorCredenciales.h"

#include "platform/ArchivoRegular.h"
#include "platform/Rutas.h"
#include "support/Bitacora.h"

#include <unistd.h>

namespace {

const QString kOrigen = QStringLiteral("Credenciales: ");

// Any access for group or others: such a file may have been read or replaced.
constexpr int kPermisosAjenos = 077;

// The content last read, kept while the file stays the same version.
struct Copia {
    QString ruta;
    ArchivoRegular::Firma firma;
    QByteArray contenido;
};

Copia& Ultima() {
    static Copia copia;
    return copia;
}

QString& Fallo() {
    static QString fallo;
    return fallo;
}

void RegistrarFallo(const QString& texto) {
    Fallo() = texto;
    Registrar(texto);
}

} // namespace

QString ProveedorCredenciales::UltimoFallo() {
    return Fallo();
}

QString ProveedorCredenciales::RutaArchivo() {
    return Rutas::DirectorioConfiguracion() + "/credenciales.ini";
}

std::optional<QString> ProveedorCredenciales::ObtenerLlave() const {
    return Obtener(QStringLiteral("Llave"));
}

std::optional<QString> ProveedorCredenciales::ObtenerUsuario() const {
    return Obtener(QStringLiteral("Usuario"));
}

std::optional<QString> ProveedorCredenciales::ObtenerContrasena() const {
    return Obtener(QStringLiteral("Contrasena"));
}

std::optional<QString> ProveedorCredenciales::Obtener(const QString& clave) const {
    const QString ruta = RutaArchivo();
    ArchivoRegular archivo(ruta);
    switch (archivo.estado()) {
    case ArchivoRegular::Estado::Ausente:
        RegistrarFallo(kOrigen + "no existe el archivo " + ruta);
        return std::nullopt;
    case ArchivoRegular::Estado::Rechazado:
        RegistrarFallo(kOrigen + "se rechaza el archivo " + ruta + ": " + archivo.Motivo());
        return std::nullopt;
    case ArchivoRegular::Estado::Fallo:
        RegistrarFallo(kOrigen + "no se puede leer " + ruta + ": " + archivo.Motivo());
        return std::nullopt;
    case ArchivoRegular::Estado::Abierto:
        break;
    }
    // Judged on the file actually opened, not on whatever the path names now.
    const int permisos = archivo.Permisos();
    if (permisos & kPermisosAjenos) {
        RegistrarFallo(kOrigen + "el archivo " + ruta + " tiene permisos " +
                       QStringLiteral("%1").arg(permisos & 0777, 4, 8, QLatin1Char('0')) +
                       "; otros usuarios pueden leerlo, se rechaza (debe ser 0600)");
        return std::nullopt;
    }
    // Another user's file may say what that user likes: its owner could
    // point us at a database of theirs, or read the file at any time.
    if (archivo.Propietario() != ::geteuid()) {
        RegistrarFallo(kOrigen + "el archivo " + ruta + " pertenece al usuario " +
                       QString::number(archivo.Propietario()) + " y no al del servicio (" +
                       QString::number(::geteuid()) + "), se rechaza");
        return std::nullopt;
    }
    Copia& copia = Ultima();
    if (copia.ruta != ruta || copia.firma != archivo.firma()) {
        const std::optional<QByteArray> contenido = archivo.Leer();
        if (!contenido) {
            RegistrarFallo(kOrigen + "no se puede leer " + ruta + ": " + archivo.Motivo());
            return std::nullopt;
        }
        copia = {ruta, archivo.firma(), *contenido};
    }
    for (QByteArray linea : copia.contenido.split('\n')) {
        if (linea.endsWith('\r')) {
            linea.chop(1);
        }
        const qsizetype igual = linea.indexOf('=');
        if (igual < 0) {
            continue;
        }
        if (QString::fromUtf8(linea.left(igual)).trimmed().compare(clave, Qt::CaseInsensitive) == 0) {
            return QString::fromUtf8(linea.mid(igual + 1));
        }
    }
    RegistrarFallo(kOrigen + "falta la clave " + clave + " en " + ruta);
    return std::nullopt;
}
