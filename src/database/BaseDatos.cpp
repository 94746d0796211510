#include "database/BaseDatos.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/RepositorioCola.h"
#include "platform/Ajustes.h"
#include "platform/CajaMensajes.h"
#include "platform/Rutas.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"
#include "support/Estado.h"

#include <QDir>
#include <QFile>
#include <cmath>

namespace {

const QString kOrigen = QStringLiteral("Base de Datos");

// Error numbers for these situations; the callers and the event log tell a
// failure by its number.
constexpr qint64 kSinRegistroActual = -2146825267;
constexpr qint64 kElementoNoEncontrado = -2146825023;
constexpr qint64 kObjetoNoEstablecido = 91;
constexpr qint64 kUsoInvalidoDeNull = 94;
constexpr qint64 kDesbordamiento = 6;

} // namespace

Recordset::Recordset(QVector<QString> columnas, QVector<QVector<QVariant>> filas)
    : m_columnas(std::move(columnas)), m_filas(std::move(filas)) {}

QVariant Recordset::Campo(int posicion) const {
    if (Fin()) {
        throw ErrorEjecucion(kSinRegistroActual, QStringLiteral("Either BOF or EOF is True, or the current record has "
                                                                "been deleted. Requested operation requires a "
                                                                "current record."));
    }
    if (posicion < 0 || posicion >= m_columnas.size()) {
        throw ErrorEjecucion(kElementoNoEncontrado, QStringLiteral("Item cannot be found in the collection "
                                                                   "corresponding to the requested name or ordinal."));
    }
    return m_filas[m_actual][posicion];
}

QVariant Recordset::Campo(const QString& nombre) const {
    for (int i = 0; i < m_columnas.size(); ++i) {
        if (m_columnas[i].compare(nombre, Qt::CaseInsensitive) == 0) {
            return Campo(i);
        }
    }
    return Campo(-1);
}

namespace {

qint64 EnteroEnRango(const QVariant& valor, qint64 minimo, qint64 maximo) {
    if (valor.isNull()) {
        throw ErrorEjecucion(kUsoInvalidoDeNull, QStringLiteral("Invalid use of Null"));
    }
    bool ok = false;
    const double numero = valor.toString().trimmed().toDouble(&ok);
    // Not a number ("nan" parses) is no number at all: it has no integer.
    if (!ok || std::isnan(numero)) {
        throw ErrorEjecucion(ErrorEjecucion::kTiposNoCoinciden, QStringLiteral("Type mismatch"));
    }
    // Halves round to even.
    const double redondeado = std::nearbyint(numero);
    if (redondeado < double(minimo) || redondeado > double(maximo)) {
        throw ErrorEjecucion(kDesbordamiento, QStringLiteral("Overflow"));
    }
    return static_cast<qint64>(redondeado);
}

} // namespace

qint16 AEntero16(const QVariant& valor) {
    return static_cast<qint16>(EnteroEnRango(valor, -32768, 32767));
}

qint32 AEntero32(const QVariant& valor) {
    return static_cast<qint32>(EnteroEnRango(valor, -2147483648LL, 2147483647LL));
}

bool Conectar(int topeConexion) {
    NombreServidor =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), QStringLiteral("Servidor"), QString());
    if (NombreServidor.isEmpty()) {
        CajaMensajes::Mostrar({QStringLiteral("Error de instalación, no se encuentra la dirección del servidor, "
                                              "contacte a soporte"),
                               QString(), CajaMensajes::Icono::Error, 0});
    }
    Conexion& conexion = Conexion::Instancia();
    if (conexion.Abierta()) {
        conexion.Cerrar();
    }
    const QString base = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"),
                                       QStringLiteral("BASE_DE_DATOS"), QStringLiteral("DBORLAN"));
    auto segundos = [](const QString& clave, int omision) {
        bool ok = false;
        const int valor =
            Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), clave, QString::number(omision))
                .trimmed()
                .toInt(&ok);
        return ok && valor >= 0 ? valor : omision;
    };
    const int login = segundos(QStringLiteral("TiempoConexion"), 15);
    conexion.EstablecerTiempos(topeConexion > 0 && (login == 0 || login > topeConexion) ? topeConexion : login,
                               segundos(QStringLiteral("TiempoConsulta"), 30));
    static const ProveedorCredenciales proveedor;
    conexion.OlvidarErrores();
    const std::optional<QString> usuario = proveedor.ObtenerUsuario();
    if (!usuario) {
        return false;
    }
    const std::optional<QString> contrasena = proveedor.ObtenerContrasena();
    if (!contrasena) {
        return false;
    }
    // A server on a TCP port other than its driver's default: psqlODBC and
    // FreeTDS both take "port=" in the connection string.
    const QString puerto =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), QStringLiteral("Puerto")).trimmed();
    return conexion.Abrir(CadenaConexion(NombreServidor, base, *usuario, *contrasena, puerto));
}

QString ValorConexion(const QString& valor) {
    if (!valor.contains(u';') && !valor.contains(u'{') && !valor.contains(u'}') && valor.trimmed() == valor) {
        return valor;
    }
    return u'{' + QString(valor).replace(u'}', QStringLiteral("}}")) + u'}';
}

QString CadenaConexion(const QString& servidor, const QString& base, const QString& usuario, const QString& contrasena,
                       const QString& puerto) {
    return QStringLiteral("server=") + ValorConexion(servidor) + QStringLiteral(";driver={sql server};") +
           QStringLiteral("database=") + ValorConexion(base) + QStringLiteral(";uid=") + ValorConexion(usuario) +
           QStringLiteral(";pwd=") + ValorConexion(contrasena) + u';' +
           (puerto.isEmpty() ? QString() : QStringLiteral("port=") + ValorConexion(puerto) + u';');
}

QString ObtenerValor(const QString& campo, const QString& tabla, const QString& condicion) {
    QString sql = QStringLiteral("SELECT ") + campo + QStringLiteral(" FROM ") + tabla;
    if (!condicion.isEmpty()) {
        sql += QStringLiteral(" WHERE ") + condicion;
    }
    const std::unique_ptr<Recordset> rs = Conexion::Instancia().Consultar(sql);
    return rs->Fin() ? QString() : rs->Campo(0).toString();
}

bool Actualizar(const QString& tabla, const QString& asignaciones, const QString& condicion) {
    Conexion& conexion = Conexion::Instancia();
    try {
        const QString sql = QStringLiteral("UPDATE ") + tabla + QStringLiteral(" SET ") + asignaciones +
                            QStringLiteral(" WHERE ") + condicion;
        conexion.Ejecutar(sql);
        Registrar(sql);
        conexion.Ejecutar(QStringLiteral("INSERT INTO Transacciones(Transaccion) VALUES('") + DuplicarComillas(sql) +
                          QStringLiteral("')"));
        ReplicarTransaccion();
        return true;
    } catch (const ErrorEjecucion& e) {
        // The connection's records are read as they are: after a failure
        // that is not the database's own they still tell the last database
        // failure.
        RegistrarErroresBD(conexion.Errores());
        ManejarErrorBD(kOrigen, e.Numero(), e.Descripcion(), conexion.Errores());
        return false;
    }
}

std::unique_ptr<Recordset> AbrirConsulta(const QString& sql, int tipoCursor, int tipoBloqueo) {
    // Every snapshot is static and read-only here; the types are kept for the
    // callers that pass them.
    Q_UNUSED(tipoCursor);
    Q_UNUSED(tipoBloqueo);
    Conexion& conexion = Conexion::Instancia();
    try {
        return conexion.Consultar(sql);
    } catch (const ErrorEjecucion& e) {
        ManejarErrorBD(kOrigen, e.Numero(), e.Descripcion(), conexion.Errores());
        return nullptr;
    }
}

QString DuplicarComillas(const QString& texto) {
    QString salida = texto;
    salida.replace(u'\'', QStringLiteral("''"));
    return salida;
}

void ReplicarTransaccion() {
    auto abrir = [](const QString& sql) {
        std::unique_ptr<Recordset> rs = AbrirConsulta(sql, 3, 3);
        if (!rs) {
            throw ErrorEjecucion(kObjetoNoEstablecido,
                                 QStringLiteral("Object variable or With block variable not set"));
        }
        return rs;
    };
    const qint16 terminal =
        AEntero16(abrir(QStringLiteral("SELECT Valor_Num FROM Parametros WHERE ID_Parametro='TERMINAL'"))
                      ->Campo(QStringLiteral("Valor_Num")));
    const qint32 transaccion = AEntero32(
        abrir(QStringLiteral("SELECT MAX(ID_Transaccion) AS Tran FROM Transacciones"))->Campo(QStringLiteral("Tran")));
    const std::unique_ptr<Recordset> terminales =
        abrir(QStringLiteral("SELECT ID_Terminal FROM Terminal WHERE ID_Terminal<>") + QString::number(terminal));
    for (; !terminales->Fin(); terminales->MoveNext()) {
        // Another program may have written the row: only a terminal number
        // enters the statement.
        const QVariant valor = terminales->Campo(QStringLiteral("Id_Terminal"));
        const std::optional<qint64> numero = EnteroProbado(valor, -32768, 32767);
        if (!numero) {
            Registrar(QStringLiteral("Replicacion, fila no valida en Terminal ('%1'): no es un numero de terminal; "
                                     "se omite")
                          .arg(TextoAcotado(valor.toString(), 40)));
            continue;
        }
        Conexion::Instancia().Ejecutar(QStringLiteral("INSERT INTO TransaccionesXTerminal VALUES(") +
                                       QString::number(transaccion) + u',' + QString::number(*numero) + u')');
    }
}

void ManejarErrorBD(const QString& origen, qint64 numero, const QString& descripcion, const ErroresProveedor& errores) {
    QDir().mkpath(Rutas::RaizUnidad());
    QFile traza(Rutas::Local(QStringLiteral("C:\\TT.LOG")));
    if (traza.open(QIODevice::WriteOnly | QIODevice::Append)) {
        traza.write((origen + u'-' + descripcion + QStringLiteral("\r\n")).toUtf8());
        traza.close();
    }

    const QString estado = errores.isEmpty() ? QString() : errores.first().sqlState;
    QString linea;
    CajaMensajes::Mensaje mensaje;
    if (numero == ErrorEjecucion::kErrorBaseDatos) {
        if (estado == QLatin1String("08S01") || estado == QLatin1String("37000") || estado == QLatin1String("01000")) {
            linea = QStringLiteral("A ocurrido un error y es necesario reiniciar");
        } else if (estado == QLatin1String("42000")) {
            linea = QStringLiteral("No se tiene acceso a la Base de Datos contactar a soporte");
            mensaje = {linea, origen, CajaMensajes::Icono::Error, 0};
        } else if (estado == QLatin1String("S1000")) {
            linea = QStringLiteral("BDME ") + errores.first().descripcion;
            mensaje = {linea, QString(), CajaMensajes::Icono::Ninguno, 0};
        } else {
            linea = QStringLiteral("BDME") + QString::number(numero) + u' ' + descripcion +
                    QStringLiteral(" SQLSTATE ") + estado;
            mensaje = {linea, QString(), CajaMensajes::Icono::Ninguno, 0};
        }
    } else if (numero == ErrorEjecucion::kErrorIntegridad) {
        linea = QStringLiteral("No es posible duplicar registros");
    } else {
        linea = QString::number(numero) + u' ' + descripcion;
    }
    // The log line goes first, so that it is on disk while a box waits for
    // the operator.
    Registrar(linea);
    if (!mensaje.texto.isEmpty()) {
        CajaMensajes::Mostrar(mensaje);
    }
}
