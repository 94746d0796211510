#include "startup/ProveedorCredenciales.h"

#include "platform/Rutas.h"
#include "support/Bitacora.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString kOrigen = QStringLiteral("Credenciales: ");

// Any access for group or others: such a file may have been read or replaced.
constexpr QFileDevice::Permissions kPermisosAjenos = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                     QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                     QFileDevice::WriteOther | QFileDevice::ExeOther;

QString Octal(QFileDevice::Permissions p) {
    int modo = 0;
    modo |= p.testFlag(QFileDevice::ReadOwner) ? 0400 : 0;
    modo |= p.testFlag(QFileDevice::WriteOwner) ? 0200 : 0;
    modo |= p.testFlag(QFileDevice::ExeOwner) ? 0100 : 0;
    modo |= p.testFlag(QFileDevice::ReadGroup) ? 040 : 0;
    modo |= p.testFlag(QFileDevice::WriteGroup) ? 020 : 0;
    modo |= p.testFlag(QFileDevice::ExeGroup) ? 010 : 0;
    modo |= p.testFlag(QFileDevice::ReadOther) ? 04 : 0;
    modo |= p.testFlag(QFileDevice::WriteOther) ? 02 : 0;
    modo |= p.testFlag(QFileDevice::ExeOther) ? 01 : 0;
    return QStringLiteral("%1").arg(modo, 4, 8, QLatin1Char('0'));
}

} // namespace

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
    const QFileInfo info(ruta);
    if (!info.exists()) {
        Registrar(kOrigen + "no existe el archivo " + ruta);
        return std::nullopt;
    }
    if (!info.isFile()) {
        Registrar(kOrigen + ruta + " no es un archivo");
        return std::nullopt;
    }
    const QFileDevice::Permissions permisos = info.permissions();
    if (permisos & kPermisosAjenos) {
        Registrar(kOrigen + "el archivo " + ruta + " tiene permisos " + Octal(permisos) +
                  "; otros usuarios pueden leerlo, se rechaza (debe ser 0600)");
        return std::nullopt;
    }
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::ReadOnly)) {
        Registrar(kOrigen + "no se puede leer " + ruta + ": " + archivo.errorString());
        return std::nullopt;
    }
    const QByteArray contenido = archivo.readAll();
    if (archivo.error() != QFileDevice::NoError) {
        Registrar(kOrigen + "no se puede leer " + ruta + ": " + archivo.errorString());
        return std::nullopt;
    }
    for (QByteArray linea : contenido.split('\n')) {
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
    Registrar(kOrigen + "falta la clave " + clave + " en " + ruta);
    return std::nullopt;
}
