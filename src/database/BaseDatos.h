#pragma once

#include "support/ErrorProveedor.h"

#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

// The database layer: the one process-wide connection `Conexion`, opened by
// Conectar() through unixODBC with the connection string
// "server=...;driver={sql server};database=...;uid=...;pwd=...;", and the few
// generic statements the server runs on it.
//
// Routines without a failure path of their own (ObtenerValor, Ejecutar,
// ReplicarTransaccion) throw ErrorEjecucion to their caller; Actualizar and
// AbrirConsulta handle failures themselves through ManejarErrorBD.

// A fully fetched snapshot of a result (the static cursor): row count, end
// test, move next, fields by name (without regard to case) or position.
// Integer columns hold qlonglong values, other numeric columns double, the
// rest QString.
class Recordset {
public:
    Recordset(QVector<QString> columnas, QVector<QVector<QVariant>> filas);

    int RecordCount() const { return static_cast<int>(m_filas.size()); }
    bool Fin() const { return m_actual >= m_filas.size(); }
    void MoveNext() { ++m_actual; }
    void MoveFirst() { m_actual = 0; }

    // The current row's value: a null QVariant for NULL. An unknown name or a
    // position out of range throws ErrorEjecucion (item not found).
    QVariant Campo(const QString& nombre) const;
    QVariant Campo(int posicion) const;
    // The value as text, NULL as the empty text.
    QString Texto(const QString& nombre) const { return Campo(nombre).toString(); }

    const QVector<QString>& Columnas() const { return m_columnas; }

private:
    QVector<QString> m_columnas;
    QVector<QVector<QVariant>> m_filas;
    qsizetype m_actual = 0;
};

// A fetched field's text as a Recordset holds it: from an integer column
// ('e') a qlonglong, from a real column ('r') a double, and as UTF-8 text from
// any other column or when the number does not parse.
QVariant ValorCampo(const QByteArray& valor, char clase);

// The one connection. Stateful (open or closed); keeps the driver's diagnostic
// records of its last failure, as ADO's Errors collection did.
//
// Narrow ODBC calls carrying UTF-8, with ODBC 2 SQLSTATEs ("S1000", "37000")
// as the error handler expects. Two driver quirks are evened out: SQLite's
// constraint error (native 19) gets SQLSTATE "23000", and a statement that
// fails because the connection is gone gets a leading "08S01" record
// ("Communication link failure") ahead of the driver's own records.
class Conexion {
public:
    static Conexion& Instancia();

    bool Abierta() const;
    // The login time-out and the time-out of each statement, in seconds (0:
    // none), for the next Abrir. A call that outlives its time-out fails: a
    // login with a leading "HYT00" record, a statement as a lost connection
    // ("08S01", then "HYT00"), even when the driver itself would wait on.
    void EstablecerTiempos(int conexionSegundos, int consultaSegundos);
    // Opens with a connection string; false (records in Errores()) on failure.
    bool Abrir(const QString& cadena);
    void Cerrar();

    // Failures throw ErrorEjecucion carrying -2147217900 when the first record's
    // SQLSTATE starts with "23" (integrity violation), else -2147467259, the
    // first record's text as description, and every record.
    //
    // Runs a statement that returns no rows; throws ErrorEjecucion on failure.
    // Returns how many rows it inserted, changed or deleted (0 when the driver
    // cannot tell).
    qint64 Ejecutar(const QString& sql);
    // Runs a select and fetches every row; throws ErrorEjecucion on failure.
    std::unique_ptr<Recordset> Consultar(const QString& sql);

    // The same with values bound to the statement's "?" markers, in order
    // (SQLBindParameter): the values never become statement text, so no
    // quote or backslash in them can end a literal. A null QVariant binds
    // NULL, an integer (or bool) binds a 64-bit integer, anything else binds
    // its text.
    qint64 Ejecutar(const QString& sql, const QVector<QVariant>& parametros);
    std::unique_ptr<Recordset> Consultar(const QString& sql, const QVector<QVariant>& parametros);

    // The statements sent since the program started, for the measurements.
    qint64 Sentencias() const;

    // The diagnostic records of the last failure.
    const ErroresProveedor& Errores() const;
    // Forgets them: a connection that is not even tried (its credentials
    // could not be read) leaves no records of an earlier attempt behind.
    void OlvidarErrores();

    // Of the open connection: the string it was opened with, and the file
    // name of the ODBC driver that serves it ("psqlodbca.so", ...).
    QString Cadena() const;
    QString Controlador() const;
    // Whether the open connection is served by psqlODBC (PostgreSQL).
    bool EsPostgres() const;
    // `expresion`, a text value, as a select-list item that reads back whole,
    // NUL bytes included, on the open connection's backend. A binary column
    // is read as the bytes of UTF-8 text.
    QString TextoEntero(const QString& expresion) const;
    // For a program that is ending, from any thread: cancels the statement in
    // flight, which then fails, and fails every later one at once. With none
    // in flight, later statements run with a time limit of one second.
    void Interrumpir();

    ~Conexion();

private:
    Conexion();
    struct Privado;
    std::unique_ptr<Privado> d;
};

// Composes the connection string from the settings and the credentials and
// (re)opens the connection, with the time-outs of settings "TiempoConexion"
// (login, default 15 s) and "TiempoConsulta" (each statement, default 30 s).
// A setting "Puerto" adds "port=N;" for a server off its default port.
// Any failure: false, nothing logged (ExplicarFalloConexion tells why).
// With `topeConexion` (seconds, not 0) the login gives up after at most that.
bool Conectar(int topeConexion = 0);

// A value of an ODBC connection string: in braces, a "}" inside doubled,
// when it holds ";", "{" or "}" or starts or ends with blanks, so that it
// can neither end early nor add attributes of its own; any other value as it
// is.
QString ValorConexion(const QString& valor);
// The string Conectar opens: "server=...;driver={sql server};database=...;
// uid=...;pwd=...;" and "port=...;" when `puerto` is not empty.
QString CadenaConexion(const QString& servidor, const QString& base, const QString& usuario, const QString& contrasena,
                       const QString& puerto);

// "SELECT campo FROM tabla [WHERE condicion]": first column of the first row
// as text, NULL and no row as "". Failures throw ErrorEjecucion.
QString ObtenerValor(const QString& campo, const QString& tabla, const QString& condicion);

// "UPDATE tabla SET asignaciones WHERE condicion", logged, stored in
// Transacciones and replicated to the other terminals. False after
// RegistrarErroresBD and ManejarErrorBD on any failure.
bool Actualizar(const QString& tabla, const QString& asignaciones, const QString& condicion);

// Opens a snapshot; on failure calls ManejarErrorBD and returns null. Every
// snapshot is static and read-only; the cursor and lock types are accepted for
// the callers that name them.
std::unique_ptr<Recordset> AbrirConsulta(const QString& sql, int tipoCursor = 3, int tipoBloqueo = 3);

QString DuplicarComillas(const QString& texto);

// Replicates the newest Transacciones row to every other terminal listed in
// Terminal. Failures throw ErrorEjecucion to the caller (Actualizar).
void ReplicarTransaccion();

// A field's value as a 16-bit or 32-bit integer, halves rounded to even.
// NULL, text that is not a number and a value out of range throw
// ErrorEjecucion: 94 invalid use of Null, 13 type mismatch, 6 overflow.
qint16 AEntero16(const QVariant& valor);
qint32 AEntero32(const QVariant& valor);

// The one database-failure handler: a line in C:\TT.LOG, then the message and
// event-log line chosen by the error number and the first record's SQLSTATE.
void ManejarErrorBD(const QString& origen, qint64 numero, const QString& descripcion, const ErroresProveedor& errores);
