#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/Procesos.h"

#include <QProcess>
#include <gtest/gtest.h>

// A terminal broken in one way after another, seen by the server as it
// starts (service mode, its warnings on standard error) and by
// `orlan-admin diagnostico`: both must call the same things broken.

namespace {

QProcessEnvironment Ambiente() {
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert(QStringLiteral("ORLAN_AMBIENTE"), QStringLiteral("/dev/null"));
    return ambiente;
}

// orlan-cola --servicio until it serves (then stopped) or ends: its exit
// status (-1 while serving) and its output.
std::pair<int, QString> Arrancar() {
    QProcess servidor;
    servidor.setProcessEnvironment(Ambiente());
    servidor.setProcessChannelMode(QProcess::MergedChannels);
    servidor.start(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), {QStringLiteral("--servicio")});
    QString texto;
    Esperar(
        [&] {
            texto += QString::fromUtf8(servidor.readAll());
            return texto.contains(QLatin1String("sirviendo")) || servidor.state() == QProcess::NotRunning;
        },
        30);
    texto += QString::fromUtf8(servidor.readAll());
    const int salida = servidor.state() == QProcess::NotRunning ? servidor.exitCode() : -1;
    TerminarProceso(servidor);
    return {salida, texto};
}

std::pair<int, QString> Diagnosticar() {
    QProcess admin;
    admin.setProcessEnvironment(Ambiente());
    admin.setProcessChannelMode(QProcess::MergedChannels);
    admin.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/orlan-admin/orlan-admin"), {QStringLiteral("diagnostico")});
    admin.waitForFinished(60000);
    return {admin.exitCode(), QString::fromUtf8(admin.readAll())};
}

void Sql(const char* sentencia) {
    Conexion::Instancia().Ejecutar(QString::fromUtf8(sentencia));
}

struct Caso {
    const char* nombre;
    int salidaArranque; // -1: it serves
    QStringList arranque;
    QStringList diagnostico; // whole verdicts, "[FALLA] ..." or "[aviso] ..."
};

void Revisar(const Caso& caso) {
    SCOPED_TRACE(caso.nombre);
    const auto [salida, arranque] = Arrancar();
    EXPECT_EQ(salida, caso.salidaArranque) << arranque.toStdString();
    for (const QString& texto : caso.arranque) {
        EXPECT_TRUE(arranque.contains(texto)) << texto.toStdString() << " not in: " << arranque.toStdString();
    }
    const auto [fallas, diagnostico] = Diagnosticar();
    EXPECT_EQ(fallas, 1) << diagnostico.toStdString();
    for (const QString& texto : caso.diagnostico) {
        EXPECT_TRUE(diagnostico.contains(texto)) << texto.toStdString() << " not in: " << diagnostico.toStdString();
    }
}

} // namespace

TEST(Veredictos, StartUpAndDiagnosisCallTheSameTerminalsBroken) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(true)) << bd.Error().toStdString();
    const QString ajustes = Ajustes::RutaArchivo(QStringLiteral("ORLAN"));

    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "doce");
    Revisar({"Terminal not a number",
             1,
             {"Error de instalación, faltan parametros", "Terminal=N"},
             {"[FALLA] Terminal=doce no es un numero de terminal"}});

    // A negative number is a terminal the server serves, but one that
    // nobody set up: a warning, then the rows it lacks, in both.
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "-1");
    Revisar({"Terminal=-1",
             -1,
             {"Terminal=-1 es negativo", "la terminal -1 no tiene fila en la tabla Terminal",
              "la terminal -1 no tiene impresoras"},
             {"[aviso] Terminal=-1 es negativo", "[FALLA] la terminal -1 no esta en la tabla Terminal",
              "[FALLA] la terminal -1 no tiene impresoras"}});

    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "3");
    Revisar({"no rows",
             -1,
             {"la terminal 3 no tiene fila en la tabla Terminal", "falta la fila 'TERMINAL' de la tabla Parametros",
              "la terminal 3 no tiene impresoras en la tabla Impresora"},
             {"[FALLA] la terminal 3 no esta en la tabla Terminal", "[FALLA] falta la fila 'TERMINAL' de Parametros",
              "[FALLA] la terminal 3 no tiene impresoras"}});

    // Printer 4 taken out of service ("D"), printer 5 on a port without its
    // [Puertos] entry and in a dialect its port's section contradicts,
    // printer 6 on a port the server cannot open, backed by a printer that
    // does not exist.
    Sql("INSERT INTO Terminal (ID_Terminal) VALUES (3)");
    Sql("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 3)");
    Sql("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Redirigido, "
        "Estado_Impresora, esdecheques) VALUES (4, 3, 'COM1', 'E', 'Caja', 4, 'D', 0)");
    Sql("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Redirigido, "
        "Estado_Impresora, esdecheques, Id_Impresora_Respaldo) VALUES (5, 3, 'COM2', 'S', 'Barra', 5, 'A', 0, 4)");
    Sql("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Redirigido, "
        "Estado_Impresora, esdecheques, Id_Impresora_Respaldo) VALUES (6, 3, 'USB1', 'E', 'Patio', 6, 'A', 0, 9)");
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", entorno.Raiz() + "/ttyUSB0");
    Revisar({"broken printers",
             -1,
             {"la impresora 4 tiene Estado_Impresora D, que la deja fuera de servicio",
              "'orlan-admin restablecer 4' la pone en servicio",
              "impresora 5 'Barra' en COM2: sin COM2= en [Puertos] de " + ajustes,
              "impresora 5 'Barra' en COM2: Modo S en la base de datos, pero se imprime en el Modo E de [COM2]",
              "impresora 6 'Patio' en USB1: el servidor no puede abrir un puerto llamado 'USB1'",
              "impresora 6: su respaldo 9 no existe"},
             {"[FALLA] impresora 4 'Caja' en COM1: fuera de servicio (Estado_Impresora D)",
              "[aviso] impresora 5 'Barra' en COM2: sin COM2= en [Puertos] de " + ajustes,
              "[aviso] impresora 5 'Barra' en COM2: Modo S en la base de datos, pero se imprime en el Modo E de [COM2]",
              "[FALLA] impresora 6 'Patio' en USB1: el servidor no puede abrir un puerto llamado 'USB1'",
              "[FALLA] impresora 6: su respaldo 9 no existe"}});

    // Rows other programs wrote: a job whose id is text, a printer whose
    // backup is text. Both are skipped by the server, and named by both.
    Sql("UPDATE Impresora SET Estado_Impresora = 'A', Id_Impresora_Respaldo = '5 --' WHERE Id_Impresora = 4");
    Sql("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) VALUES ('IdTrabajo', 'R', "
        "'x', 0, 5)");
    Sql("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) VALUES (8, 'R', 'x', 0, 4)");
    Revisar({"rows that are no keys",
             -1,
             {"fila no valida en ColaImpresion ('IdTrabajo'): IdTrabajo 'IdTrabajo' no es un numero entero",
              "fila no valida en Impresora ('4'): Id_Impresora_Respaldo '5 --' no es un numero entero"},
             {"[aviso] fila no valida en ColaImpresion ('IdTrabajo')",
              "[aviso] fila no valida en Impresora ('4'): Id_Impresora_Respaldo '5 --'",
              "[FALLA] impresora 4: su respaldo 5 -- no existe"}});
    Sql("DELETE FROM ColaImpresion");
    Sql("UPDATE Impresora SET Estado_Impresora = 'D', Id_Impresora_Respaldo = NULL WHERE Id_Impresora = 4");

    // No database where the settings point.
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", entorno.Raiz() + "/no/existe/dborlan.db");
    Revisar({"unreachable database",
             2,
             {"no se pudo conectar con la base de datos: "},
             {"[FALLA] no se pudo conectar con la base de datos: "}});
}
