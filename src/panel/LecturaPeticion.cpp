#include "panel/LecturaPeticion.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

QByteArray ValorCookie(const QByteArray& cookie, const QByteArray& nombre) {
    for (const QByteArray& parte : cookie.split(';')) {
        const QByteArray p = parte.trimmed();
        if (p.startsWith(nombre + '=')) {
            return p.mid(nombre.size() + 1);
        }
    }
    return {};
}

QString NombreDeHost(const QByteArray& host) {
    QString nombre = QString::fromLatin1(host).toLower();
    if (nombre.startsWith(u'[')) {
        nombre = nombre.mid(1, nombre.indexOf(u']') - 1);
    } else if (nombre.count(u':') == 1) {
        nombre = nombre.left(nombre.indexOf(u':'));
    }
    return nombre;
}

std::optional<RutaAccion> LeerRutaAccion(const QString& ruta) {
    static const QRegularExpression kAccion(QStringLiteral("^/api/(impresoras|trabajos)/([0-9]{1,15})/(\\w+)$"));
    const QRegularExpressionMatch m = kAccion.match(ruta);
    if (!m.hasMatch() ||
        !((m.captured(1) == QStringLiteral("impresoras") && m.captured(3) == QStringLiteral("restablecer")) ||
          (m.captured(1) == QStringLiteral("trabajos") && m.captured(3) == QStringLiteral("reintentar")))) {
        return std::nullopt;
    }
    return RutaAccion{m.captured(1), m.captured(2).toLongLong()};
}

Ingreso LeerIngreso(const QByteArray& cuerpo) {
    const QJsonObject datos = QJsonDocument::fromJson(cuerpo).object();
    return {datos.value(QStringLiteral("usuario")).toString(), datos.value(QStringLiteral("contrasena")).toString()};
}
