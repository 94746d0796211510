#include "crypto/clsDES.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/DatosCola.h"
#include "testsupport/EscuchaLocal.h"
#include "testsupport/ImpresoraVirtual.h"
#include "testsupport/Procesos.h"
#include "testsupport/ServidorPostgres.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

const Motor kMotor = *MotorPorNombre(QStringLiteral(ORLAN_PRUEBA_MOTOR));

struct Resultado {
    int salida = -1;
    QString texto;
    QString errores;
};

std::unique_ptr<QProcess> Lanzar(const QStringList& argumentos, const QByteArray& entrada = QByteArray(),
                                 const QProcessEnvironment& ambiente = QProcessEnvironment::systemEnvironment()) {
    auto proceso = std::make_unique<QProcess>();
    proceso->setProcessEnvironment(ambiente);
    proceso->start(QStringLiteral(ORLAN_BUILD_DIR "/tools/orlan-admin/orlan-admin"), argumentos);
    proceso->write(entrada);
    proceso->closeWriteChannel();
    return proceso;
}

Resultado Esperar(QProcess& proceso) {
    proceso.waitForFinished(60000);
    return {proceso.exitStatus() == QProcess::NormalExit ? proceso.exitCode() : -1,
            QString::fromUtf8(proceso.readAllStandardOutput()), QString::fromUtf8(proceso.readAllStandardError())};
}

Resultado Admin(const QStringList& argumentos, const QByteArray& entrada = QByteArray(),
                const QProcessEnvironment& ambiente = QProcessEnvironment::systemEnvironment()) {
    return Esperar(*Lanzar(argumentos, entrada, ambiente));
}

void Ejecutar(const QString& sql) {
    Conexion::Instancia().Ejecutar(sql);
}

// A fresh database with the schema and the demo shop.
class OrlanAdmin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bd.Preparar(false)) << m_bd.Error().toStdString();
        ASSERT_EQ(Admin({"esquema", ORLAN_PRUEBA_MOTOR}).salida, 0);
        ASSERT_EQ(Admin({"demo"}).salida, 0);
        ASSERT_TRUE(Conectar());
    }

    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd{m_entorno, kMotor};
};

} // namespace

TEST_F(OrlanAdmin, WritesJobsAsATerminalDoes) {
    Resultado r = Admin({"encolar", "--impresora", "9", "hola"});
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.errores.contains("no existe la impresora 9")) << r.errores.toStdString();

    r = Admin({"encolar", "--impresora", "2", "--tipo", "P"}, "<B>Mesa 4</B>\nAño 'nuevo'\n");
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    const QString numero = r.texto.trimmed();
    EXPECT_EQ(Lista("SELECT Escribiendo || Tipo || id_impresora FROM ColaImpresion WHERE IdTrabajo = " + numero),
              "0P2");
    EXPECT_EQ(Lista("SELECT Datos FROM DetalleColaImpresion WHERE IdRenglon = 2 AND IdTrabajo = " + numero),
              "Año 'nuevo'");
    EXPECT_EQ(Admin({"encolar", "--impresora", "1", "x"}).texto.trimmed().toInt(), numero.toInt() + 1);
    EXPECT_TRUE(Admin({"cola"}).texto.contains(numero + "\tP\t"));
    // PostgreSQL reports the column names folded to lower case.
    EXPECT_TRUE(Admin({"impresora", "3"}).texto.contains("Puerto: COM2", Qt::CaseInsensitive));

    EXPECT_EQ(Admin({"frobnicar"}).salida, 1);
    EXPECT_EQ(Admin({"encolar", "hola"}).salida, 1);
}

// Text made to end a quoted literal early. On PostgreSQL the database runs
// with standard_conforming_strings off, where a backslash escapes the quote
// after it: doubling the quotes would let the rest run as statements.
// Paper near its end is listed for the printer whose server wrote it, not
// for whatever printer of any terminal uses the same port name here.
TEST_F(OrlanAdmin, ListsPaperNearItsEndForThePrinterThatReportedIt) {
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "1");
    // This terminal's server last read "near its end" on its COM2 (the bar).
    Ajustes::Guardar("ORLAN", "COM2", "EstadoPapel", "30");
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Redirigido, "
             "Estado_Impresora, esdecheques) VALUES (5, 2, 'COM2', 'E', 'Patio', 5, 'A', 0)");
    Ejecutar("UPDATE Impresora SET PapelBajo = 1 WHERE Id_Impresora = 5");
    QString texto = Admin({"impresora", "lista"}).texto;
    EXPECT_TRUE(texto.contains("Impresora 5 (COM2): papel por terminarse")) << texto.toStdString();
    EXPECT_FALSE(texto.contains("Impresora 3 (COM2): papel")) << texto.toStdString();

    // A shop's database without the column: this terminal's printers only.
    Ejecutar("ALTER TABLE Impresora DROP COLUMN PapelBajo");
    texto = Admin({"impresora", "lista"}).texto;
    EXPECT_TRUE(texto.contains("Impresora 3 (COM2): papel por terminarse")) << texto.toStdString();
    EXPECT_FALSE(texto.contains("Impresora 5 (COM2): papel")) << texto.toStdString();
}

TEST_F(OrlanAdmin, StoresTextThatWouldEndALiteralAsTyped) {
    ASSERT_TRUE(m_bd.BarraEscapaComillas()) << m_bd.Error().toStdString();
    const QString hostil = QStringLiteral("\\'); DELETE FROM Empleado;--");
    Resultado r = Admin({"encolar", "--impresora", "2", hostil});
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Datos FROM DetalleColaImpresion WHERE IdTrabajo = " + r.texto.trimmed()), hostil);
    EXPECT_EQ(Lista("SELECT Usuario FROM Empleado"), "gerente");
    r = Admin({"encolar", "--impresora", "2", "--usuario", "\\'", "hola"});
    EXPECT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Usuario FROM ColaImpresion WHERE IdTrabajo = " + r.texto.trimmed()), "\\'");

    r = Admin({"terminal", "agregar", "7", "--nombre", hostil});
    EXPECT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Nombre FROM Terminal WHERE ID_Terminal = 7"), hostil);
    r = Admin({"impresora", "agregar", "--terminal", "1", "--puerto", "LPT3", "--modo", "E", "--nombre", hostil,
               "--cheques"});
    EXPECT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Nombre_Impresora FROM Impresora WHERE Puerto = 'LPT3'"), hostil);
    // A name that would match every employee changes no password.
    const QString contrasena = Lista("SELECT Contraseña FROM Empleado");
    r = Admin({"contrasena", "--usuario", "\\' OR 1=1--"}, "otra\n");
    EXPECT_EQ(r.salida, 1) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Contraseña FROM Empleado"), contrasena);
    EXPECT_EQ(Lista("SELECT Usuario FROM Empleado"), "gerente");
}

TEST_F(OrlanAdmin, NumbersJobsFromTheSharedCounterWithoutReusingPrintedOnes) {
    // No counter yet, and a job still queued: the counter is created above it,
    // once, even when several writers start at the same moment.
    Ejecutar("DELETE FROM Parametros WHERE Id_Parametro = 'FOLIOIMPRESION'");
    Ejecutar("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) VALUES (41, 'R', 'caja', "
             "0, 1)");
    std::vector<std::unique_ptr<QProcess>> procesos;
    for (int i = 0; i < 6; ++i) {
        procesos.push_back(Lanzar({"encolar", "--impresora", "1", QString::number(i)}));
    }
    QSet<int> numeros;
    for (auto& p : procesos) {
        const Resultado r = Esperar(*p);
        EXPECT_EQ(r.salida, 0) << r.errores.toStdString();
        numeros.insert(r.texto.trimmed().toInt());
    }
    EXPECT_EQ(numeros, QSet<int>({42, 43, 44, 45, 46, 47}));

    // Printing deletes the jobs; their numbers are not handed out again.
    Ejecutar("DELETE FROM DetalleColaImpresion");
    Ejecutar("DELETE FROM ColaImpresion");
    EXPECT_EQ(Admin({"encolar", "--impresora", "2", "x"}).texto.trimmed(), "48");
    EXPECT_EQ(Lista("SELECT Valor_Num FROM Parametros WHERE Id_Parametro = 'FOLIOIMPRESION'"), "48");
}

TEST_F(OrlanAdmin, AJobThatCannotBeWrittenWholeLeavesNothingBehind) {
    const auto nada = [] {
        return Lista("SELECT COUNT(*) FROM ColaImpresion") + Lista("SELECT COUNT(*) FROM ImpresorasXImpresion") +
               Lista("SELECT Valor_Num FROM Parametros WHERE Id_Parametro = 'FOLIOIMPRESION'");
    };
    Resultado r = Admin({"encolar", "--impresora", "1"}, QByteArray("uno\ndo\0s\n", 9));
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.errores.contains("renglon 2") && r.errores.contains("nulo")) << r.errores.toStdString();
    // The column holds 4000 characters, whatever their size in bytes.
    const QString largo(4000, QChar(u'ñ'));
    r = Admin({"encolar", "--impresora", "1", "uno", largo + "x"});
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.errores.contains("4000")) << r.errores.toStdString();
    EXPECT_EQ(Admin({"encolar", "--impresora", "1", "--tipo", "Recibo-largo", "x"}).salida, 1);
    EXPECT_EQ(nada(), "000");

    r = Admin({"encolar", "--impresora", "1", largo});
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Datos FROM DetalleColaImpresion WHERE IdTrabajo = 1"), largo);

    // A statement that fails part-way (a stray line already holds the next
    // job's second line) takes the header, its printer and its number with it.
    Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (2, 2, 'suelto')");
    r = Admin({"encolar", "--impresora", "1", "a", "b"});
    EXPECT_EQ(r.salida, 2);
    EXPECT_EQ(nada(), "111");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM DetalleColaImpresion WHERE IdTrabajo = 2"), "1");
}

TEST_F(OrlanAdmin, StoresOperatorPasswordsThatDecryptWithTheKey) {
    const QByteArray cuenta =
        QByteArray("Usuario=") + ServidorPostgres::kUsuario + "\nContrasena=" + ServidorPostgres::kContrasena + "\n";
    BaseDatosPrueba::EscribirCredenciales(cuenta + "Llave=Llave2026x\n");
    clsDES des;
    des.Key("Llave2026x");
    const Resultado impreso = Admin({"contrasena"}, "Muñoz 1\n");
    ASSERT_EQ(impreso.salida, 0) << impreso.errores.toStdString();
    EXPECT_EQ(des.DecryptString(impreso.texto.trimmed(), QString(), true), "Muñoz 1");

    const auto guardada = [&des] {
        return des.DecryptString(Lista("SELECT Contraseña FROM Empleado WHERE Usuario = 'gerente'"), QString(), true);
    };
    EXPECT_EQ(Admin({"contrasena", "--usuario", "gerente"}, "secreto\n").salida, 0);
    EXPECT_EQ(guardada(), "secreto");

    // The longest password whose stored text fits Empleado.Contraseña.
    const QByteArray sesenta(60, 'p');
    EXPECT_EQ(Admin({"contrasena", "--usuario", "gerente"}, sesenta + "\n").salida, 0);
    EXPECT_EQ(guardada(), sesenta);
    const Resultado larga = Admin({"contrasena", "--usuario", "gerente"}, sesenta + "q\n");
    EXPECT_EQ(larga.salida, 1);
    EXPECT_TRUE(larga.errores.contains("60")) << larga.errores.toStdString();
    EXPECT_EQ(guardada(), sesenta);

    // Refused: status 1, nothing on standard output, the reason on standard error.
    const struct {
        QByteArray credenciales;
        QStringList argumentos;
        QByteArray entrada;
        QString motivo;
    } rechazos[] = {{cuenta + "Llave=Llave2026x\n", {"contrasena", "--usuario", ""}, "x\n", ""},
                    {cuenta + "Llave=Llave2026x\n", {"contrasena", "--usuario", "nadie"}, "x\n", ""},
                    {cuenta + "Llave=Llave2026x\n", {"contrasena"}, "\n", ""},
                    {cuenta + "Llave=\n", {"contrasena"}, "x\n", "vacia"},
                    {cuenta, {"contrasena"}, "x\n", "no hay llave"}};
    for (const auto& rechazo : rechazos) {
        BaseDatosPrueba::EscribirCredenciales(rechazo.credenciales);
        const Resultado r = Admin(rechazo.argumentos, rechazo.entrada);
        EXPECT_EQ(r.salida, 1) << rechazo.argumentos.join(' ').toStdString();
        EXPECT_TRUE(r.texto.isEmpty()) << r.texto.toStdString();
        EXPECT_TRUE(r.errores.contains(rechazo.motivo)) << r.errores.toStdString();
    }
}

TEST_F(OrlanAdmin, ListsSetAsideJobsAndPutsThemBack) {
    ASSERT_EQ(Admin({"encolar", "--impresora", "1", "listo en < 5 min"}).salida, 0);
    ASSERT_EQ(Admin({"encolar", "--impresora", "1", "bien"}).salida, 0);
    Ejecutar("UPDATE ColaImpresion SET Escribiendo = 2 WHERE IdTrabajo = 1");
    const QString cola = Admin({"cola"}).texto;
    EXPECT_TRUE(cola.contains(QRegularExpression("\n1\t[^\n]*\tapartado\n"))) << cola.toStdString();
    EXPECT_TRUE(cola.contains(QRegularExpression("\n2\t[^\n]*\tpendiente\n"))) << cola.toStdString();

    const Resultado r = Admin({"reintentar", "1"});
    EXPECT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Escribiendo FROM ColaImpresion WHERE IdTrabajo = 1"), "0");
    // Only a set-aside job goes back: not a pending one, not one still being
    // written, not one that does not exist.
    Ejecutar("UPDATE ColaImpresion SET Escribiendo = -1 WHERE IdTrabajo = 2");
    for (const char* trabajo : {"1", "2", "9", "x"}) {
        EXPECT_EQ(Admin({"reintentar", trabajo}).salida, 1) << trabajo;
    }
    EXPECT_EQ(Lista("SELECT Escribiendo FROM ColaImpresion WHERE IdTrabajo = 2"), "-1");
}

TEST_F(OrlanAdmin, ProvisionsTerminalsAndPrintersTheServerServes) {
    Resultado r = Admin({"terminal", "agregar", "5", "--nombre", "Barra"});
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Admin({"terminal", "agregar", "5"}).salida, 1);
    // Run on terminal 5 itself: the dialect goes where the server reads it too.
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "5");
    r = Admin({"impresora", "agregar", "--terminal", "5", "--puerto", "COM2", "--modo", "S", "--nombre", "Barra 2",
               "--respaldo", "1"});
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(r.texto.trimmed(), "5");
    EXPECT_EQ(Ajustes::Leer("orlan", "COM2", "Modo"), "S");
    // Served at once: its own Redirigido, in service, not a cheque printer.
    EXPECT_EQ(Lista("SELECT ID_Terminal || '|' || Puerto || '|' || Modo || '|' || Nombre_Impresora || '|' || "
                    "Id_Impresora_Respaldo || '|' || Redirigido || '|' || Estado_Impresora || '|' || esdecheques "
                    "FROM Impresora WHERE Id_Impresora = 5"),
              "5|COM2|S|Barra 2|1|5|A|0");
    EXPECT_EQ(Admin({"impresora", "respaldo", "5", "3"}).salida, 0);
    EXPECT_EQ(Lista("SELECT Id_Impresora_Respaldo FROM Impresora WHERE Id_Impresora = 5"), "3");
    EXPECT_TRUE(Admin({"impresora", "lista"}).texto.contains("\tCOM2\tS\tBarra 2\t3\t5\tA\t0"));

    // Refused before anything is written, each with its reason.
    const struct {
        QStringList argumentos;
        const char* motivo;
    } rechazos[] = {
        {{"impresora", "agregar", "--terminal", "9", "--puerto", "COM1", "--modo", "E", "--nombre", "x"},
         "terminal agregar 9"},
        {{"impresora", "agregar", "--terminal", "5", "--puerto", "USB1", "--modo", "E", "--nombre", "x"},
         "COM1 a COM4"},
        {{"impresora", "agregar", "--terminal", "5", "--puerto", " COM1", "--modo", "E", "--nombre", "x"},
         "puerto ' COM1' no valido"},
        // A name that would move the technician's cursor is quoted tamed.
        {{"impresora", "agregar", "--terminal", "5", "--puerto", "COM1\x1b[2J", "--modo", "E", "--nombre", "x"},
         "puerto 'COM1?[2J' no valido"},
        // COM5 to COM9 are port names that lead to no printer.
        {{"impresora", "agregar", "--terminal", "5", "--puerto", "com5", "--modo", "E", "--nombre", "x"},
         "COM5 no lleva a ninguna impresora"},
        {{"impresora", "agregar", "--terminal", "5", "--puerto", "COM1", "--modo", "X", "--nombre", "x"}, "--modo"},
        {{"impresora", "agregar", "--terminal", "5", "--puerto", "COM1", "--modo", "E", "--nombre", "x", "--respaldo",
          "77"},
         "respaldo 77"},
        // Another terminal's printer: its dialect belongs in that terminal's
        // settings file, so the command to run there is named.
        {{"impresora", "agregar", "--terminal", "2", "--puerto", "COM1", "--modo", "C", "--nombre", "O'Hara"},
         "orlan-admin impresora agregar --terminal 2 --puerto COM1 --modo C --nombre 'O'\\''Hara'"},
        // One port prints in one dialect.
        {{"impresora", "agregar", "--terminal", "5", "--puerto", "COM2", "--modo", "E", "--nombre", "x"},
         "la impresora 5 ya usa COM2 en otro Modo"},
        {{"impresora", "agregar", "--terminal", "5", "--puerto", "com2", "--modo", "E", "--nombre", "x"},
         "la impresora 5 ya usa COM2 en otro Modo"},
        {{"impresora", "respaldo", "5", "5"}, "su propio respaldo"},
        {{"impresora", "respaldo", "5", "77"}, "impresora 77"},
    };
    for (const auto& rechazo : rechazos) {
        r = Admin(rechazo.argumentos);
        EXPECT_EQ(r.salida, 1) << rechazo.argumentos.join(' ').toStdString();
        EXPECT_TRUE(r.errores.contains(rechazo.motivo)) << r.errores.toStdString();
    }
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM Impresora"), "5");
    EXPECT_EQ(Ajustes::Leer("orlan", "COM2", "Modo"), "S");
    EXPECT_EQ(Ajustes::Leer("orlan", "COM1", "Modo"), "");

    // A port name in any case is the port: it is written in upper case, and a
    // row another program wrote in lower case holds its port's dialect.
    r = Admin({"impresora", "agregar", "--terminal", "5", "--puerto", "lpt4", "--modo", "C", "--nombre", "Patio"});
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Puerto FROM Impresora WHERE Id_Impresora = 6"), "LPT4");
    EXPECT_EQ(Ajustes::Leer("orlan", "LPT4", "Modo"), "C");
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Redirigido, "
             "Estado_Impresora, esdecheques) VALUES (7, 5, 'com3', 'E', 'Terraza', 7, 'A', 0)");
    r = Admin({"impresora", "agregar", "--terminal", "5", "--puerto", "COM3", "--modo", "S", "--nombre", "x"});
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.errores.contains("la impresora 7 ya usa COM3 en otro Modo")) << r.errores.toStdString();
}

// A shop's own database has no claims table: the technician adds it alone,
// and adding it again changes nothing.
TEST_F(OrlanAdmin, AddsTheClaimsTableToAnExistingDatabase) {
    Ejecutar("DROP TABLE ReclamoTrabajo");
    for (int vez = 0; vez < 2; ++vez) {
        const Resultado r = Admin({"esquema", ORLAN_PRUEBA_MOTOR, "--reclamos"});
        ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
        EXPECT_TRUE(r.texto.contains("ReclamoTrabajo lista"));
    }
    Ejecutar("INSERT INTO ReclamoTrabajo (IdTrabajo, ID_Terminal, Ficha) VALUES (1, 2, 4611686018427387903)");
    EXPECT_EQ(Lista("SELECT Ficha FROM ReclamoTrabajo"), "4611686018427387903");
    EXPECT_EQ(Admin({"esquema", "oracle", "--reclamos"}).salida, 1);
}

TEST_F(OrlanAdmin, CreatesTheMissingTerminalParameterSoThatRestoringReplicates) {
    // A database set up by hand: no 'TERMINAL' row; printer 2 redirected.
    Ejecutar("DELETE FROM Parametros WHERE Id_Parametro = 'TERMINAL'");
    Ejecutar("UPDATE Impresora SET Redirigido = 1, Estado_Impresora = 'P' WHERE Id_Impresora = 2");
    const Resultado r = Admin({"restablecer", "2"});
    EXPECT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora WHERE Id_Impresora = 2"), "2A");
    // The lowest terminal stands in for the settings' missing number, and the
    // change reaches the other terminal.
    EXPECT_EQ(Lista("SELECT Valor_Num FROM Parametros WHERE Id_Parametro = 'TERMINAL'"), "1");
    EXPECT_EQ(Lista("SELECT ID_Terminal FROM TransaccionesXTerminal"), "2");
}

TEST_F(OrlanAdmin, PadsJobLinesToTheGivenWidthWithoutCountingTags) {
    const Resultado r = Admin({"encolar", "--impresora", "2", "--ancho", "16"},
                              "<B>COMANDA 12</B>\n1x Paella\n<XH></XH>Cerveza fria 2x\n");
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Lista("SELECT Datos FROM DetalleColaImpresion ORDER BY IdRenglon"),
              "<B>COMANDA 12</B>      ,1x Paella       ,<XH></XH>Cerveza fria 2x ");
    EXPECT_EQ(Admin({"encolar", "--impresora", "2", "--ancho", "x", "a"}).salida, 1);
}

TEST_F(OrlanAdmin, DiagnosisNamesEachFaultAndItsFix) {
    // Terminal 2 of the demo has no printers.
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "2");
    Resultado r = Admin({"diagnostico"});
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.texto.contains("[ ok ] conexion con la base de datos")) << r.texto.toStdString();
    EXPECT_TRUE(r.texto.contains("[FALLA] la terminal 2 no tiene impresoras: 'orlan-admin impresora agregar"))
        << r.texto.toStdString();

    // A printer out of service whose port leads nowhere, and a backup that
    // does not exist.
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
             "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES (7, 2, 'COM3', 'E', 'Patio', "
             "8, 7, NULL, 0)");
    Ajustes::Guardar("ORLAN", "Puertos", "COM3", m_entorno.Raiz() + "/no-existe");
    Ajustes::Guardar("orlan", "COM3", "Modo", "S");
    r = Admin({"diagnostico"});
    EXPECT_EQ(r.salida, 1);
    for (const char* linea :
         {"[FALLA] impresora 7 'Patio' en COM3: fuera de servicio (Estado_Impresora NULL)",
          "'orlan-admin restablecer 7'", "[FALLA] impresora 7 'Patio' en COM3: estado P",
          "/no-existe: no existe; revise [Puertos] COM3", "[FALLA] impresora 7: su respaldo 8 no existe",
          "[aviso] impresora 7 'Patio' en COM3: Modo E en la base de datos, pero se imprime en el Modo S de [COM3]"}) {
        EXPECT_TRUE(r.texto.contains(linea)) << linea << " not in: " << r.texto.toStdString();
    }

    // A port name in lower case leads where its upper-case name does.
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
             "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES (9, 2, 'com4', 'E', 'Barra', "
             "NULL, 9, 'A', 0)");
    Ajustes::Guardar("ORLAN", "Puertos", "COM4", m_entorno.Raiz() + "/tampoco-existe");
    r = Admin({"diagnostico"});
    EXPECT_TRUE(r.texto.contains("COM4 = " + m_entorno.Raiz() + "/tampoco-existe: no existe; revise [Puertos] COM4"))
        << r.texto.toStdString();

    // A parallel printer through the kernel's ppdev driver: no setting names
    // its device, /dev/parport<n-1> and the lp group do.
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
             "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES (10, 2, 'LPT9', 'E', 'Sala', "
             "NULL, 10, 'A', 0)");
    Ajustes::Guardar("ORLAN", "Puertos", "LPT", "ppdev");
    r = Admin({"diagnostico"});
    const QString ppdev = r.texto.mid(r.texto.indexOf("impresora 10 'Sala'"));
    EXPECT_TRUE(ppdev.contains("LPT9 = /dev/parport8 (LPT=ppdev): ")) << r.texto.toStdString();
    EXPECT_FALSE(ppdev.section('\n', 0, 0).contains("[Puertos] LPT9")) << r.texto.toStdString();

    // A registry naming a driver that is not installed.
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    m_entorno.Escribir(m_entorno.Raiz() + "/odbc/odbcinst.ini", "[SQL Server]\nDriver=libodbc-que-no-existe.so\n");
    ambiente.insert("ODBCSYSINI", m_entorno.Raiz() + "/odbc");
    r = Admin({"diagnostico"}, {}, ambiente);
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.texto.contains("[FALLA] el controlador libodbc-que-no-existe.so")) << r.texto.toStdString();

    // Credentials others may read come first, with the command that fixes them.
    BaseDatosPrueba::EscribirCredenciales("Usuario=x\nContrasena=y\n", 0640);
    r = Admin({"diagnostico"});
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.texto.contains("[FALLA] Credenciales: el archivo") && r.texto.contains("chmod 600"))
        << r.texto.toStdString();
}

// A network printer that takes the connection and says nothing (a port
// that listens and never serves: the system's backlog takes it). One never
// heard from may be one that cannot answer, which only printing unconfirmed
// serves; one that answered before is busy with another sender, and that
// advice would risk its jobs for nothing.
TEST_F(OrlanAdmin, DiagnosisTellsABusyNetworkPrinterFromASilentOne) {
    const EscuchaLocal escucha;
    ASSERT_TRUE(escucha.Lista());
    const QString destino = escucha.Destino();
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "2");
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
             "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES (7, 2, 'COM3', 'E', 'Cocina', "
             "NULL, 7, 'A', 0)");
    Ajustes::Guardar("ORLAN", "Puertos", "COM3", destino);
    Resultado r = Admin({"diagnostico"});
    EXPECT_TRUE(r.texto.contains("impresora 7 'Cocina' en COM3: impresora de red o USB que no contesta") &&
                r.texto.contains("ConfirmarRecepcionRed=0"))
        << r.texto.toStdString();

    // What the server keeps of a printer that answered its probe.
    Ajustes::Guardar("ORLAN", "COM3", "RespondeGsR", "1");
    Ajustes::Guardar("ORLAN", "COM3", "RespondeGsRDispositivo", destino);
    Ajustes::Guardar("ORLAN", "COM3", "RespondeGsRFecha", QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    r = Admin({"diagnostico"});
    EXPECT_TRUE(r.texto.contains("[aviso] impresora 7 'Cocina' en COM3: ocupada")) << r.texto.toStdString();
    EXPECT_FALSE(r.texto.contains("ConfirmarRecepcionRed=0")) << r.texto.toStdString();
}

TEST_F(OrlanAdmin, ReadsTheServiceEnvironmentFileAndNamesItself) {
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    const QString registro = ambiente.value("ODBCSYSINI");
    ambiente.remove("ODBCSYSINI");
    // Without the variable and without the file: the unit's default registry.
    ambiente.insert("ORLAN_AMBIENTE", m_entorno.Raiz() + "/no-existe");
    Resultado r = Admin({"cola"}, {}, ambiente);
    EXPECT_EQ(r.salida, 2);
    EXPECT_TRUE(r.errores.contains("odbc/sqlserver")) << r.errores.toStdString();
    // The file of the service chooses the registry.
    ambiente.insert("ORLAN_AMBIENTE", m_entorno.Escribir(m_entorno.Raiz() + "/default",
                                                         "# el servicio\nODBCSYSINI=" + registro.toUtf8()));
    r = Admin({"cola"}, {}, ambiente);
    EXPECT_EQ(r.salida, 0) << r.errores.toStdString();

    // The database layer's own messages carry this program's name.
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "");
    r = Admin({"cola"});
    EXPECT_TRUE(r.errores.startsWith("orlan-admin: Error de instalación")) << r.errores.toStdString();
}

// Each backend's script on the database of another fails on its first
// statement; the command names the script the database needs instead.
TEST_F(OrlanAdmin, RefusesTheSchemaOfAnotherBackend) {
    const bool postgres = kMotor == Motor::PostgreSql;
    const QString propio = postgres ? "postgresql" : "sqlite";
    for (const QStringList& orden : {QStringList{"esquema", postgres ? "sqlite" : "postgresql"},
                                     QStringList{"esquema", "sqlserver", "--reclamos"}}) {
        const Resultado r = Admin(orden);
        EXPECT_EQ(r.salida, 1) << r.errores.toStdString();
        EXPECT_TRUE(r.errores.contains("la base de datos es " + QString(postgres ? "PostgreSQL" : "SQLite") +
                                       ": use 'orlan-admin esquema " + propio +
                                       (orden.size() > 2 ? " --reclamos'" : "'")))
            << r.errores.toStdString();
    }
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM Impresora"), "4");
}

namespace {

// A statement run by the test server's superuser.
bool ComoSuperusuario(const QString& sql) {
    return QProcess::execute("psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h",
                                      ServidorPostgres::Compartido().DirectorioSocket(), "-U", "postgres", "-d",
                                      "postgres", "-c", sql}) == 0;
}

// The terminal's credentials from now on: its own role's.
void Cuenta(const QString& rol, const QString& contrasena) {
    BaseDatosPrueba::EscribirCredenciales("Usuario=" + rol.toUtf8() + "\nContrasena=" + contrasena.toUtf8() +
                                          "\nLlave=Llave2026x\n");
}

} // namespace

// A terminal's own role may do what the server, the panel and the daily
// commands do, and nothing that changes the tables themselves.
TEST_F(OrlanAdmin, GivesATerminalsRoleWhatItNeedsAndNoMore) {
    if (kMotor != Motor::PostgreSql) {
        const Resultado r = Admin({"rol", "caja", "--contrasena", "x"});
        EXPECT_EQ(r.salida, 1);
        EXPECT_TRUE(r.errores.contains("la base de datos es SQLite")) << r.errores.toStdString();
        return;
    }
    const QString dueno = ServidorPostgres::kUsuario;
    // A role made by hand, with no privilege yet: the tables are there.
    ASSERT_TRUE(ComoSuperusuario("CREATE ROLE terminal2 LOGIN PASSWORD 'clave-2'"));
    Cuenta("terminal2", "clave-2");
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "1");
    Resultado r = Admin({"diagnostico"});
    EXPECT_FALSE(r.texto.contains("faltan tablas")) << r.texto.toStdString();
    EXPECT_TRUE(r.texto.contains("[FALLA] el rol terminal2 no tiene permiso sobre las tablas (Terminal, Impresora") &&
                r.texto.contains("'orlan-admin rol terminal2'"))
        << r.texto.toStdString();

    // The owner grants; it may not strip itself, nor create a role without
    // the right to.
    Cuenta(dueno, ServidorPostgres::kContrasena);
    r = Admin({"rol", "terminal2"});
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    EXPECT_EQ(Admin({"rol", dueno}).salida, 1);
    r = Admin({"rol", "terminal3"}, "clave-3\n");
    EXPECT_EQ(r.salida, 1);
    EXPECT_TRUE(r.errores.contains("createuser")) << r.errores.toStdString();
    ASSERT_TRUE(ComoSuperusuario("ALTER ROLE " + dueno + " CREATEROLE"));
    r = Admin({"rol", "terminal3"}, "clave-3\n");
    ASSERT_EQ(r.salida, 0) << r.errores.toStdString();
    Cuenta("terminal3", "clave-3");
    EXPECT_EQ(Admin({"cola"}).salida, 0);

    // The daily commands work; a table's shape and the rows only the owner
    // writes do not change.
    Cuenta("terminal2", "clave-2");
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "5");
    for (const QStringList& orden :
         {QStringList{"terminal", "agregar", "5", "--nombre", "Patio"},
          QStringList{"impresora", "agregar", "--terminal", "5", "--puerto", "COM3", "--modo", "E", "--nombre", "P"},
          QStringList{"impresora", "respaldo", "5", "1"}, QStringList{"encolar", "--impresora", "5", "hola"},
          QStringList{"cola"}, QStringList{"impresora", "lista"}, QStringList{"restablecer", "5"}}) {
        r = Admin(orden);
        EXPECT_EQ(r.salida, 0) << orden.join(' ').toStdString() << ": " << r.errores.toStdString();
    }
    EXPECT_EQ(Admin({"contrasena", "--usuario", "gerente"}, "nueva\n").salida, 0);
    for (const char* sql : {"CREATE TABLE x (i int)", "DROP TABLE ColaImpresion", "ALTER TABLE Impresora ADD z int",
                            "CREATE INDEX ix ON Impresora (Puerto)", "DELETE FROM Terminal", "DELETE FROM Impresora",
                            "INSERT INTO Empleado (ID_Empleado, Usuario) VALUES (9, 'x')"}) {
        r = Admin({"sql", sql});
        EXPECT_EQ(r.salida, 2) << sql;
        EXPECT_TRUE(r.errores.contains("42501")) << sql << ": " << r.errores.toStdString();
    }

    // The server as terminal2: it claims and prints the kitchen's job on its
    // printer, and moves the bar's jobs to the backup when the bar's port
    // fails, which other terminals learn through Transacciones.
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "1");
    ImpresoraVirtual cocina(m_entorno.Raiz() + "/cocina.bin", m_entorno.Raiz() + "/cocina");
    ASSERT_TRUE(cocina.Iniciar({"--puerto", "1"}));
    Ajustes::Guardar("ORLAN", "Puertos", "COM2", m_entorno.Raiz() + "/no-existe");
    Ajustes::Guardar("ORLAN", "Puertos", "LPT", "simulado");
    Ajustes::Guardar("orlan", "COM1", "Modo", "E");
    Ejecutar("UPDATE Impresora SET Modo = 'E' WHERE Id_Impresora = 2");
    Ejecutar("DELETE FROM ColaImpresion");
    Ejecutar("DELETE FROM DetalleColaImpresion");
    ASSERT_EQ(Admin({"encolar", "--impresora", "2", "comanda cocina"}).salida, 0);
    ASSERT_EQ(Admin({"encolar", "--impresora", "3", "comanda barra"}).salida, 0);
    QProcess servidor;
    servidor.setProcessChannelMode(QProcess::MergedChannels);
    servidor.start(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), {"--servicio"});
    const bool vacia = Esperar([] { return Lista("SELECT COUNT(*) FROM ColaImpresion") == "0"; }, 60);
    const QByteArray barra = EntornoPrueba::Leer(m_entorno.Datos() + "/lpt/378.bin");
    TerminarProceso(servidor);
    const QString bitacora = QString::fromUtf8(servidor.readAll()) + EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_TRUE(vacia) << bitacora.toStdString();
    EXPECT_TRUE(cocina.Captura().contains("comanda cocina")) << bitacora.toStdString();
    EXPECT_TRUE(barra.contains("comanda barra")) << bitacora.toStdString();
    EXPECT_EQ(Lista("SELECT Redirigido FROM Impresora WHERE Id_Impresora = 3"), "1");
    EXPECT_NE(Lista("SELECT COUNT(*) FROM Transacciones"), "0");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");
    EXPECT_FALSE(bitacora.contains("permission denied")) << bitacora.toStdString();
}
