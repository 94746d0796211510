#include "PruebaPanel.h"

#include "database/BaseDatos.h"
#include "panel/ServidorPanel.h"
#include "testsupport/DatosCola.h"
#include "testsupport/Procesos.h"
#include "testsupport/ServidorPostgres.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
        m_puerto = m_panel.listen(QHostAddress::LocalHost, 0);
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
    const QJsonObject apartado = cocina.value("trabajos_apartados").toArray().at(0).toObject();
    EXPECT_EQ(apartado.value("id").toInt(), 10);
    EXPECT_EQ(apartado.value("primer_renglon").toString(), "<X>sin cerrar");
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
    EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "La contraseña es incorrecta");
    r = Entrar("mesero", "mesa");
    EXPECT_EQ(r.codigo, 401);
    EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "El usuario es inválido o no tiene privilegios suficientes");
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

    // Guessing: after five failures even the right password waits.
    for (int i = 0; i < SesionesPanel::kMaximoFallos; ++i) {
        EXPECT_EQ(Entrar("gerente", QStringLiteral("intento%1").arg(i)).codigo, 401);
    }
    r = Entrar("gerente", "demo");
    EXPECT_EQ(r.codigo, 429);
    EXPECT_GT(r.Encabezado("Retry-After").toInt(), 0);
}

TEST_F(Panel, SaysSoWhileTheDatabaseIsAwayAndRecovers) {
    if (!kPostgres) {
        // The SQLite file: a database that disappears from under the panel.
        Sql("DROP TABLE ColaImpresion");
        EXPECT_EQ(Http("GET", "/api/estado").codigo, 503);
        EXPECT_EQ(Http("GET", "/metrics").codigo, 503);
        Sql("CREATE TABLE ColaImpresion (IdTrabajo int NOT NULL PRIMARY KEY, Tipo varchar(10) NULL, "
            "Usuario varchar(50) NULL, FechaHora datetime NULL, Escribiendo smallint NOT NULL DEFAULT 0, "
            "id_impresora int NOT NULL)");
    } else {
        ServidorPostgres& servidor = ServidorPostgres::Compartido();
        ASSERT_TRUE(servidor.Detener());
        const RespuestaHttp r = Http("GET", "/api/estado");
        EXPECT_EQ(r.codigo, 503);
        EXPECT_EQ(Objeto(r.cuerpo).value("error").toString(), "Sin conexion con la base de datos");
        EXPECT_EQ(Http("GET", "/metrics").codigo, 503);
        ASSERT_TRUE(servidor.Iniciar()) << servidor.Error().toStdString();
    }
    EXPECT_TRUE(Esperar([&] { return Http("GET", "/api/estado").codigo == 200; }, 30));
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_TRUE(bitacora.contains("Panel, sin base de datos")) << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains("Panel, base de datos disponible de nuevo"));
}

} // namespace
