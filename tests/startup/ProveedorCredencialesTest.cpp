#include "startup/ProveedorCredenciales.h"
#include "platform/Reloj.h"
#include "support/Bitacora.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/EntornoPrueba.h"

#include <gtest/gtest.h>

static QString UltimaLinea() {
    const QString bitacora = QString::fromUtf8(EntornoPrueba::Leer(RutaBitacora(Reloj::Ahora().date())));
    return bitacora.section(QStringLiteral("\r\n"), -2, -2).mid(19);
}

TEST(ProveedorCredenciales, ReadsValuesAsTheyStandAndRefusesAMissingFileOrKeyAndAFileOthersMayRead) {
    EntornoPrueba entorno;
    const ProveedorCredenciales proveedor;
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    EXPECT_FALSE(proveedor.ObtenerUsuario());
    EXPECT_EQ(UltimaLinea(), "Credenciales: no existe el archivo " + ruta);

    BaseDatosPrueba::EscribirCredenciales("# comentario\r\nusuario = sa\r\nContrasena=Pa=ss ñ \r\nbasura\r\n");
    EXPECT_EQ(proveedor.ObtenerUsuario(), " sa");
    EXPECT_EQ(proveedor.ObtenerContrasena(), "Pa=ss ñ ");
    EXPECT_FALSE(proveedor.ObtenerLlave());
    EXPECT_EQ(UltimaLinea(), "Credenciales: falta la clave Llave en " + ruta);

    for (int modo : {0644, 0640, 0604}) {
        BaseDatosPrueba::EscribirCredenciales("Llave=\n", modo);
        EXPECT_FALSE(proveedor.ObtenerLlave()) << modo;
        EXPECT_EQ(UltimaLinea(), "Credenciales: el archivo " + ruta + " tiene permisos 0" + QString::number(modo, 8) +
                                     "; otros usuarios pueden leerlo, se rechaza (debe ser 0600)");
    }
    BaseDatosPrueba::EscribirCredenciales("Llave=\n", 0400);
    EXPECT_EQ(proveedor.ObtenerLlave(), "");
}
