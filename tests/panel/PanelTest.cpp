#include "PruebaPanel.h"

#include "database/BaseDatos.h"
#include "panel/ServidorPanel.h"
#include "platform/Ajustes.h"
#include "server/ServidorCola.h"
#include "testsupport/DatosCola.h"
#include "testsupport/ImpresoraVirtual.h"
#include "testsupport/Procesos.h"
#include "testsupport/ServidorPostgres.h"
#include "testsupport/TiendaPropia.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

const Motor kMotor = *MotorPorNombre(QStringLiteral(ORLAN_PRUEBA_MOTOR));
const bool kPostgres = QStringLiteral(ORLAN_PRUEBA_MOTOR) == QStringLiteral("postgresql");

void Sql(const QString& sentencia) {
    Conexion::Instancia().Ejecutar(sentencia);
}

QJsonObject Objeto(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

// The demo shop (terminal 1: Caja 1, Cocina 2, Barra 3 backed by Caja,
// Cheques 4; terminal 2 without printers) behind a panel on a free port.
class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(PrepararTienda(m_bd, ORLAN_PRUEBA_MOTOR, &error)) << error.toStdString();
        ASSERT_TRUE(Conectar());
        m_panel.EstablecerVigencia(0);
        m_puerto = m_panel.Escuchar(QHostAddress::LocalHost, 0);
        ASSERT_NE(m_puerto, 0);
    }

    RespuestaHttp Http(const QByteArray& metodo, const QString& ruta, const QByteArray& cuerpo = {},
                       const QList<QPair<QByteArray, QByteArray>>& encabezados = {}) {
        return Pedir(m_red, metodo, QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_puerto).arg(ruta)), cuerpo,
                     encabezados);
    }

    QJsonObject ImpresoraJson(int id) {
        const RespuestaHttp r = Http("GET", "/api/estado");
        EXPECT_EQ(r.codigo, 200);
        for (const QJsonValue v : Objeto(r.cuerpo).value("impresoras").toArray()) {
            if (v.toObject().value("id").toInt() == id) {
                return v.toObject();
            }
        }
        return {};
    }

    // The value of one series of /metrics ("nombre{etiquetas}"), or nothing.
    std::optional<QString> Metrica(const QString& serie) {
        const RespuestaHttp r = Http("GET", "/metrics");
        EXPECT_EQ(r.codigo, 200);
        for (const QString& linea : QString::fromUtf8(r.cuerpo).split(u'\n')) {
            if (linea.startsWith(serie + u' ')) {
                return linea.mid(serie.size() + 1);
            }
        }
        return std::nullopt;
    }

    // This terminal's print server in this process, ticked by hand.
    std::unique_ptr<ServidorCola> Servidor() {
        auto servidor = std::make_unique<ServidorCola>(1);
        servidor->Timer1().stop();
        servidor->EstablecerActivo(true);
        return servidor;
    }

    RespuestaHttp Entrar(const QString& usuario, const QString& contrasena) {
        return Http("POST", "/api/sesion",
                    QJsonDocument(QJsonObject{{"usuario", usuario}, {"contrasena", contrasena}}).toJson());
    }

    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd{m_entorno, kMotor};
    ServidorPanel m_panel;
    QNetworkAccessManager m_red;
    quint16 m_puerto = 0;
};

TEST_F(Panel, ShowsEveryPrinterWithItsRedirectionQueueAndSetAsideJobs) {
    // The bar's printer ran out of paper: its jobs go to the till's printer.
    ASSERT_EQ(Admin({"encolar", "--impresora", "3", "cerveza"}), 0);
    ASSERT_EQ(Admin({"encolar", "--impresora", "3", "vino"}), 0);
    ASSERT_EQ(Admin({"encolar", "--impresora", "1", "ticket"}), 0);
    Sql("UPDATE Impresora SET Redirigido = 1, Estado_Impresora = 'P' WHERE Id_Impresora = 3");
    // One of them has waited a minute and a half; a header without a time
    // stamp does not count for the age.
    Sql(QStringLiteral("UPDATE ColaImpresion SET FechaHora = %1 WHERE IdTrabajo = 1")
            .arg(kPostgres ? "now() - interval '90 seconds'" : "datetime('now', '-90 seconds')"));
    Sql("UPDATE ColaImpresion SET FechaHora = NULL WHERE IdTrabajo = 3");
    // The kitchen has a job set aside and one still being written.
    InsertarTrabajo(10, 2, {QStringLiteral("<X>sin cerrar"), QStringLiteral("segunda")});
    Sql("UPDATE ColaImpresion SET Escribiendo = 2 WHERE IdTrabajo = 10");
    InsertarTrabajo(11, 2, {QStringLiteral("a medias")}, true);
    // A name that needs escaping in the metrics.
    Sql("UPDATE Impresora SET Nombre_Impresora = 'Che\"ques\\ 2' WHERE Id_Impresora = 4");

    const RespuestaHttp r = Http("GET", "/api/estado");
    ASSERT_EQ(r.codigo, 200) << r.cuerpo.toStdString();
    EXPECT_TRUE(r.Encabezado("Content-Type").startsWith("application/json"));
    const QJsonObject estado = Objeto(r.cuerpo);
    EXPECT_TRUE(QDateTime::fromString(estado.value("generado").toString(), Qt::ISODate).isValid());
    QList<int> terminales;
    for (const QJsonValue t : estado.value("terminales").toArray()) {
        terminales << t.toObject().value("id").toInt();
    }
    EXPECT_EQ(terminales, QList<int>({1, 2}));
    ASSERT_EQ(estado.value("impresoras").toArray().size(), 4);

    const QJsonObject caja = ImpresoraJson(1);
    EXPECT_EQ(caja.value("nombre").toString(), "Caja");
    EXPECT_EQ(caja.value("pendientes").toInt(), 3); // its own and the bar's two
    const int espera = caja.value("espera_mas_antigua_s").toInt(-1);
    EXPECT_GE(espera, 90);
    EXPECT_LT(espera, 90 + 600);
    const QJsonObject barra = ImpresoraJson(3);
    EXPECT_EQ(barra.value("estado").toString(), "P");
    EXPECT_EQ(barra.value("redirigido").toInt(), 1);
    EXPECT_EQ(barra.value("respaldo").toInt(), 1);
    EXPECT_EQ(barra.value("pendientes").toInt(), 0);
    EXPECT_TRUE(barra.value("espera_mas_antigua_s").isNull());
    const QJsonObject cocina = ImpresoraJson(2);
    EXPECT_EQ(cocina.value("pendientes").toInt(), 0);
    EXPECT_EQ(cocina.value("escribiendose").toInt(), 1);
    EXPECT_EQ(cocina.value("apartados").toInt(), 1);
    // Anyone on the LAN sees the counts and the ids; only a signed-in
    // operator reads what the jobs say.
    EXPECT_EQ(cocina.value("trabajos_apartados").toArray().at(0).toObject().value("id").toInt(), 10);
    EXPECT_FALSE(r.cuerpo.contains("sin cerrar")) << r.cuerpo.toStdString();
    EXPECT_FALSE(Http("GET", "/api/estado", {}, {{"Cookie", "orlan_sesion=inventada"}}).cuerpo.contains("sin cerrar"));
    const RespuestaHttp ingreso = Entrar("gerente", "demo");
    ASSERT_EQ(ingreso.codigo, 200);
    const QByteArray cookie = ingreso.Encabezado("Set-Cookie");
    const RespuestaHttp operador = Http("GET", "/api/estado", {}, {{"Cookie", cookie.left(cookie.indexOf(';'))}});
    ASSERT_EQ(operador.codigo, 200);
    for (const QJsonValue v : Objeto(operador.cuerpo).value("impresoras").toArray()) {
        if (v.toObject().value("id").toInt() == 2) {
            const QJsonObject apartado = v.toObject().value("trabajos_apartados").toArray().at(0).toObject();
            EXPECT_EQ(apartado.value("id").toInt(), 10);
            EXPECT_EQ(apartado.value("primer_renglon").toString(), "<X>sin cerrar");
        }
    }
    const QJsonObject cheques = ImpresoraJson(4);
    EXPECT_EQ(cheques.value("puerto").toString(), "LPT2");
    EXPECT_EQ(cheques.value("modo").toString(), "E");
    EXPECT_TRUE(cheques.value("respaldo").isNull());
    EXPECT_EQ(cheques.value("pendientes").toInt() + cheques.value("apartados").toInt() +
                  cheques.value("escribiendose").toInt(),
              0);

    const RespuestaHttp m = Http("GET", "/metrics");
    ASSERT_EQ(m.codigo, 200);
    EXPECT_TRUE(m.Encabezado("Content-Type").startsWith("text/plain; version=0.0.4"));
    const QString metricas = QString::fromUtf8(m.cuerpo);
    for (const char* linea : {
             "# TYPE orlan_trabajos_pendientes gauge\n",
             "orlan_trabajos_pendientes{id=\"1\",impresora=\"Caja\",terminal=\"1\"} 3\n",
             "orlan_trabajos_apartados{id=\"2\",impresora=\"Cocina\",terminal=\"1\"} 1\n",
             "orlan_impresora_estado{id=\"3\",impresora=\"Barra\",terminal=\"1\",estado=\"P\"} 1\n",
             "orlan_impresora_estado{id=\"3\",impresora=\"Barra\",terminal=\"1\",estado=\"A\"} 0\n",
             "orlan_impresora_redirigida{id=\"3\",impresora=\"Barra\",terminal=\"1\"} 1\n",
             "orlan_impresora_redirigida{id=\"1\",impresora=\"Caja\",terminal=\"1\"} 0\n",
             "orlan_trabajos_pendientes{id=\"4\",impresora=\"Che\\\"ques\\\\ 2\",terminal=\"1\"} 0\n",
         }) {
        EXPECT_TRUE(metricas.contains(QString::fromUtf8(linea))) << linea << "\n" << metricas.toStdString();
    }
    EXPECT_TRUE(metricas.contains(QStringLiteral("orlan_espera_mas_antigua_segundos{id=\"1\",impresora=\"Caja\"")));
    EXPECT_FALSE(metricas.contains(QStringLiteral("orlan_espera_mas_antigua_segundos{id=\"3\"")));

    // The page and its parts come from the program itself.
    const RespuestaHttp pagina = Http("GET", "/");
    EXPECT_EQ(pagina.codigo, 200);
    EXPECT_TRUE(pagina.cuerpo.contains("<html lang=\"es\">"));
    EXPECT_EQ(Http("GET", "/panel.js").codigo, 200);
    EXPECT_EQ(Http("GET", "/no-existe").codigo, 404);
}

TEST_F(Panel, ActionsNeedASignedInOperatorWithPermissionAndToken) {
    Sql("UPDATE Impresora SET Redirigido = 1, Estado_Impresora = 'F' WHERE Id_Impresora = 3");
    InsertarTrabajo(10, 2, {QStringLiteral("<X>sin cerrar")});
    Sql("UPDATE ColaImpresion SET Escribiendo = 2 WHERE IdTrabajo = 10");
    InsertarTrabajo(11, 2, {QStringLiteral("listo")});
    // A waiter: a real employee whose group lacks permission 27.
    Sql("INSERT INTO Empleado (ID_Empleado, Usuario) VALUES (2, 'mesero')");
    Sql("INSERT INTO EmpleadosXGrupo (ID_Empleado, ID_Grupo_Trabajo) VALUES (2, 5)");
    Sql("INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (5, 3)");
    ASSERT_EQ(Admin({"contrasena", "--usuario", "mesero"}, "mesa\n"), 0);

    EXPECT_EQ(Http("POST", "/api/impresoras/3/restablecer").codigo, 401);
    EXPECT_EQ(Http("GET", "/api/sesion").codigo, 401);
    RespuestaHttp r = Entrar("gerente", "otra");
    EXPECT_EQ(r.codigo, 401);
    // One answer for a wrong password and for a name without the permission:
    // it must not tell which names hold it.
    EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "El usuario o la contraseña no son válidos");
    r = Entrar("mesero", "mesa");
    EXPECT_EQ(r.codigo, 401);
    EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "El usuario o la contraseña no son válidos");
    EXPECT_TRUE(r.Encabezado("Set-Cookie").isEmpty());

    r = Entrar("gerente", "DEMO"); // passwords compare without regard to case
    ASSERT_EQ(r.codigo, 200) << r.cuerpo.toStdString();
    const QByteArray cookie = r.Encabezado("Set-Cookie");
    EXPECT_TRUE(cookie.contains("HttpOnly"));
    EXPECT_TRUE(cookie.contains("SameSite=Strict"));
    const QByteArray sesion = cookie.left(cookie.indexOf(';'));
    const QByteArray csrf = Objeto(r.cuerpo).value("csrf").toString().toLatin1();
    ASSERT_FALSE(csrf.isEmpty());
    EXPECT_EQ(Objeto(Http("GET", "/api/sesion", {}, {{"Cookie", sesion}}).cuerpo).value("usuario").toString(),
              "gerente");

    // A page of another site can make the browser send the cookie, not the token.
    EXPECT_EQ(Http("POST", "/api/impresoras/3/restablecer", {}, {{"Cookie", sesion}}).codigo, 403);
    EXPECT_EQ(Http("POST", "/api/impresoras/3/restablecer", {}, {{"Cookie", sesion}, {"X-CSRF-Token", "x"}}).codigo,
              403);
    EXPECT_EQ(Lista("SELECT Redirigido FROM Impresora WHERE Id_Impresora = 3"), "1");

    const QList<QPair<QByteArray, QByteArray>> operador{{"Cookie", sesion}, {"X-CSRF-Token", csrf}};
    EXPECT_EQ(Http("GET", "/api/impresoras/3/restablecer", {}, operador).codigo, 405);
    r = Http("POST", "/api/impresoras/3/restablecer", {}, operador);
    EXPECT_EQ(r.codigo, 200) << r.cuerpo.toStdString();
    EXPECT_EQ(ImpresoraJson(3).value("redirigido").toInt(), 3);
    EXPECT_EQ(ImpresoraJson(3).value("estado").toString(), "A");
    // Replicated like orlan-admin restablecer: stored and queued for terminal 2.
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM TransaccionesXTerminal WHERE ID_Terminal = 2"), "1");
    EXPECT_EQ(Http("POST", "/api/impresoras/99/restablecer", {}, operador).codigo, 404);

    EXPECT_EQ(Http("POST", "/api/trabajos/11/reintentar", {}, operador).codigo, 409);
    EXPECT_EQ(Http("POST", "/api/trabajos/12/reintentar", {}, operador).codigo, 404);
    EXPECT_EQ(Http("POST", "/api/trabajos/10/reintentar", {}, operador).codigo, 200);
    EXPECT_EQ(Lista("SELECT Escribiendo FROM ColaImpresion WHERE IdTrabajo = 10"), "0");
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_TRUE(bitacora.contains("Panel, gerente restablecio la impresora 3")) << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains("Panel, gerente reintento el trabajo 10"));
    EXPECT_TRUE(bitacora.contains("UPDATE Impresora SET Redirigido = 3, Estado_Impresora='A' WHERE Id_Impresora=3"));
    EXPECT_TRUE(bitacora.contains("Panel, acceso rechazado a mesero"));

    // The manager's group loses the right while signed in.
    Sql("DELETE FROM PermisosXGrupo_Trabajo WHERE ID_Grupo_Trabajo = 1");
    EXPECT_EQ(Http("POST", "/api/impresoras/3/restablecer", {}, operador).codigo, 403);
    Sql("INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (1, 27)");

    // After signing out the same cookie is worth nothing.
    r = Http("POST", "/api/sesion/salir", {}, {{"Cookie", sesion}});
    EXPECT_EQ(r.codigo, 204);
    EXPECT_TRUE(r.Encabezado("Set-Cookie").contains("Max-Age=0"));
    EXPECT_EQ(Http("POST", "/api/impresoras/3/restablecer", {}, operador).codigo, 401);

    // Guessing: after five failures at one account from one address even the
    // right password waits there (the earlier success cleared the earlier
    // failure at this account).
    for (int i = 0; i < SesionesPanel::kMaximoFallos; ++i) {
        EXPECT_EQ(Entrar("gerente", QStringLiteral("intento%1").arg(i)).codigo, 401);
    }
    r = Entrar("gerente", "demo");
    EXPECT_EQ(r.codigo, 429);
    EXPECT_GT(r.Encabezado("Retry-After").toInt(), 0);
}

// Kept-alive connections to `puerto`, each asking for the style sheet as the
// client `cliente(i)` names in X-Forwarded-For; how many were answered 200.
int Atendidas(quint16 puerto, int conexiones, const std::function<QByteArray(int)>& cliente,
              std::vector<std::unique_ptr<QTcpSocket>>& abiertas) {
    int atendidas = 0;
    for (int i = 0; i < conexiones; ++i) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, puerto);
        if (!s->waitForConnected(5000)) {
            continue;
        }
        s->write("GET /panel.css HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Forwarded-For: " + cliente(i) + "\r\n\r\n");
        QByteArray datos;
        while (!datos.contains("\r\n") && s->waitForReadyRead(5000)) {
            datos += s->readAll();
        }
        atendidas += datos.startsWith("HTTP/1.1 200");
        abiertas.push_back(std::move(s));
    }
    return atendidas;
}

// Behind a reverse proxy every client comes from the proxy's address: only
// from a proxy given as trusted are the forwarded headers believed, and then
// the brake, the log and the connections per address count the client.
TEST_F(Panel, BelievesForwardedHeadersOnlyFromATrustedProxy) {
    const auto entrar = [&](quint16 puerto, const QString& contrasena, const QByteArray& cliente) {
        return Pedir(m_red, "POST", QUrl(QStringLiteral("http://127.0.0.1:%1/api/sesion").arg(puerto)),
                     QJsonDocument(QJsonObject{{"usuario", "gerente"}, {"contrasena", contrasena}}).toJson(),
                     {{"X-Forwarded-For", cliente}});
    };
    // Sent by a host that is not a trusted proxy, the headers change nothing.
    for (int i = 0; i < SesionesPanel::kMaximoFallos; ++i) {
        EXPECT_EQ(entrar(m_puerto, "mala", "10.0.0." + QByteArray::number(i)).codigo, 401);
    }
    EXPECT_EQ(entrar(m_puerto, "demo", "10.0.0.99").codigo, 429);
    EXPECT_EQ(Http("GET", "/panel.css", {}, {{"X-Forwarded-Host", "atacante.example"}}).codigo, 200);

    ServidorPanel detras;
    detras.EstablecerVigencia(0);
    detras.EstablecerProxies({QHostAddress(QStringLiteral("::ffff:127.0.0.1"))});
    const quint16 puerto = detras.Escuchar(QHostAddress::LocalHost, 0);
    ASSERT_NE(puerto, 0);
    // The right-most address the proxy did not add itself is the client's.
    for (int i = 0; i < SesionesPanel::kMaximoFallos; ++i) {
        EXPECT_EQ(entrar(puerto, "mala", "192.0.2.7, 10.0.0.1").codigo, 401);
    }
    EXPECT_EQ(entrar(puerto, "demo", "10.0.0.1, 127.0.0.1").codigo, 429);
    const RespuestaHttp ingreso = entrar(puerto, "demo", "10.0.0.2");
    EXPECT_EQ(ingreso.codigo, 200);
    EXPECT_FALSE(ingreso.Encabezado("Set-Cookie").contains("Secure"));
    // The proxy says the browser spoke HTTPS to it: the cookie is Secure.
    const RespuestaHttp segura =
        Pedir(m_red, "POST", QUrl(QStringLiteral("http://127.0.0.1:%1/api/sesion").arg(puerto)),
              QJsonDocument(QJsonObject{{"usuario", "gerente"}, {"contrasena", "demo"}}).toJson(),
              {{"X-Forwarded-For", "10.0.0.3"}, {"X-Forwarded-Proto", "https"}});
    EXPECT_EQ(segura.codigo, 200);
    EXPECT_TRUE(segura.Encabezado("Set-Cookie").contains("; Secure")) << segura.Encabezado("Set-Cookie").toStdString();
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_TRUE(bitacora.contains("Panel, acceso rechazado a gerente desde 10.0.0.1")) << bitacora.toStdString();
    // The host name the browser asked the proxy for is the one checked.
    EXPECT_EQ(Pedir(m_red, "GET", QUrl(QStringLiteral("http://127.0.0.1:%1/panel.css").arg(puerto)), {},
                    {{"X-Forwarded-Host", "atacante.example"}})
                  .codigo,
              421);

    // Connections: many clients through the proxy are not one address's
    // share, but one client still gets no more than an address.
    std::vector<std::unique_ptr<QTcpSocket>> abiertas;
    const int muchos = ServidorHttp::kPorDireccion + 16;
    EXPECT_EQ(Atendidas(
                  puerto, muchos, [](int i) { return "10.1.0." + QByteArray::number(i); }, abiertas),
              muchos);
    abiertas.clear();
    EXPECT_EQ(Atendidas(
                  puerto, muchos, [](int) { return QByteArray("10.2.0.1"); }, abiertas),
              ServidorHttp::kPorDireccion);
}

TEST_F(Panel, SaysSoWhileTheDatabaseIsAwayAndRecovers) {
    if (!kPostgres) {
        // A table gone from the SQLite file is no lost connection: the
        // readers say what failed (500) and nothing reconnects.
        Sql("DROP TABLE ColaImpresion");
        RespuestaHttp r = Http("GET", "/api/estado");
        EXPECT_EQ(r.codigo, 500);
        EXPECT_EQ(Http("GET", "/metrics").codigo, 500);
        Sql("CREATE TABLE ColaImpresion (IdTrabajo int NOT NULL PRIMARY KEY, Tipo varchar(10) NULL, "
            "Usuario varchar(50) NULL, FechaHora datetime NULL, Escribiendo smallint NOT NULL DEFAULT 0, "
            "id_impresora int NOT NULL)");
        EXPECT_EQ(Http("GET", "/api/estado").codigo, 200);
        const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
        EXPECT_EQ(bitacora.count("Panel, no se pudo leer el estado: "), 1) << bitacora.toStdString();
        EXPECT_FALSE(bitacora.contains("Panel, sin base de datos"));
        return;
    }
    ServidorPostgres& servidor = ServidorPostgres::Compartido();
    ASSERT_TRUE(servidor.Detener());
    const RespuestaHttp r = Http("GET", "/api/estado");
    EXPECT_EQ(r.codigo, 503);
    EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "Sin conexion con la base de datos");
    EXPECT_EQ(Http("GET", "/metrics").codigo, 503);
    ASSERT_TRUE(servidor.Iniciar()) << servidor.Error().toStdString();
    EXPECT_TRUE(Esperar([&] { return Http("GET", "/api/estado").codigo == 200; }, 60));
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_TRUE(bitacora.contains("Panel, sin base de datos")) << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains("Panel, base de datos disponible de nuevo"));
}

// A database error's text names the shop's tables and columns: a client that
// has not signed in gets a plain answer, and the log gets the driver's words.
TEST_F(Panel, KeepsTheDatabasesErrorsForTheLog) {
    Sql("ALTER TABLE ColaImpresion RENAME TO ColaAparte");
    Sql("ALTER TABLE Empleado RENAME TO EmpleadoAparte");
    for (const QString& ruta : {QStringLiteral("/api/estado"), QStringLiteral("/metrics")}) {
        const RespuestaHttp r = Http("GET", ruta);
        EXPECT_EQ(r.codigo, 500);
        EXPECT_TRUE(r.cuerpo.contains("No se pudo leer el estado: error de la base de datos"))
            << r.cuerpo.toStdString();
        EXPECT_FALSE(r.cuerpo.toLower().contains("colaimpresion")) << r.cuerpo.toStdString();
    }
    RespuestaHttp r = Entrar("gerente", "demo");
    EXPECT_EQ(r.codigo, 500);
    EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "No se pudo comprobar el usuario: error de la base de datos");
    EXPECT_TRUE(r.Encabezado("Set-Cookie").isEmpty());

    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos()).toLower();
    EXPECT_TRUE(bitacora.contains(QRegularExpression("panel, no se pudo leer el estado: .*colaimpresion")))
        << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains(QRegularExpression("panel, al comprobar a gerente: .*empleado")));
    Sql("ALTER TABLE ColaAparte RENAME TO ColaImpresion");
    Sql("ALTER TABLE EmpleadoAparte RENAME TO Empleado");
    EXPECT_EQ(Http("GET", "/api/estado").codigo, 200);
    EXPECT_EQ(Entrar("gerente", "demo").codigo, 200);
}

// Names made to end a quoted literal early. On PostgreSQL the database runs
// with standard_conforming_strings off, where a backslash escapes the quote
// after it: doubling the quotes would not keep these names inside the literal.
TEST_F(Panel, SignInNamesNeverBecomeStatementText) {
    ASSERT_TRUE(m_bd.BarraEscapaComillas()) << m_bd.Error().toStdString();
    const QString parametros = Lista("SELECT Id_Parametro FROM Parametros ORDER BY Id_Parametro");
    ASSERT_FALSE(parametros.isEmpty());
    RespuestaHttp r = Entrar("\\';DELETE FROM Parametros--", "demo");
    EXPECT_EQ(r.codigo, 401) << r.cuerpo.toStdString();
    EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "El usuario o la contraseña no son válidos");
    EXPECT_EQ(Lista("SELECT Id_Parametro FROM Parametros ORDER BY Id_Parametro"), parametros);
    // The manager's real password behind a name that would match every operator.
    r = Entrar("\\' OR 1=1--", "demo");
    EXPECT_EQ(r.codigo, 401) << r.cuerpo.toStdString();
    EXPECT_TRUE(r.Encabezado("Set-Cookie").isEmpty());
    EXPECT_EQ(Entrar("gerente", "demo").codigo, 200);
}

// The kitchen's serial printer has no backup and its USB adapter is
// unplugged. From the start, before any job, the print server's status line,
// the panel and its metrics say so and why, while the state letter stays as
// the routing left it; its job waits, and the log says it once. Plugged in
// again, it prints, and every place says so.
TEST_F(Panel, ShowsAPrinterThatCannotPrintUntilItPrintsAgain) {
    Sql("UPDATE Impresora SET Modo = 'E', Id_Impresora_Respaldo = NULL WHERE Id_Impresora = 2");
    Sql("UPDATE Impresora SET ID_Terminal = 2 WHERE Id_Impresora IN (1, 3)");
    const QString dispositivo = m_entorno.Raiz() + "/ttyUSB0";
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", dispositivo);
    const QString serie = R"(orlan_impresora_falla{id="2",impresora="Cocina",terminal="1"})";
    const auto servidor = Servidor();
    ASSERT_TRUE(servidor->Cargar());
    EXPECT_EQ(servidor->Resumen().toStdString(),
              ("sirviendo 0 de 1 impresora; Cocina: no existe " + dispositivo).toStdString());
    EXPECT_EQ(Metrica(serie), "1");
    EXPECT_EQ(Metrica(R"(orlan_impresora_falla{id="3",impresora="Barra",terminal="2"})"), "0");
    EXPECT_EQ(ImpresoraJson(2).value("falla").toString().toStdString(), ("no existe " + dispositivo).toStdString());
    InsertarTrabajo(1, 2, {QStringLiteral("sopa")});
    servidor->Timer1_Timer();
    servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "1");
    EXPECT_EQ(ImpresoraJson(2).value("estado").toString(), "A");
    EXPECT_EQ(ImpresoraJson(2).value("falla").toString().toStdString(), ("no existe " + dispositivo).toStdString());

    ImpresoraVirtual cocina(m_entorno.Raiz() + "/cocina.bin", dispositivo);
    ASSERT_TRUE(cocina.Iniciar({"--velocidad", "0"}));
    servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
    EXPECT_TRUE(Esperar([&] { return cocina.Captura().contains("sopa"); }, 10));
    EXPECT_EQ(Metrica(serie), "0");
    EXPECT_TRUE(ImpresoraJson(2).value("falla").isNull());
    EXPECT_EQ(servidor->Resumen().toStdString(), "sirviendo 1 impresora");
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_EQ(bitacora.count("impresora 2 (COM1) no puede imprimir: no existe " + dispositivo), 1)
        << bitacora.toStdString();
    EXPECT_EQ(bitacora.count("impresora 2 (COM1) imprime de nuevo"), 1) << bitacora.toStdString();

    // A printer added while the server runs is named like the others.
    Sql("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Redirigido, "
        "Estado_Impresora, esdecheques) VALUES (5, 1, 'COM3', 'E', 'Terraza', 5, 'A', 0)");
    Ajustes::Guardar("ORLAN", "Puertos", "COM3", m_entorno.Raiz() + "/ttyUSB2");
    InsertarTrabajo(2, 5, {QStringLiteral("helado")});
    servidor->Timer1_Timer();
    EXPECT_TRUE(EntornoPrueba::Bitacora(m_entorno.Datos()).contains("COLA IMPRESION: Terraza (COM3 en "))
        << EntornoPrueba::Bitacora(m_entorno.Datos()).toStdString();
    EXPECT_EQ(servidor->Resumen().toStdString(),
              ("sirviendo 1 de 2 impresoras; Terraza: no existe " + m_entorno.Raiz() + "/ttyUSB2").toStdString());
}

// The kitchen's and the bar's printers are network printers modelled on real
// ones (a receive buffer, DLE EOT answered on arrival, GS r after printing);
// the kitchen's says its paper is near its end. The print server reads that
// while it prints and writes it down; the panel shows it, and stops showing
// it once the roll is changed.
TEST_F(Panel, ShowsPaperNearItsEndAsThePrintServerReadsIt) {
    Sql("UPDATE Impresora SET Modo = 'E'");
    ImpresoraVirtual cocina(m_entorno.Raiz() + "/cocina.bin");
    ImpresoraVirtual barra(m_entorno.Raiz() + "/barra.bin");
    ASSERT_TRUE(cocina.Iniciar({"--tcp", "0", "--velocidad", "0", "--estado", "papel-bajo"}));
    ASSERT_TRUE(barra.Iniciar({"--tcp", "0", "--velocidad", "0"}));
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", cocina.Destino());
    Ajustes::Guardar("ORLAN", "Puertos", "COM2", barra.Destino());
    const QString serieCocina = R"(orlan_impresora_papel_bajo{id="2",impresora="Cocina",terminal="1"})";
    const QString serieBarra = R"(orlan_impresora_papel_bajo{id="3",impresora="Barra",terminal="1"})";
    // Nothing read yet.
    EXPECT_EQ(Metrica(serieCocina), "0");
    EXPECT_TRUE(ImpresoraJson(2).value("papel_bajo").isNull());

    const auto servidor = Servidor();
    InsertarTrabajo(1, 2, {QStringLiteral("sopa")});
    InsertarTrabajo(2, 3, {QStringLiteral("cerveza")});
    servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0"); // it still prints
    EXPECT_TRUE(cocina.Captura().contains("sopa"));
    EXPECT_EQ(Metrica(serieCocina), "1");
    EXPECT_EQ(Metrica(serieBarra), "0");
    EXPECT_EQ(Metrica(R"(orlan_impresora_papel_bajo{id="1",impresora="Caja",terminal="1"})"), "0");
    EXPECT_TRUE(ImpresoraJson(2).value("papel_bajo").toBool());
    EXPECT_FALSE(ImpresoraJson(3).value("papel_bajo").toBool(true));

    // A new roll: the same printer, ready.
    cocina.Matar();
    ASSERT_TRUE(cocina.Iniciar({"--tcp", "0", "--velocidad", "0"}));
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", cocina.Destino());
    InsertarTrabajo(3, 2, {QStringLiteral("flan")});
    servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
    EXPECT_EQ(Metrica(serieCocina), "0");
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_EQ(bitacora.count("papel por terminarse, sigue imprimiendo"), 1) << bitacora.toStdString();
    EXPECT_FALSE(bitacora.contains("PapelBajo")) << bitacora.toStdString();
}

// A shop's own database, made by hand with the point-of-sale system's tables
// and only the columns the server reads and writes: no terminal names, no
// keys, indexes or triggers of ours. Terminal 1 with a till printer (1) and a
// kitchen printer (2) backed by it, terminal 2 without printers, and the
// manager "gerente" (permission 27; the password is set with orlan-admin).
class PanelTiendaPropia : public Panel {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bd.Preparar(false)) << m_bd.Error().toStdString();
        ASSERT_TRUE(Conectar());
        CrearTablasTienda(kMotor);
        for (const QString& sentencia : {
                 QStringLiteral("INSERT INTO Terminal VALUES (1)"),
                 QStringLiteral("INSERT INTO Terminal VALUES (2)"),
                 QStringLiteral("INSERT INTO Parametros VALUES ('TERMINAL', 1)"),
                 QStringLiteral("INSERT INTO Parametros VALUES ('FOLIOIMPRESION', 0)"),
                 QStringLiteral("INSERT INTO Impresora VALUES (1, 1, 'COM1', 'E', 'Caja', NULL, 1, 'A', 0)"),
                 QStringLiteral("INSERT INTO Impresora VALUES (2, 1, 'COM2', 'E', 'Cocina', 1, 1, 'P', 0)"),
                 QStringLiteral("INSERT INTO Empleado VALUES (1, 'gerente', NULL)"),
                 QStringLiteral("INSERT INTO EmpleadosXGrupo VALUES (1, 1)"),
                 QStringLiteral("INSERT INTO PermisosXGrupo_Trabajo VALUES (1, 27)"),
             }) {
            Sql(sentencia);
        }
        ASSERT_EQ(Admin({"contrasena", "--usuario", "gerente"}, "demo\n"), 0);
        m_panel.EstablecerVigencia(0);
        m_puerto = m_panel.Escuchar(QHostAddress::LocalHost, 0);
        ASSERT_NE(m_puerto, 0);
    }

    // Signs the manager in; the headers every action then needs.
    QList<QPair<QByteArray, QByteArray>> Operador() {
        const RespuestaHttp r = Entrar("gerente", "demo");
        EXPECT_EQ(r.codigo, 200) << r.cuerpo.toStdString();
        const QByteArray cookie = r.Encabezado("Set-Cookie");
        return {{"Cookie", cookie.left(cookie.indexOf(';'))},
                {"X-CSRF-Token", Objeto(r.cuerpo).value("csrf").toString().toLatin1()}};
    }
};

TEST_F(PanelTiendaPropia, ReadsActsAndIsAdministeredWithTheShopsColumnsOnly) {
    ASSERT_EQ(Admin({"encolar", "--impresora", "2", "sopa"}), 0);
    RespuestaHttp r = Http("GET", "/api/estado");
    ASSERT_EQ(r.codigo, 200) << r.cuerpo.toStdString();
    const QJsonArray terminales = Objeto(r.cuerpo).value("terminales").toArray();
    ASSERT_EQ(terminales.size(), 2);
    EXPECT_TRUE(terminales.at(0).toObject().value("nombre").isNull());
    EXPECT_EQ(ImpresoraJson(1).value("pendientes").toInt(), 1); // the kitchen's job, redirected to the till
    EXPECT_EQ(Http("GET", "/metrics").codigo, 200);

    const auto operador = Operador();
    r = Http("POST", "/api/impresoras/2/restablecer", {}, operador);
    EXPECT_EQ(r.codigo, 200) << r.cuerpo.toStdString();
    EXPECT_EQ(ImpresoraJson(2).value("redirigido").toInt(), 2);
    EXPECT_EQ(Lista("SELECT Term FROM TransaccionesXTerminal"), "2");

    // The administration tool on the same database.
    QProcess diagnostico;
    diagnostico.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/orlan-admin/orlan-admin"), {"diagnostico"});
    ASSERT_TRUE(diagnostico.waitForFinished(60000));
    const QString informe = QString::fromUtf8(diagnostico.readAllStandardOutput());
    EXPECT_TRUE(informe.contains("esquema completo")) << informe.toStdString();
    EXPECT_EQ(Admin({"terminal", "agregar", "3", "--nombre", "Barra"}), 0);
    EXPECT_EQ(Lista("SELECT ID_Terminal FROM Terminal ORDER BY ID_Terminal"), "1,2,3");
    EXPECT_EQ(Admin({"cola"}), 0);
    EXPECT_EQ(Admin({"restablecer", "1"}), 0);
    if (kPostgres) {
        EXPECT_EQ(Admin({"esquema", "postgresql", "--despertar"}), 0);
        EXPECT_EQ(Admin({"encolar", "--impresora", "1", "pan"}), 0);
    }
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_FALSE(bitacora.contains("Panel, no se pudo")) << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains("la tabla Terminal no tiene la columna Nombre"));
}

// Without our PapelBajo column the print server prints on a printer with
// paper near its end as on any other and says once what it cannot write; the
// panel has no such series rather than a 0 it cannot know.
TEST_F(PanelTiendaPropia, APrinterWithPaperNearItsEndPrintsAndThePanelDoesWithoutTheColumn) {
    ImpresoraVirtual caja(m_entorno.Raiz() + "/caja.bin");
    ASSERT_TRUE(caja.Iniciar({"--tcp", "0", "--velocidad", "0", "--estado", "papel-bajo"}));
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", caja.Destino());
    const auto servidor = Servidor();
    for (int id = 1; id <= 2; ++id) {
        InsertarTrabajo(id, 1, {QStringLiteral("ticket %1").arg(id)});
        servidor->Timer1_Timer();
        EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
    }
    EXPECT_TRUE(caja.Captura().contains("ticket 2"));

    const RespuestaHttp r = Http("GET", "/metrics");
    ASSERT_EQ(r.codigo, 200);
    EXPECT_FALSE(r.cuerpo.contains("orlan_impresora_papel_bajo")) << r.cuerpo.toStdString();
    EXPECT_TRUE(r.cuerpo.contains(R"(orlan_trabajos_pendientes{id="1",impresora="Caja",terminal="1"} 0)"));
    EXPECT_TRUE(ImpresoraJson(1).value("papel_bajo").isNull());
    EXPECT_FALSE(r.cuerpo.contains("orlan_impresora_falla")) << r.cuerpo.toStdString();
    EXPECT_TRUE(ImpresoraJson(1).value("falla").isNull());
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_EQ(bitacora.count("Cola Impresion, la tabla Impresora no tiene la columna PapelBajo"), 1)
        << bitacora.toStdString();
    EXPECT_EQ(bitacora.count("Panel: la tabla Impresora no tiene la columna PapelBajo"), 1);
    EXPECT_FALSE(bitacora.contains("no se pudo")) << bitacora.toStdString();
}

TEST_F(PanelTiendaPropia, RefusesHostileSignInsAndActionsWithoutLosingTheDatabase) {
    // A NUL would cut the statement short, a long name fill the log, a line
    // break forge a line of it: refused before any statement, as a failure,
    // and the database is not taken for lost.
    for (const QString& usuario : {QStringLiteral("gerente") + QChar(0) + QStringLiteral("' OR '1'='1"),
                                   QString(3000, u'x'), QStringLiteral("gere\nnte")}) {
        const RespuestaHttp r = Entrar(usuario, "demo");
        EXPECT_EQ(r.codigo, 401);
        EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "El usuario o la contraseña no son válidos");
        EXPECT_EQ(Http("GET", "/api/estado").codigo, 200);
    }
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_FALSE(bitacora.contains(QString(100, u'x')));
    EXPECT_FALSE(bitacora.contains("OR '1'='1"));
    EXPECT_FALSE(bitacora.contains("gere"));

    // Only JSON signs in: a form of another site posts text/plain.
    EXPECT_EQ(
        Http("POST", "/api/sesion", R"({"usuario":"gerente","contrasena":"demo"})", {{"Content-Type", "text/plain"}})
            .codigo,
        415);

    const auto operador = Operador();
    // Above 2^31 the id names no printer (cut to int it would be printer 1).
    Sql("UPDATE Impresora SET Redirigido = 2, Estado_Impresora = 'P' WHERE Id_Impresora = 1");
    EXPECT_EQ(Http("POST", "/api/impresoras/4294967297/restablecer", {}, operador).codigo, 404);
    EXPECT_EQ(Http("POST", "/api/trabajos/4294967297/reintentar", {}, operador).codigo, 404);
    EXPECT_EQ(Lista("SELECT Redirigido FROM Impresora WHERE Id_Impresora = 1"), "2");
    // Restored once; pressed again, nothing is written or replicated.
    for (int i = 0; i < 3; ++i) {
        const RespuestaHttp r = Http("POST", "/api/impresoras/2/restablecer", {}, operador);
        EXPECT_EQ(r.codigo, 200);
    }
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM Transacciones"), "1");
    EXPECT_TRUE(Objeto(Http("POST", "/api/impresoras/2/restablecer", {}, operador).cuerpo)
                    .value("mensaje")
                    .toString()
                    .contains("nada que hacer"));

    // A page of another site rebound to our address sends its own host name.
    EXPECT_EQ(Http("GET", "/api/estado", {}, {{"Host", "atacante.example:8631"}}).codigo, 421);
    EXPECT_EQ(Http("GET", "/panel.css", {}, {{"Host", "atacante.example"}}).codigo, 421);
    EXPECT_EQ(Http("GET", "/api/estado", {}, {{"Host", "localhost"}}).codigo, 200);
}

// Rows other programs wrote: ports that name no port, a name as long as a
// line, control characters in a name and, on SQLite, which keeps what it is
// given in an int column, text and numbers past int where ids belong. The
// well-formed printers are shown as they are; the others never as ready.
TEST_F(PanelTiendaPropia, ShowsTheWellFormedPrintersWhateverOtherRowsHold) {
    if (kPostgres) {
        // A shop whose columns are wider than the point-of-sale system's.
        Sql("ALTER TABLE Impresora ALTER COLUMN Nombre_Impresora TYPE text");
        Sql("ALTER TABLE Impresora ALTER COLUMN Puerto TYPE text");
    }
    const QString caracter = kPostgres ? QStringLiteral("chr") : QStringLiteral("char");
    Sql("INSERT INTO Impresora VALUES (3, 1, '../../etc/passwd', 'E', 'Ruta', NULL, 3, 'A', 0)");
    Sql("INSERT INTO Impresora VALUES (4, 2, 'PRN', 'E', '" + QString(4000, u'n') + "', NULL, 4, 'A', 0)");
    Sql(QStringLiteral("INSERT INTO Impresora VALUES (5, 2, 'LPT1', 'E', 'Sa' || %1(10) || 'l' || %1(%2) || 'ta', "
                       "NULL, 5, 'A', 0)")
            .arg(caracter)
            .arg(kPostgres ? 9 : 0));
    InsertarTrabajo(1, 2, {QStringLiteral("sopa")}); // redirected to the till
    if (!kPostgres) {
        Sql("INSERT INTO Impresora VALUES ('seis', 'uno', 'COM3', 'E', 'Texto', 'x', 'seis', 'A', 'no')");
        // Cut to int, 2^32 + 1 would name the till.
        Sql("INSERT INTO Impresora VALUES (7, 2, 'COM4', 'E', 'Enorme', NULL, 4294967297, 'A', 0)");
        InsertarTrabajo(2, 7, {QStringLiteral("cafe")});
        Sql("INSERT INTO ColaImpresion VALUES ('x', 'R', 'caja', 'ayer', 'x', 'x')");
    }

    const RespuestaHttp r = Http("GET", "/api/estado");
    ASSERT_EQ(r.codigo, 200) << r.cuerpo.toStdString();
    QList<int> ids;
    for (const QJsonValue v : Objeto(r.cuerpo).value("impresoras").toArray()) {
        ids << v.toObject().value("id").toInt();
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, QList<int>({1, 2, 3, 4, 5}));
    const QJsonObject caja = ImpresoraJson(1);
    EXPECT_EQ(caja.value("nombre").toString(), "Caja");
    EXPECT_EQ(caja.value("puerto").toString(), "COM1");
    EXPECT_TRUE(caja.value("puerto_valido").toBool());
    EXPECT_EQ(caja.value("pendientes").toInt(), 1);
    EXPECT_EQ(ImpresoraJson(2).value("redirigido").toInt(), 1);
    for (const int id : {3, 4}) {
        const QJsonObject impresora = ImpresoraJson(id);
        EXPECT_FALSE(impresora.value("puerto_valido").toBool(true)) << id;
    }
    EXPECT_LE(ImpresoraJson(4).value("nombre").toString().size(), 60);
    const QString nombre = ImpresoraJson(5).value("nombre").toString();
    EXPECT_TRUE(nombre.startsWith("Sa")) << nombre.toStdString();
    for (const QChar c : nombre) {
        EXPECT_GE(c.unicode(), 0x20) << nombre.toStdString();
    }

    const RespuestaHttp m = Http("GET", "/metrics");
    ASSERT_EQ(m.codigo, 200);
    EXPECT_FALSE(m.cuerpo.contains('\0'));
    EXPECT_FALSE(m.cuerpo.contains(QByteArray(100, 'n')));
    EXPECT_TRUE(m.cuerpo.contains(R"(orlan_trabajos_pendientes{id="1",impresora="Caja",terminal="1"} 1)"))
        << m.cuerpo.toStdString();
}

TEST(SesionesPanel, BrakesGuessingPerAccountAndAddressWithoutLockingTheAccount) {
    SesionesPanel sesiones;
    // Thirty hosts guess five times each at the manager's account.
    for (int i = 0; i < 30; ++i) {
        const QString direccion = QStringLiteral("192.168.1.%1").arg(i);
        for (int n = 0; n < SesionesPanel::kMaximoFallos; ++n) {
            EXPECT_FALSE(sesiones.Bloqueada(direccion, "gerente"));
            sesiones.RegistrarFallo(direccion, "gerente");
        }
    }
    qint64 espera = 0;
    EXPECT_TRUE(sesiones.Bloqueada("192.168.1.0", "gerente", &espera));
    EXPECT_GT(espera, 0);
    // The manager at another till is let through, after a short wait.
    EXPECT_FALSE(sesiones.Bloqueada("192.168.1.200", "gerente"));
    EXPECT_GT(sesiones.Demora("gerente"), 0);
    EXPECT_LE(sesiones.Demora("gerente"), SesionesPanel::kDemoraMaxima);
    EXPECT_EQ(sesiones.Demora("cajero"), 0);
    // A guesser's own failures at the account stay; an address's success
    // clears only its own.
    sesiones.Olvidar("192.168.1.200", "gerente");
    EXPECT_TRUE(sesiones.Bloqueada("192.168.1.1", "gerente"));
    sesiones.Olvidar("192.168.1.1", "gerente");
    EXPECT_FALSE(sesiones.Bloqueada("192.168.1.1", "gerente"));

    // One host trying many names meets its address's bound.
    SesionesPanel otras;
    for (int i = 0; i < SesionesPanel::kMaximoPorDireccion; ++i) {
        ASSERT_FALSE(otras.Bloqueada("10.0.0.1", QStringLiteral("u%1").arg(i)));
        otras.RegistrarFallo("10.0.0.1", QStringLiteral("u%1").arg(i));
    }
    EXPECT_TRUE(otras.Bloqueada("10.0.0.1", "nuevo"));
    EXPECT_FALSE(otras.Bloqueada("10.0.0.2", "nuevo"));
    // A flood of failures from everywhere is held within a bound.
    for (int i = 0; i < 3 * SesionesPanel::kFallosRecordados; ++i) {
        otras.RegistrarFallo(QStringLiteral("10.%1.%2.1").arg(i / 250).arg(i % 250), "gerente");
    }
    EXPECT_LE(otras.FallosRecordados(), SesionesPanel::kFallosRecordados);
}

TEST(SesionesPanel, KeepsABoundedNumberOfSessionsDroppingTheLeastRecentlyUsed) {
    SesionesPanel sesiones;
    const QByteArray primera = sesiones.Abrir("gerente");
    const QByteArray cajero = sesiones.Abrir("cajero");
    for (int i = 0; i < 3000; ++i) {
        sesiones.Abrir("gerente");
    }
    EXPECT_LE(sesiones.Abiertas(), SesionesPanel::kSesionesPorCuenta + 1);
    EXPECT_EQ(sesiones.Buscar(primera), nullptr);
    // Another operator's session is not pushed out by the manager's.
    EXPECT_NE(sesiones.Buscar(cajero), nullptr);
    for (int i = 0; i < 3000; ++i) {
        sesiones.Abrir(QStringLiteral("u%1").arg(i));
    }
    EXPECT_LE(sesiones.Abiertas(), SesionesPanel::kSesionesTotal);
}

} // namespace
