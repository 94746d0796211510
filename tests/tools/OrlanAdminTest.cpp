#include "crypto/clsDES.h"
#include "database/BaseDatos.h"
#include "testsupport/BaseDatosPrueba.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct Resultado {
    int salida = -1;
    QString texto;
    QString errores;
};

Resultado Admin(const QStringList& argumentos, const QByteArray& entrada = QByteArray()) {
    QProcess proceso;
    proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/orlan-admin/orlan-admin"), argumentos);
    proceso.write(entrada);
    proceso.closeWriteChannel();
    proceso.waitForFinished(30000);
    return {proceso.exitStatus() == QProcess::NormalExit ? proceso.exitCode() : -1,
            QString::fromUtf8(proceso.readAllStandardOutput()), QString::fromUtf8(proceso.readAllStandardError())};
}

QString Valor(const QString& sql) {
    auto filas = Conexion::Instancia().Consultar(sql);
    return filas->Fin() ? QString() : filas->Campo(0).toString();
}

} // namespace

TEST(OrlanAdmin, CreatesTheShopAndWritesJobsAsATerminalDoes) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(false));
    EXPECT_EQ(Admin({"esquema", "sqlite"}).salida, 0);
    EXPECT_EQ(Admin({"demo"}).salida, 0);

    Resultado r = Admin({"encolar", "--impresora", "9", "hola"});
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.errores.contains("no existe la impresora 9")) << r.errores.toStdString();

    r = Admin({"encolar", "--impresora", "2", "--tipo", "P"}, "<B>Mesa 4</B>\nAño 'nuevo'\n");
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    const QString numero = r.texto.trimmed();
    ASSERT_TRUE(Conectar());
    EXPECT_EQ(Valor("SELECT Escribiendo || Tipo || id_impresora FROM ColaImpresion WHERE IdTrabajo = " + numero),
              "0P2");
    EXPECT_EQ(Valor("SELECT Datos FROM DetalleColaImpresion WHERE IdRenglon = 2 AND IdTrabajo = " + numero),
              "Año 'nuevo'");
    EXPECT_EQ(Admin({"encolar", "--impresora", "1", "x"}).texto.trimmed().toInt(), numero.toInt() + 1);
    EXPECT_TRUE(Admin({"cola"}).texto.contains(numero + "\tP\t"));
    EXPECT_TRUE(Admin({"impresora", "3"}).texto.contains("Puerto: COM2"));

    EXPECT_EQ(Admin({"frobnicar"}).salida, 1);
    EXPECT_EQ(Admin({"encolar", "hola"}).salida, 1);
}

TEST(OrlanAdmin, StoresOperatorPasswordsThatDecryptWithTheKey) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(false));
    BaseDatosPrueba::EscribirCredenciales("Usuario=orlan\nContrasena=orlan\nLlave=Llave2026x\n");
    ASSERT_EQ(Admin({"esquema", "sqlite"}).salida, 0);
    ASSERT_EQ(Admin({"demo"}).salida, 0);

    clsDES des;
    des.Key("Llave2026x");
    const Resultado impreso = Admin({"contrasena"}, "Muñoz 1\n");
    ASSERT_EQ(impreso.salida, 0) << impreso.errores.toStdString();
    EXPECT_EQ(des.DecryptString(impreso.texto.trimmed(), QString(), true), "Muñoz 1");

    EXPECT_EQ(Admin({"contrasena", "--usuario", "gerente"}, "secreto\n").salida, 0);
    ASSERT_TRUE(Conectar());
    EXPECT_EQ(des.DecryptString(Valor("SELECT Contraseña FROM Empleado WHERE Usuario = 'gerente'"), QString(), true),
              "secreto");

    EXPECT_EQ(Admin({"contrasena", "--usuario", "nadie"}, "x\n").salida, 1);
    EXPECT_EQ(Admin({"contrasena"}, "\n").salida, 1);
    BaseDatosPrueba::EscribirCredenciales("Usuario=orlan\nContrasena=orlan\n");
    const Resultado sinLlave = Admin({"contrasena"}, "x\n");
    EXPECT_EQ(sinLlave.salida, 1);
    EXPECT_TRUE(sinLlave.errores.contains("no hay llave")) << sinLlave.errores.toStdString();
}
