#include "startup/ProveedorCredenciales.h"
#include "platform/Reloj.h"
#include "support/Bitacora.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/EntornoPrueba.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

QString UltimaLinea() {
    const QStringList lineas = QString::fromUtf8(EntornoPrueba::Leer(RutaBitacora(Reloj::Ahora().date())))
                                   .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    return lineas.isEmpty() ? QString() : lineas.last().mid(20);
}

} // namespace

TEST(ProveedorCredenciales, ReadsTheValuesOfAPrivateFile) {
    EntornoPrueba entorno;
    const ProveedorCredenciales proveedor;
    BaseDatosPrueba::EscribirCredenciales(
        "# comentario\r\nusuario = sa\r\nContrasena=Pa=ss ñ \r\nbasura\r\nLlave=\r\n");
    EXPECT_EQ(proveedor.ObtenerUsuario(), " sa");
    EXPECT_EQ(proveedor.ObtenerContrasena(), "Pa=ss ñ ");
    EXPECT_EQ(proveedor.ObtenerLlave(), "");

    // Read again on every call.
    BaseDatosPrueba::EscribirCredenciales("Usuario=otro\n");
    EXPECT_EQ(proveedor.ObtenerUsuario(), "otro");
}

TEST(ProveedorCredenciales, RefusesAMissingFileAMissingKeyAndAFileOthersMayRead) {
    EntornoPrueba entorno;
    const ProveedorCredenciales proveedor;
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    EXPECT_EQ(ruta, entorno.Configuracion() + "/credenciales.ini");

    EXPECT_FALSE(proveedor.ObtenerUsuario());
    EXPECT_EQ(UltimaLinea(), "Credenciales: no existe el archivo " + ruta);

    BaseDatosPrueba::EscribirCredenciales("Usuario=sa\nContrasena=secreto\n", 0644);
    EXPECT_FALSE(proveedor.ObtenerContrasena());
    EXPECT_EQ(UltimaLinea(), "Credenciales: el archivo " + ruta +
                                 " tiene permisos 0644; otros usuarios pueden leerlo, se rechaza (debe ser 0600)");
    BaseDatosPrueba::EscribirCredenciales("Usuario=sa\nContrasena=secreto\n", 0640);
    EXPECT_FALSE(proveedor.ObtenerUsuario());
    BaseDatosPrueba::EscribirCredenciales("Usuario=sa\nContrasena=secreto\n", 0400);
    EXPECT_EQ(proveedor.ObtenerUsuario(), "sa");

    EXPECT_FALSE(proveedor.ObtenerLlave());
    EXPECT_EQ(UltimaLinea(), "Credenciales: falta la clave Llave en " + ruta);

    // Damaged contents: no crash, the key is simply missing.
    BaseDatosPrueba::EscribirCredenciales(QByteArray("\xff\xfe\0\x01Usuario\x80", 12));
    EXPECT_FALSE(proveedor.ObtenerUsuario());
    EXPECT_EQ(UltimaLinea(), "Credenciales: falta la clave Usuario en " + ruta);

    // A directory where the file should be.
    QFile::remove(ruta);
    QDir().mkpath(ruta);
    EXPECT_FALSE(proveedor.ObtenerUsuario());
    EXPECT_EQ(UltimaLinea(), "Credenciales: " + ruta + " no es un archivo");
}
