#include "database/BaseDatos.h"
#include "database/Vigilante.h"
#include "platform/SocketsProceso.h"
#include "support/ErrorEjecucion.h"

#include <chrono>
#include <mutex>
#include <sql.h>
#include <sqlext.h>
#include <utility>
#include <vector>

// The connection runs on unixODBC's narrow calls with UTF-8 text: every
// backend is set to UTF-8 (SQLite natively, psqlODBC's ANSI library with
// client_encoding UTF8, FreeTDS with "client charset = UTF-8"). The wide calls
// are avoided on purpose: the driver manager's conversion of them for a narrow
// driver is not UTF-8 and turns "Contraseña" into an unknown column.
//
// The environment asks for ODBC 2 behaviour so that drivers report the
// SQLSTATEs the error handler is keyed on: "S1000" for a general error and
// "37000" for a syntax error, apart from "42000" for an access violation.
//
// Time-outs: every driver is given the login time-out and each statement the
// query time-out, but a driver blocked in a read on a server that stopped
// answering without closing the connection does not always honour them
// (psqlODBC honours the login time-out and only sends the query time-out to
// the server as statement_timeout, which a stopped server never applies; its
// SQLCancel goes to the same stopped server). So a watchdog thread guards
// every call: when a call outlives its time-out by a short grace, the
// connection's sockets are shut down under the driver, the blocked read
// returns, and the call fails as a lost connection.

namespace {

// Seconds of silence after which a TCP connection to the database is probed;
// twice that unacknowledged closes it.
constexpr int kVigilanciaEnlace = 4;

const QString kErrorSinRegistros = QStringLiteral("Error desconocido de la base de datos");

ErroresProveedor LeerDiagnosticos(SQLSMALLINT tipo, SQLHANDLE handle) {
    ErroresProveedor errores;
    if (handle == SQL_NULL_HANDLE) {
        return errores;
    }
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR estado[6] = {};
        SQLINTEGER nativo = 0;
        SQLCHAR texto[1024];
        SQLSMALLINT largo = 0;
        const SQLRETURN r = SQLGetDiagRec(tipo, handle, i, estado, &nativo, texto, sizeof texto, &largo);
        if (r != SQL_SUCCESS && r != SQL_SUCCESS_WITH_INFO) {
            break;
        }
        largo = std::min<SQLSMALLINT>(largo, sizeof texto - 1);
        errores.append({QString::fromLatin1(reinterpret_cast<const char*>(estado), 5), nativo,
                        QString::fromUtf8(reinterpret_cast<const char*>(texto), largo)});
    }
    return errores;
}

bool Exito(SQLRETURN r) {
    return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO;
}

// Integer columns come back as numbers (ids are compared and converted by the
// callers), the rest as text.
bool EsEntero(SQLSMALLINT tipo, SQLSMALLINT decimales) {
    switch (tipo) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT:
        return true;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return decimales == 0;
    default:
        return false;
    }
}

bool EsBinario(SQLSMALLINT tipo) {
    return tipo == SQL_BINARY || tipo == SQL_VARBINARY || tipo == SQL_LONGVARBINARY;
}

bool EsValorEntero(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

bool EsReal(SQLSMALLINT tipo) {
    return tipo == SQL_NUMERIC || tipo == SQL_DECIMAL || tipo == SQL_FLOAT || tipo == SQL_REAL || tipo == SQL_DOUBLE;
}

} // namespace

struct Conexion::Privado {
    SQLHENV entorno = SQL_NULL_HANDLE;
    SQLHDBC dbc = SQL_NULL_HANDLE;
    bool abierta = false;
    bool sqlite = false; // the SQLite3 driver, whose constraint errors need mapping
    ErroresProveedor errores;
    QByteArray buffer = QByteArray(4096, Qt::Uninitialized);
    int tiempoConexion = 15; // seconds; 0 waits for ever
    int tiempoConsulta = 30;
    QList<SocketsProceso::Socket> sockets; // the open connection's own
    Vigilante vigilante;
    QString cadena;
    QString controlador;
    // The statement being run, for Interrumpir from another thread; the lock
    // keeps it from being freed while it is cancelled.
    std::mutex mutexEnCurso;
    SQLHSTMT enCurso = SQL_NULL_HANDLE;
    bool interrumpida = false; // a statement was cancelled: every later one fails
    bool terminando = false;   // the program ends: later statements get a short time limit
    qint64 sentencias = 0;

    void Liberar(SQLHSTMT stmt) {
        {
            std::lock_guard bloqueo(mutexEnCurso);
            if (enCurso == stmt) {
                enCurso = SQL_NULL_HANDLE;
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }

    // Watches one call on the open connection for its whole length, the
    // handling of its failure included.
    struct Vigilia {
        Privado& p;
        explicit Vigilia(Privado& privado) : p(privado) {
            if (p.tiempoConsulta > 0 && !p.sockets.isEmpty()) {
                p.vigilante.Armar(std::chrono::seconds(p.tiempoConsulta), p.sockets);
            }
        }
        ~Vigilia() { p.vigilante.Desarmar(); }
    };

    // Raises the failure of a call on a statement (or, without one, on the
    // connection), keeping every diagnostic record.
    [[noreturn]] void Fallar(SQLSMALLINT tipo, SQLHANDLE handle) {
        errores = LeerDiagnosticos(tipo, handle);
        if (tipo == SQL_HANDLE_STMT) {
            Liberar(handle);
        }
        if (vigilante.Disparado()) {
            // The server kept the connection but stopped answering: for the
            // error handler and the reconnection it is a lost link.
            const QString texto =
                QStringLiteral("Tiempo de espera agotado, la base de datos no respondio en %1 s").arg(tiempoConsulta);
            errores.prepend({QStringLiteral("HYT00"), 0, texto});
            errores.prepend({QStringLiteral("08S01"), 0, QStringLiteral("Communication link failure")});
            throw ErrorEjecucion(ErrorEjecucion::kErrorBaseDatos, texto, errores);
        }
        // SQLite reports a constraint violation as a general error with its
        // own code SQLITE_CONSTRAINT (19); it is an integrity violation.
        if (sqlite && !errores.isEmpty() && errores.first().nativo == 19) {
            errores.first().sqlState = QStringLiteral("23000");
        }
        // A lost connection is "08S01" to the error handler whatever the driver
        // says (psqlODBC repeats the server's last state, e.g. "57P01", or
        // gives "S1000"); the driver's own records follow.
        if (tipo == SQL_HANDLE_STMT &&
            (errores.isEmpty() || !errores.first().sqlState.startsWith(QLatin1String("08"))) && ConexionPerdida()) {
            errores.prepend({QStringLiteral("08S01"), 0, QStringLiteral("Communication link failure")});
        }
        const bool integridad = !errores.isEmpty() && errores.first().sqlState.startsWith(QStringLiteral("23"));
        const QString descripcion = errores.isEmpty() ? kErrorSinRegistros : errores.first().descripcion;
        throw ErrorEjecucion(integridad ? ErrorEjecucion::kErrorIntegridad : ErrorEjecucion::kErrorBaseDatos,
                             descripcion, errores);
    }

    // Asked only after a failure: whether the connection still answers.
    bool ConexionPerdida() {
        SQLUINTEGER muerta = SQL_CD_FALSE;
        if (Exito(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &muerta, 0, nullptr)) && muerta == SQL_CD_TRUE) {
            return true;
        }
        SQLHSTMT prueba = SQL_NULL_HANDLE;
        if (!Exito(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &prueba))) {
            return true;
        }
        char sql[] = "SELECT 1";
        const bool responde = Exito(SQLExecDirect(prueba, reinterpret_cast<SQLCHAR*>(sql), SQL_NTS));
        SQLFreeHandle(SQL_HANDLE_STMT, prueba);
        return !responde;
    }

    // The bound values of one statement: they must outlive its execution.
    struct Enlaces {
        std::vector<QByteArray> textos;
        std::vector<qint64> enteros;
        std::vector<SQLLEN> indicadores;
    };

    // Binds `parametros` to the statement's markers; a value the driver
    // refuses fails the statement.
    void Enlazar(SQLHSTMT stmt, const QVector<QVariant>& parametros, Enlaces& enlaces) {
        const auto n = static_cast<std::size_t>(parametros.size());
        enlaces.textos.resize(n);
        enlaces.enteros.resize(n);
        enlaces.indicadores.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const QVariant& v = parametros[static_cast<qsizetype>(i)];
            const auto numero = static_cast<SQLUSMALLINT>(i + 1);
            SQLLEN& indicador = enlaces.indicadores[i];
            SQLRETURN r;
            if (v.isNull()) {
                indicador = SQL_NULL_DATA;
                r = SQLBindParameter(stmt, numero, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0,
                                     &indicador);
            } else if (EsValorEntero(v)) {
                enlaces.enteros[i] = v.toLongLong();
                indicador = 0;
                r = SQLBindParameter(stmt, numero, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                     &enlaces.enteros[i], 0, &indicador);
            } else {
                QByteArray& texto = enlaces.textos[i];
                texto = v.toString().toUtf8();
                indicador = texto.size();
                // Long text goes as a long type: some drivers cut a VARCHAR
                // parameter at their own limit.
                const SQLSMALLINT tipo = texto.size() > 4000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
                r = SQLBindParameter(stmt, numero, SQL_PARAM_INPUT, SQL_C_CHAR, tipo,
                                     static_cast<SQLULEN>(std::max<qsizetype>(1, texto.size())), 0, texto.data(),
                                     texto.size(), &indicador);
            }
            if (!Exito(r)) {
                Fallar(SQL_HANDLE_STMT, stmt);
            }
        }
    }

    SQLHSTMT EjecutarDirecto(const QString& sql, const QVector<QVariant>& parametros = {}) {
        if (!abierta) {
            errores = {{QStringLiteral("08003"), 0, QStringLiteral("La conexion no esta abierta")}};
            throw ErrorEjecucion(ErrorEjecucion::kErrorBaseDatos, errores.first().descripcion, errores);
        }
        SQLHSTMT stmt = SQL_NULL_HANDLE;
        if (!Exito(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
            Fallar(SQL_HANDLE_DBC, dbc);
        }
        if (tiempoConsulta > 0) {
            // Honoured by FreeTDS on the client, by psqlODBC on a server that
            // still answers; the watchdog covers the rest.
            SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(tiempoConsulta)), 0);
        }
        {
            std::lock_guard bloqueo(mutexEnCurso);
            if (interrumpida) {
                SQLFreeHandle(SQL_HANDLE_STMT, stmt);
                errores = {{QStringLiteral("HY008"), 0, QStringLiteral("Operacion cancelada, el programa termina")}};
                throw ErrorEjecucion(ErrorEjecucion::kErrorBaseDatos, errores.first().descripcion, errores);
            }
            if (terminando) {
                // The statements that finish the job in hand (deleting a
                // printed job) still run, but none may hold the stop for long.
                SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
            }
            enCurso = stmt;
        }
        Enlaces enlaces;
        Enlazar(stmt, parametros, enlaces);
        ++sentencias;
        QByteArray texto = sql.toUtf8();
        const SQLRETURN r =
            SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(texto.data()), static_cast<SQLINTEGER>(texto.size()));
        if (!Exito(r) && r != SQL_NO_DATA) {
            Fallar(SQL_HANDLE_STMT, stmt);
        }
        return stmt;
    }

    // One field as text (SQL_C_CHAR) or as bytes (SQL_C_BINARY); false for
    // NULL. Long values arrive in pieces, text ones each with its terminating
    // zero.
    bool LeerCampo(SQLHSTMT stmt, SQLUSMALLINT columna, SQLSMALLINT tipoC, QByteArray& valor) {
        valor.clear();
        const qsizetype disponible = buffer.size() - (tipoC == SQL_C_CHAR ? 1 : 0);
        for (;;) {
            SQLLEN indicador = 0;
            const SQLRETURN r = SQLGetData(stmt, columna, tipoC, buffer.data(), buffer.size(), &indicador);
            if (r == SQL_NO_DATA) {
                return true;
            }
            if (!Exito(r)) {
                Fallar(SQL_HANDLE_STMT, stmt);
            }
            if (indicador == SQL_NULL_DATA) {
                return false;
            }
            if (r == SQL_SUCCESS || (indicador != SQL_NO_TOTAL && indicador <= disponible)) {
                valor.append(buffer.constData(), indicador == SQL_NO_TOTAL ? disponible : qsizetype(indicador));
                return true;
            }
            valor.append(buffer.constData(), disponible);
        }
    }
};

Conexion::Conexion() : d(std::make_unique<Privado>()) {}

Conexion::~Conexion() {
    Cerrar();
    if (d->dbc != SQL_NULL_HANDLE) {
        SQLFreeHandle(SQL_HANDLE_DBC, d->dbc);
    }
    if (d->entorno != SQL_NULL_HANDLE) {
        SQLFreeHandle(SQL_HANDLE_ENV, d->entorno);
    }
}

Conexion& Conexion::Instancia() {
    static Conexion conexion;
    return conexion;
}

bool Conexion::Abierta() const {
    return d->abierta;
}

const ErroresProveedor& Conexion::Errores() const {
    return d->errores;
}

void Conexion::OlvidarErrores() {
    d->errores.clear();
}

void Conexion::EstablecerTiempos(int conexionSegundos, int consultaSegundos) {
    d->tiempoConexion = std::max(0, conexionSegundos);
    d->tiempoConsulta = std::max(0, consultaSegundos);
}

QVariant ValorCampo(const QByteArray& valor, char clase) {
    bool ok = false;
    if (clase == 'e') {
        const qlonglong n = valor.toLongLong(&ok);
        if (ok) {
            return n;
        }
    } else if (clase == 'r') {
        const double n = valor.toDouble(&ok);
        if (ok) {
            return n;
        }
    }
    return QString::fromUtf8(valor);
}

bool Conexion::Abrir(const QString& cadena) {
    d->errores.clear();
    if (d->entorno == SQL_NULL_HANDLE) {
        if (!Exito(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &d->entorno))) {
            d->errores = {{QStringLiteral("IM004"), 0, QStringLiteral("No se pudo iniciar el administrador ODBC")}};
            return false;
        }
        SQLSetEnvAttr(d->entorno, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
    }
    if (d->dbc == SQL_NULL_HANDLE && !Exito(SQLAllocHandle(SQL_HANDLE_DBC, d->entorno, &d->dbc))) {
        d->errores = LeerDiagnosticos(SQL_HANDLE_ENV, d->entorno);
        return false;
    }
    Cerrar();
    SQLSetConnectAttr(d->dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(d->tiempoConexion)), 0);
    SQLSetConnectAttr(d->dbc, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(d->tiempoConsulta)), 0);
    const QList<SocketsProceso::Socket> antes = SocketsProceso::Abiertos();
    if (d->tiempoConexion > 0) {
        d->vigilante.Armar(std::chrono::seconds(d->tiempoConexion), {});
    }
    QByteArray texto = cadena.toUtf8();
    SQLCHAR salida[1024];
    SQLSMALLINT largoSalida = 0;
    const SQLRETURN r = SQLDriverConnect(d->dbc, nullptr, reinterpret_cast<SQLCHAR*>(texto.data()),
                                         static_cast<SQLSMALLINT>(texto.size()), salida, sizeof salida, &largoSalida,
                                         SQL_DRIVER_NOPROMPT);
    const bool vencido = d->vigilante.Desarmar();
    if (!Exito(r) || vencido) {
        d->errores = LeerDiagnosticos(SQL_HANDLE_DBC, d->dbc);
        if (vencido) {
            d->errores.prepend({QStringLiteral("HYT00"), 0,
                                QStringLiteral("Tiempo de espera agotado, la base de datos no respondio al conectar "
                                               "en %1 s")
                                    .arg(d->tiempoConexion)});
            if (Exito(r)) {
                SQLDisconnect(d->dbc);
            }
        }
        return false;
    }
    // The sockets that appeared during the login are the connection's. A
    // link that drops under them is noticed within seconds (a statement in
    // flight fails, the tick reconnects) instead of when the watchdog or
    // the system's retransmissions give up.
    d->sockets.clear();
    for (const SocketsProceso::Socket& s : SocketsProceso::Abiertos()) {
        if (!antes.contains(s)) {
            d->sockets.append(s);
            SocketsProceso::VigilarEnlace(s, kVigilanciaEnlace);
        }
    }
    d->abierta = true;
    d->cadena = cadena;
    SQLCHAR driver[128] = {};
    SQLSMALLINT largoDriver = 0;
    SQLGetInfo(d->dbc, SQL_DRIVER_NAME, driver, sizeof driver, &largoDriver);
    d->controlador = QString::fromUtf8(reinterpret_cast<const char*>(driver));
    d->sqlite = d->controlador.contains(QLatin1String("sqlite"));
    if (EsPostgres()) {
        // With standard_conforming_strings off a backslash escapes the next
        // character inside '...', so "\'" ends a literal whose quotes were
        // doubled. On, backslashes are plain characters and doubling quotes
        // is enough for the statements whose text is fixed.
        try {
            Ejecutar(QStringLiteral("SET standard_conforming_strings = on"));
        } catch (const ErrorEjecucion&) {
            Cerrar();
            return false;
        }
    }
    return true;
}

void Conexion::Cerrar() {
    if (d->abierta) {
        SQLDisconnect(d->dbc);
        d->abierta = false;
        d->sockets.clear();
    }
}

QString Conexion::Cadena() const {
    return d->abierta ? d->cadena : QString();
}

QString Conexion::Controlador() const {
    return d->abierta ? d->controlador : QString();
}

bool Conexion::EsPostgres() const {
    return d->abierta && d->controlador.contains(QLatin1String("psqlodbc"), Qt::CaseInsensitive);
}

QString Conexion::TextoEntero(const QString& expresion) const {
    // The SQLite driver hands text over as a C string, which ends at the
    // first NUL byte, but a BLOB whole; its bytes are the text's UTF-8.
    return d->sqlite ? QStringLiteral("CAST(") + expresion + QStringLiteral(" AS BLOB)") : expresion;
}

void Conexion::Interrumpir() {
    std::lock_guard bloqueo(d->mutexEnCurso);
    d->terminando = true;
    if (d->enCurso != SQL_NULL_HANDLE) {
        // A statement holds the tick: it fails, and so does every later one.
        // Between statements (a job being printed, say) the job in hand is
        // finished, so that a printed job is deleted and not printed again.
        d->interrumpida = true;
        SQLCancel(d->enCurso);
    }
}

qint64 Conexion::Sentencias() const {
    return d->sentencias;
}

qint64 Conexion::Ejecutar(const QString& sql) {
    return Ejecutar(sql, {});
}

qint64 Conexion::Ejecutar(const QString& sql, const QVector<QVariant>& parametros) {
    Privado::Vigilia vigilia(*d);
    SQLHSTMT stmt = d->EjecutarDirecto(sql, parametros);
    SQLLEN filas = 0;
    if (!Exito(SQLRowCount(stmt, &filas)) || filas < 0) {
        filas = 0;
    }
    d->Liberar(stmt);
    return filas;
}

std::unique_ptr<Recordset> Conexion::Consultar(const QString& sql) {
    return Consultar(sql, {});
}

std::unique_ptr<Recordset> Conexion::Consultar(const QString& sql, const QVector<QVariant>& parametros) {
    Privado::Vigilia vigilia(*d);
    SQLHSTMT stmt = d->EjecutarDirecto(sql, parametros);
    SQLSMALLINT numero = 0;
    if (!Exito(SQLNumResultCols(stmt, &numero))) {
        d->Fallar(SQL_HANDLE_STMT, stmt);
    }
    QVector<QString> columnas;
    QVector<char> clases; // 'e' integer, 'r' real, 'b' bytes of text, 't' text
    columnas.reserve(numero);
    for (SQLUSMALLINT c = 1; c <= numero; ++c) {
        SQLCHAR nombre[256];
        SQLSMALLINT largo = 0, tipo = 0, decimales = 0, anulable = 0;
        SQLULEN tamano = 0;
        if (!Exito(SQLDescribeCol(stmt, c, nombre, sizeof nombre, &largo, &tipo, &tamano, &decimales, &anulable))) {
            d->Fallar(SQL_HANDLE_STMT, stmt);
        }
        largo = std::min<SQLSMALLINT>(largo, sizeof nombre - 1);
        columnas.append(QString::fromUtf8(reinterpret_cast<const char*>(nombre), largo));
        clases.append(EsEntero(tipo, decimales) ? 'e' : EsReal(tipo) ? 'r' : EsBinario(tipo) ? 'b' : 't');
    }
    QVector<QVector<QVariant>> filas;
    QByteArray valor;
    while (numero > 0) {
        const SQLRETURN r = SQLFetch(stmt);
        if (r == SQL_NO_DATA) {
            break;
        }
        if (!Exito(r)) {
            d->Fallar(SQL_HANDLE_STMT, stmt);
        }
        QVector<QVariant> fila;
        fila.reserve(numero);
        for (SQLUSMALLINT c = 1; c <= numero; ++c) {
            if (!d->LeerCampo(stmt, c, clases[c - 1] == 'b' ? SQL_C_BINARY : SQL_C_CHAR, valor)) {
                fila.append(QVariant());
                continue;
            }
            fila.append(ValorCampo(valor, clases[c - 1]));
        }
        filas.append(std::move(fila));
    }
    d->Liberar(stmt);
    return std::make_unique<Recordset>(std::move(columnas), std::move(filas));
}
