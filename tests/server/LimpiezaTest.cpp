#include "database/PruebaBaseDatos.h"
#include "platform/Ajustes.h"
#include "server/ServidorCola.h"
#include "testsupport/DatosCola.h"
#include "testsupport/EnlaceLento.h"
#include "testsupport/ServidorPostgres.h"

#include <QRandomGenerator>
#include <libpq-fe.h>

// The header cleanup that runs after every job, on a real backend.
class Limpieza : public PruebaBaseDatos {};

// The cleanup deletes exactly the headers that "IdTrabajo NOT IN (SELECT
// IdTrabajo FROM DetalleColaImpresion) AND Escribiendo=0" names, on queues of
// every shape: headers with and without lines, being written, set aside, and
// lines whose header is gone.
TEST_F(Limpieza, DeletesExactlyTheFinishedHeaders) {
    QRandomGenerator azar(20261206);
    for (int ronda = 0; ronda < 12; ++ronda) {
        Ejecutar("DELETE FROM ColaImpresion");
        Ejecutar("DELETE FROM DetalleColaImpresion");
        const int trabajos = 1 + int(azar.bounded(20));
        for (int id = 1; id <= trabajos; ++id) {
            if (azar.bounded(5) != 0) {
                static const int kEscribiendo[] = {0, 0, 0, -1, 2};
                Ejecutar(QString("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                                 "VALUES (%1, 'R', 'caja', %2, 1)")
                             .arg(id)
                             .arg(kEscribiendo[azar.bounded(5)]));
            }
            const int renglones = azar.bounded(3) == 0 ? 0 : int(azar.bounded(4));
            for (int r = 1; r <= renglones; ++r) {
                Ejecutar(QString("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (%1, %2, %3)")
                             .arg(id)
                             .arg(r)
                             .arg(azar.bounded(4) == 0 ? "NULL" : "'x'"));
            }
        }
        const QString quedan = Lista("SELECT IdTrabajo FROM ColaImpresion WHERE IdTrabajo NOT IN (SELECT IdTrabajo "
                                     "FROM ColaImpresion WHERE IdTrabajo NOT IN (SELECT IdTrabajo FROM "
                                     "DetalleColaImpresion) AND Escribiendo=0) ORDER BY IdTrabajo");
        const QString renglones = Lista("SELECT IdTrabajo || '.' || IdRenglon FROM DetalleColaImpresion ORDER BY 1");
        Ejecutar(SentenciaLimpieza());
        EXPECT_EQ(Lista("SELECT IdTrabajo FROM ColaImpresion ORDER BY IdTrabajo"), quedan) << "ronda " << ronda;
        EXPECT_EQ(Lista("SELECT IdTrabajo || '.' || IdRenglon FROM DetalleColaImpresion ORDER BY 1"), renglones);
    }
}

#ifdef ORLAN_PRUEBA_POSTGRESQL
// Another terminal's long transaction holds the jobs' table: the job prints,
// its lines go, and the header cleanup runs into the statement time-out. Once
// the table is free the header is removed without printing the job again as
// an empty receipt with a cut.
TEST_F(Limpieza, AJobWhoseLinesAreGoneIsNotPrintedAgain) {
    Ajustes::Guardar("ORLAN", "Configuracion", "TiempoConsulta", "1");
    ASSERT_TRUE(Conectar());
    InstalarPuerto();
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 0);
    InsertarTrabajo(7, 1, {"siete"});
    InsertarTrabajo(8, 1, {}); // a writer's empty job is still framed and cut
    ServidorCola servidor(1);
    servidor.Timer1().stop();
    servidor.EstablecerActivo(true);

    const QString cadena = Conexion::Instancia().Cadena();
    const QByteArray conexion = QString("host='%1' dbname='%2' user='%3' password='%4'")
                                    .arg(ValorCadenaConexion(cadena, "server"), ValorCadenaConexion(cadena, "database"),
                                         ValorCadenaConexion(cadena, "uid"), ValorCadenaConexion(cadena, "pwd"))
                                    .toUtf8();
    PGconn* otra = PQconnectdb(conexion.constData());
    ASSERT_EQ(PQstatus(otra), CONNECTION_OK) << PQerrorMessage(otra);
    PQclear(PQexec(otra, "BEGIN"));
    PGresult* bloqueo = PQexec(otra, "LOCK TABLE ColaImpresion IN EXCLUSIVE MODE");
    ASSERT_EQ(PQresultStatus(bloqueo), PGRES_COMMAND_OK) << PQresultErrorMessage(bloqueo);
    PQclear(bloqueo);

    servidor.Timer1_Timer();
    EXPECT_EQ(Tomar(), ImpresoEpson("siete") + ImpresoEpson(""));
    EXPECT_TRUE(Bitacora().contains("Cola Impresion, ")) << Bitacora().toStdString();

    PQclear(PQexec(otra, "COMMIT"));
    PQfinish(otra);
    servidor.Timer1_Timer();
    servidor.Timer1_Timer();
    EXPECT_EQ(Tomar(), QByteArray());
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");
}

// The database is 10 ms away (a VPN to a central server): a burst of jobs for
// two printers costs two round trips a job, the serving printer's row coming
// with the tick's job query, the claim with the job's lines, and the headers
// and claims swept once a tick. Every job prints once and nothing is left.
TEST_F(Limpieza, AJobCostsTwoRoundTripsToADatabaseFarAway) {
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 2);
    InsertarImpresora(2, 1, 1);
    EnlaceLento enlace(ServidorPostgres::Compartido().DirectorioSocket() + "/.s.PGSQL.5432", 5);
    ASSERT_NE(enlace.Puerto(), 0);
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "127.0.0.1");
    Ajustes::Guardar("ORLAN", "Configuracion", "Puerto", QString::number(enlace.Puerto()));
    ASSERT_TRUE(Conectar());
    InstalarPuerto();
    ServidorCola servidor(1);
    servidor.Timer1().stop();
    servidor.EstablecerActivo(true);
    InsertarTrabajo(1, 1, {"primero"});
    servidor.Timer1_Timer(); // the first job also asks which of the server's own tables exist
    EXPECT_EQ(Tomar(), ImpresoEpson("primero"));

    constexpr int kTrabajos = 20;
    QByteArray esperado;
    for (int id = 2; id < 2 + kTrabajos; ++id) {
        const QString texto = QString("trabajo %1").arg(id);
        InsertarTrabajo(id, 1 + id % 2, {texto, "gracias"});
        esperado += ImpresoEpson(texto.toUtf8() + "gracias");
    }
    const qint64 antes = enlace.Viajes();
    servidor.Timer1_Timer();
    const qint64 viajes = enlace.Viajes() - antes;
    EXPECT_EQ(Tomar(), esperado);
    EXPECT_LE(viajes, 2 * kTrabajos + 2) << viajes << " round trips for " << kTrabajos << " jobs";
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");

    // An empty queue costs one round trip a tick.
    const qint64 vacio = enlace.Viajes();
    servidor.Timer1_Timer();
    EXPECT_EQ(enlace.Viajes() - vacio, 1);
}
#endif
