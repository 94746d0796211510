#include "credentials/ProveedorCredenciales.h"
#include "platform/Reloj.h"
#include "support/Bitacora.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A file owned by another user is refused as one that others may read;
// the service's own file, root's for a service run as root, is read.
TEST(ProveedorCredenciales, RefusesAFileOwnedByAnotherUser) {
    EntornoPrueba entorno;
    const ProveedorCredenciales proveedor;
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    BaseDatosPrueba::EscribirCredenciales("Llave=k\n");
    const QByteArray nombre = QFile::encodeName(ruta);
    const uid_t otro = ::geteuid() == 0 ? 65534 : 0;
    ASSERT_EQ(::chown(nombre.constData(), otro, static_cast<gid_t>(-1)), 0) << "the tests run as root";
    EXPECT_FALSE(proveedor.ObtenerLlave());
    EXPECT_EQ(UltimaLinea(), QStringLiteral("Credenciales: el archivo %1 pertenece al usuario %2 y no al del servicio "
                                            "(%3), se rechaza")
                                 .arg(ruta)
                                 .arg(otro)
                                 .arg(::geteuid()));
    ASSERT_EQ(::chown(nombre.constData(), ::geteuid(), static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(proveedor.ObtenerLlave(), "k");
}

TEST(ProveedorCredenciales, RefusesFilesThatAreNotPlainOrAreTooLargeAndFollowsChanges) {
    EntornoPrueba entorno;
    const ProveedorCredenciales proveedor;
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    BaseDatosPrueba::EscribirCredenciales("Usuario=sa\n#" + QByteArray(1024 * 1024, 'x') + "\n");
    EXPECT_FALSE(proveedor.ObtenerUsuario());
    ASSERT_TRUE(UltimaLinea().startsWith("Credenciales: se rechaza el archivo " + ruta)) << UltimaLinea().toStdString();

    QFile::remove(ruta);
    ASSERT_EQ(::mkfifo(QFile::encodeName(ruta).constData(), 0600), 0);
    EXPECT_FALSE(proveedor.ObtenerUsuario());
    EXPECT_TRUE(UltimaLinea().startsWith("Credenciales: se rechaza el archivo " + ruta));

    // The permissions that count are those of the file read, not of a link.
    QFile::remove(ruta);
    const QString destino = entorno.Escribir(entorno.Raiz() + "/otro.ini", "Usuario=sa\n");
    ::chmod(QFile::encodeName(destino).constData(), 0644);
    ASSERT_TRUE(QFile::link(destino, ruta));
    EXPECT_FALSE(proveedor.ObtenerUsuario());
    EXPECT_TRUE(UltimaLinea().contains("tiene permisos 0644"));
    ::chmod(QFile::encodeName(destino).constData(), 0600);
    EXPECT_EQ(proveedor.ObtenerUsuario(), "sa");

    // A changed file is read again.
    entorno.Escribir(destino, "Usuario=otro\n");
    EXPECT_EQ(proveedor.ObtenerUsuario(), "otro");
}
