#include "platform/Rutas.h"

#include <QDir>

namespace {

QString DirectorioXdg(const char* variable, const QString& predeterminado) {
    const QString valor = qEnvironmentVariable(variable);
    // The XDG rules ignore a relative value.
    if (!valor.isEmpty() && QDir::isAbsolutePath(valor)) {
        return QDir::cleanPath(valor);
    }
    return QDir::homePath() + u'/' + predeterminado;
}

} // namespace

namespace Rutas {

QString RaizUnidad() { return DirectorioXdg("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/orlan"); }

QString DirectorioConfiguracion() {
    return DirectorioXdg("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/orlan");
}

QString Local(const QString& rutaWindows) {
    QString ruta = rutaWindows;
    ruta.replace(u'\\', u'/');
    if (ruta.size() >= 2 && ruta[1] == u':' && ruta[0].isLetter()) {
        QString resto = ruta.mid(2);
        while (resto.startsWith(u'/')) {
            resto.remove(0, 1);
        }
        return resto.isEmpty() ? RaizUnidad() : RaizUnidad() + u'/' + resto;
    }
    return ruta;
}

} // namespace Rutas
