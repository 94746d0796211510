#include "PruebaCola.h"
#include "database/AvisoCambios.h"

#include <libpq-fe.h>

// Another terminal holds the jobs' table in a long transaction, and the
// server has no statement time-out: after printing a job it waits in the
// header cleanup for as long as the lock is held. A stop request (SIGTERM,
// as systemd sends it) ends the program all the same, lock still held.
TEST_F(PruebaCola, AStopRequestCancelsTheStatementThatHoldsTheTick) {
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 0);
    InsertarTrabajo(5, 1, {"cinco"});

    const QString cadena = Conexion::Instancia().Cadena();
    const QByteArray datos = QString("host='%1' dbname='%2' user='%3' password='%4'")
                                 .arg(ValorCadenaConexion(cadena, "server"), ValorCadenaConexion(cadena, "database"),
                                      ValorCadenaConexion(cadena, "uid"), ValorCadenaConexion(cadena, "pwd"))
                                 .toUtf8();
    PGconn* otra = PQconnectdb(datos.constData());
    ASSERT_EQ(PQstatus(otra), CONNECTION_OK) << PQerrorMessage(otra);
    PQclear(PQexec(otra, "BEGIN"));
    PQclear(PQexec(otra, "LOCK TABLE ColaImpresion IN EXCLUSIVE MODE"));

    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Ajuste("Configuracion", "TiempoConsulta", "0");
    terminal.Iniciar();
    EXPECT_TRUE(Esperar(
        [&] {
            return Lista("SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND query LIKE "
                         "'%DELETE FROM ColaImpresion%'") == "1";
        },
        30));
    EXPECT_EQ(terminal.Detener(), 0) << terminal.Salida().toStdString();
    EXPECT_TRUE(terminal.Bitacora().contains("Apagando Servidor de Comunicaciones"))
        << terminal.Bitacora().toStdString();
    EXPECT_EQ(terminal.CapturaLpt(), ImpresoEpson("cinco"));

    PQclear(PQexec(otra, "COMMIT"));
    PQfinish(otra);
}
