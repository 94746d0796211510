#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/Procesos.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

// Runs orlan-cola with the environment of the test (its settings, credentials
// and data directories, ODBCSYSINI), or the one given: exit status (-1: it did
// not end) and output.
static std::pair<int, QString> Ejecutar(const QStringList& argumentos = {QStringLiteral("--servicio")},
                                        const QProcessEnvironment& ambiente = QProcessEnvironment::systemEnvironment(),
                                        const QString& programa = QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola")) {
    QProcess proceso;
    proceso.setProcessEnvironment(ambiente);
    proceso.setProcessChannelMode(QProcess::MergedChannels);
    proceso.start(programa, argumentos);
    const bool termino = proceso.waitForFinished(30000) && proceso.exitStatus() == QProcess::NormalExit;
    proceso.kill();
    return {termino ? proceso.exitCode() : -1, QString::fromUtf8(proceso.readAll())};
}

// Starts orlan-cola --servicio and stops it once it says it is serving: its
// output and the libraries it had mapped (/proc/PID/maps).
static std::pair<QString, QString> Servir() {
    QProcess servidor;
    servidor.setProcessChannelMode(QProcess::MergedChannels);
    servidor.start(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), {"--servicio"});
    QString texto;
    const bool sirve = Esperar(
        [&] {
            texto += QString::fromUtf8(servidor.readAll());
            return texto.contains("sirviendo");
        },
        30);
    const QString mapas =
        QString::fromUtf8(EntornoPrueba::Leer(QStringLiteral("/proc/%1/maps").arg(servidor.processId())));
    TerminarProceso(servidor);
    EXPECT_TRUE(sirve) << texto.toStdString();
    return {texto, mapas};
}

TEST(Arranque, StopsOnABadTerminalBeforeTheDatabaseOrAFailedConnectionAndAnswersHelp) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(false));
    const QString archivoBase = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");

    // No Terminal key at all, then 0, text, out of 16 bits and empty.
    for (const char* valor : {static_cast<const char*>(nullptr), "0", "abc", "40000", "-32769", ""}) {
        if (valor) {
            Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", valor);
        }
        const auto [salida, texto] = Ejecutar();
        EXPECT_EQ(salida, 1) << (valor ? valor : "(sin clave)");
        EXPECT_TRUE(texto.contains("Error de instalación, faltan parametros")) << texto.toStdString();
        EXPECT_FALSE(QFile::exists(archivoBase)) << "the database was contacted";
    }

    // A good terminal connects (creating the database file); without the
    // schema there are no printers to load, which ends with its own status.
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "3");
    const auto [conecta, texto] = Ejecutar();
    EXPECT_EQ(conecta, 3) << texto.toStdString();
    EXPECT_TRUE(texto.contains("terminal 3, conexion abierta")) << texto.toStdString();
    EXPECT_TRUE(QFile::exists(archivoBase));

    // A database file in a directory that does not exist cannot be opened.
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", entorno.Raiz() + "/no/existe/dborlan.db");
    const auto [falla, sinConexion] = Ejecutar();
    EXPECT_EQ(falla, 2);
    EXPECT_FALSE(sinConexion.contains("conexion abierta"));

    // The usual answers.
    EXPECT_EQ(Ejecutar({"--version"}), std::make_pair(0, QStringLiteral("orlan-cola " ORLAN_VERSION "\n")));
    const auto ayuda = Ejecutar({"--help"});
    EXPECT_TRUE(ayuda.first == 0 && ayuda.second.contains("--servicio")) << ayuda.second.toStdString();
}

TEST(Arranque, WindowModeWithoutADisplayEndsWithItsOwnStatusAndPointsAtServiceMode) {
    EntornoPrueba entorno;
    QProcessEnvironment sinPantalla = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        sinPantalla.remove(QString::fromLatin1(variable));
    }
    // No display named at all, then an X display that nobody serves: the
    // platform fails to open, which must not abort the program. The number is
    // one no X server holds now, above the ones the window tests start theirs
    // on, so that a test running alongside cannot bring it to life.
    int muerta = 900;
    while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(muerta)) ||
           QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(muerta))) {
        ++muerta;
    }
    QProcessEnvironment pantallaMuerta = sinPantalla;
    pantallaMuerta.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(muerta));
    for (const QProcessEnvironment& ambiente : {sinPantalla, pantallaMuerta}) {
        const auto [salida, texto] = Ejecutar({}, ambiente);
        EXPECT_EQ(salida, 4) << texto.toStdString();
        EXPECT_TRUE(texto.contains("--servicio")) << texto.toStdString();
    }
    // Window mode's program missing (orlan-cola copied alone): an incomplete
    // installation, named.
    const QString solo = entorno.Raiz() + "/bin/orlan-cola";
    ASSERT_TRUE(QDir().mkpath(entorno.Raiz() + "/bin") &&
                QFile::copy(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), solo));
    const auto [sinVentana, falta] = Ejecutar({}, sinPantalla, solo);
    EXPECT_EQ(sinVentana, 1) << falta.toStdString();
    EXPECT_TRUE(falta.contains("lib/orlan-cola/orlan-cola-ventana") && falta.contains("--servicio"))
        << falta.toStdString();
    // Help and service mode need no display.
    EXPECT_EQ(Ejecutar({"--help"}, sinPantalla).first, 0);
    const auto [servicio, texto] = Ejecutar({"--servicio"}, sinPantalla);
    EXPECT_EQ(servicio, 1) << texto.toStdString(); // no "Terminal": the installation message on stderr
    EXPECT_TRUE(texto.contains("Error de instalación, faltan parametros")) << texto.toStdString();
}

// Service mode: every failure to start says what to fix, on standard error
// and in the event log; window mode keeps its silence (above).
TEST(Arranque, ServiceModeNamesTheFixForEveryStartFailure) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(false));
    const QString ajustes = Ajustes::RutaArchivo("ORLAN");
    const auto revisar = [&](const QProcessEnvironment& ambiente, int esperada, const QStringList& textos) {
        const auto [salida, texto] = Ejecutar({"--servicio"}, ambiente);
        EXPECT_EQ(salida, esperada) << texto.toStdString();
        const QString bitacora = EntornoPrueba::Bitacora(entorno.Datos());
        for (const QString& t : textos) {
            EXPECT_TRUE(texto.contains(t)) << t.toStdString() << " not in: " << texto.toStdString();
            EXPECT_TRUE(bitacora.contains(t)) << t.toStdString() << " not in the log: " << bitacora.toStdString();
        }
    };
    const QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();

    // No terminal number: the setting and its file.
    revisar(ambiente, 1, {"Terminal=N", ajustes});
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "3");

    // No driver registry, and a registry naming a driver that is not installed.
    QProcessEnvironment sinRegistro = ambiente;
    sinRegistro.remove("ODBCSYSINI");
    revisar(sinRegistro, 2, {"SQLSTATE", "ODBCSYSINI no esta definida"});
    entorno.Escribir(entorno.Raiz() + "/odbc/odbcinst.ini", "[SQL Server]\nDriver=libodbc-que-no-existe.so\n");
    QProcessEnvironment sinControlador = ambiente;
    sinControlador.insert("ODBCSYSINI", entorno.Raiz() + "/odbc");
    revisar(sinControlador, 2, {"SQLSTATE", "Driver=libodbc-que-no-existe.so"});

    // A database file whose directory does not exist.
    const QString base = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", entorno.Raiz() + "/no/existe/dborlan.db");
    revisar(ambiente, 2, {"SQLSTATE", "BASE_DE_DATOS en [Configuracion] de " + ajustes});
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", base);

    // Credentials that others may read.
    const QByteArray credenciales = EntornoPrueba::Leer(ProveedorCredenciales::RutaArchivo());
    BaseDatosPrueba::EscribirCredenciales(credenciales, 0644);
    revisar(ambiente, 2, {"permisos 0644", "chmod 600 " + ProveedorCredenciales::RutaArchivo()});
    BaseDatosPrueba::EscribirCredenciales(credenciales);

    // Connected, but terminal 3 has no row, no printers and no 'TERMINAL'
    // parameter: it would serve nothing without a word.
    ASSERT_TRUE(bd.Preparar(true));
    QString texto = Servir().first;
    for (const char* aviso :
         {"no tiene fila en la tabla Terminal", "orlan-admin terminal agregar 3", "no tiene impresoras",
          "orlan-admin impresora agregar --terminal 3", "falta la fila 'TERMINAL'"}) {
        EXPECT_TRUE(texto.contains(aviso)) << aviso << " not in: " << texto.toStdString();
    }
    // A printer inserted by hand without a state never prints.
    Conexion::Instancia().Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (3)");
    Conexion::Instancia().Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 3)");
    Conexion::Instancia().Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Redirigido) VALUES "
                                   "(4, 3, 'COM1', 4)");
    texto = Servir().first;
    EXPECT_TRUE(texto.contains("la impresora 4 tiene Estado_Impresora NULL") &&
                texto.contains("'orlan-admin restablecer 4'") && !texto.contains("no tiene"))
        << texto.toStdString();
}

// The service loads no GUI or X library: they cost an idle terminal memory
// for windows it never shows.
TEST(Arranque, ServiceModeMapsNoWindowLibrary) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(true));
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "3");
    const auto [texto, mapas] = Servir();
    ASSERT_TRUE(mapas.contains("libQt6Core")) << mapas.toStdString();
    static const QRegularExpression ventanas(
        QStringLiteral("/lib(Qt6Gui|Qt6Widgets|X11|xcb|xkbcommon|GL|EGL)[.-][^\n]*"));
    const QRegularExpressionMatch hallada = ventanas.match(mapas);
    EXPECT_FALSE(hallada.hasMatch()) << hallada.captured().toStdString();
}
