// The status panel's reading of what a client sends: the Cookie and Host
// headers, the path and the sign-in body. Any text is read without harm; a
// session token ahead of other cookies is found whole; a path is an action
// only in its one spelling. Input: cookie, NUL, host, NUL, path, NUL, body.

#include "Partes.h"

#include "panel/LecturaPeticion.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    const QList<QByteArray> partes = Partes(datos, largo, 4);
    const QByteArray& cookie = partes[0];
    const QByteArray nombre = QByteArrayLiteral("orlan_sesion");

    const QByteArray token = ValorCookie(cookie, nombre);
    if (token.contains(';') || !cookie.contains(token)) {
        std::abort();
    }
    // A token of the panel's alphabet ahead of the rest is read back.
    QByteArray limpio;
    for (const char c : cookie) {
        if (QByteArrayView("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_").contains(c)) {
            limpio += c;
        }
    }
    if (ValorCookie("a=b; " + nombre + '=' + limpio + "; " + cookie, nombre) != limpio) {
        std::abort();
    }

    const QString host = NombreDeHost(partes[1]);
    if (host != host.toLower() || host.size() > partes[1].size()) {
        std::abort();
    }

    const QString ruta = QString::fromUtf8(partes[2]);
    if (const std::optional<RutaAccion> accion = LeerRutaAccion(ruta)) {
        const QString cifras = ruta.section(u'/', 3, 3);
        const QString verbo = accion->recurso == QStringLiteral("impresoras") ? QStringLiteral("restablecer")
                                                                              : QStringLiteral("reintentar");
        bool ok = false;
        if (ruta != QStringLiteral("/api/") + accion->recurso + u'/' + cifras + u'/' + verbo || cifras.size() > 15 ||
            cifras.toLongLong(&ok) != accion->numero || !ok || accion->numero < 0) {
            std::abort();
        }
    }

    const Ingreso ingreso = LeerIngreso(partes[3]);
    if (partes[3].isEmpty() && (!ingreso.usuario.isEmpty() || !ingreso.contrasena.isEmpty())) {
        std::abort();
    }
    return 0;
}
