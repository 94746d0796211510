// The credentials file parser: any file is read without harm, and values
// written as lines come back exactly as they stand after the "=", whatever
// follows them in the file. Input: arbitrary file text, then NUL, the user,
// NUL, the password, NUL, the key.

#include "EntornoFuzz.h"
#include "Partes.h"

#include "credentials/ProveedorCredenciales.h"

#include <cstdint>
#include <cstdlib>

namespace {

// What a value line can hold: one line of text.
QString UnaLinea(const QByteArray& bytes) {
    QString texto = QString::fromUtf8(bytes);
    texto.remove(u'\n');
    texto.remove(u'\r');
    return texto;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    PrepararEntornoFuzz();
    const QList<QByteArray> partes = Partes(datos, largo, 4);
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    const ProveedorCredenciales credenciales;

    ReemplazarArchivo(ruta, partes[0]);
    credenciales.ObtenerUsuario();
    credenciales.ObtenerContrasena();
    credenciales.ObtenerLlave();

    const QString usuario = UnaLinea(partes[1]);
    const QString contrasena = UnaLinea(partes[2]);
    const QString llave = UnaLinea(partes[3]);
    ReemplazarArchivo(ruta, "Usuario=" + usuario.toUtf8() + "\ncontrasena=" + contrasena.toUtf8() +
                                "\r\n LLAVE =" + llave.toUtf8() + "\n" + partes[0]);
    if (credenciales.ObtenerUsuario() != usuario || credenciales.ObtenerContrasena() != contrasena ||
        credenciales.ObtenerLlave() != llave) {
        std::abort();
    }
    return 0;
}
