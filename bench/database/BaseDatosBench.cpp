#include "Figura.h"
#include "TerminalBench.h"
#include "database/BaseDatos.h"
#include "testsupport/ServidorPostgres.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <sql.h>
#include <sqlext.h>

// The select a queue tick runs first: on an empty queue it is the whole tick.
static const char kConsultaTrabajos[] =
    "SELECT C.IdTrabajo, C.Tipo, C.Usuario, C.id_impresora, I.Redirigido FROM ColaImpresion C "
    "INNER JOIN Impresora I ON C.id_impresora = I.Id_Impresora WHERE C.Escribiendo = 0 AND I.Redirigido IN "
    "(SELECT Id_Impresora FROM Impresora WHERE ID_Terminal = 1 AND esdecheques = 0) ORDER BY C.IdTrabajo";

namespace {

// The same select through a statement prepared once with bound columns: the
// leanest use of the driver, as a reference for the layer's own cost.
double MicrosegundosPreparada(const QString& cadena, int vueltas) {
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    QByteArray c = cadena.toUtf8();
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(c.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT))) {
        return -1;
    }
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kConsultaTrabajos)), SQL_NTS);
    SQLINTEGER id = 0;
    SQLLEN indicador = 0;
    SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &indicador);
    QElapsedTimer reloj;
    reloj.start();
    for (int i = 0; i < vueltas; ++i) {
        SQLExecute(stmt);
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
    }
    const double us = reloj.nsecsElapsed() / 1000.0 / vueltas;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return us;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TerminalBench terminal(*MotorPorNombre(ORLAN_BENCH_MOTOR), 1);
    if (!terminal.Preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(terminal.Error()));
        return 1;
    }
    Conexion& conexion = Conexion::Instancia();
    conexion.Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
    for (int i = 1; i <= 4; ++i) {
        conexion.Ejecutar(QString("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Redirigido) "
                                  "VALUES (%1, 1, 'LPT%1', %1)")
                              .arg(i));
    }

    const int vueltas = 2000;
    for (int i = 0; i < 100; ++i) {
        conexion.Consultar(kConsultaTrabajos);
    }
    QElapsedTimer reloj;
    reloj.start();
    for (int i = 0; i < vueltas; ++i) {
        conexion.Consultar(kConsultaTrabajos);
    }
    const double nuestro = reloj.nsecsElapsed() / 1000.0 / vueltas;
    const QString cadena = "server=" + terminal.Servidor() + ";driver={sql server};database=" + terminal.BaseDatos() +
                           ";uid=" + ServidorPostgres::kUsuario + ";pwd=" + ServidorPostgres::kContrasena + ";";
    MicrosegundosPreparada(cadena, 100);
    const double preparada = MicrosegundosPreparada(cadena, vueltas);
    ImprimirFigura("empty-queue job select (" ORLAN_BENCH_MOTOR ")", nuestro, "us",
                   "same select, prepared ODBC statement", preparada, "us", MenosEsMejor::Si);
    return 0;
}
