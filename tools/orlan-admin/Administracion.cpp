#include "Administracion.h"
#include "Transaccion.h"

#include "credentials/ProveedorCredenciales.h"
#include "crypto/clsDES.h"
#include "database/AccionesCola.h"
#include "database/BaseDatos.h"
#include "database/ColumnaOpcional.h"
#include "database/Esquema.h"
#include "database/FalloConexion.h"
#include "database/RepositorioCola.h"
#include "platform/Ajustes.h"
#include "platform/Consola.h"
#include "ports/NombrePuerto.h"
#include "printer/ctlImpresora.h"
#include "support/ErrorEjecucion.h"

#include <QScopeGuard>
#include <algorithm>
#include <optional>

namespace {

void MostrarError(const ErrorEjecucion& e, QTextStream& errores) {
    errores << "orlan-admin: " << e.Descripcion() << Qt::endl;
    for (const ErrorProveedor& p : e.Errores()) {
        errores << "  SQLSTATE " << p.sqlState << " (" << p.nativo << "): " << p.descripcion << Qt::endl;
    }
}

bool Conectado(QTextStream& errores) {
    if (Conectar()) {
        return true;
    }
    errores << "orlan-admin: no se pudo abrir la base de datos: " << ExplicarFalloConexion() << Qt::endl;
    for (const ErrorProveedor& p : Conexion::Instancia().Errores()) {
        errores << "  SQLSTATE " << p.sqlState << " (" << p.nativo << "): " << p.descripcion << Qt::endl;
    }
    return false;
}

// Runs `trabajo` on an open connection; database failures become exit status 2.
template <typename F> int EnBaseDatos(QTextStream& errores, F&& trabajo) {
    if (!Conectado(errores)) {
        return 2;
    }
    try {
        return trabajo(Conexion::Instancia());
    } catch (const ErrorEjecucion& e) {
        MostrarError(e, errores);
        return 2;
    }
}

// The first column of the first row of a select whose values are bound to its
// markers, as text; NULL and no row as "".
QString Valor(const QString& sql, const QVector<QVariant>& valores) {
    const auto filas = Conexion::Instancia().Consultar(sql, valores);
    return filas->Fin() ? QString() : filas->Campo(0).toString();
}

void ImprimirFilas(Recordset& filas, QTextStream& salida) {
    salida << filas.Columnas().join(u'\t') << Qt::endl;
    for (filas.MoveFirst(); !filas.Fin(); filas.MoveNext()) {
        QStringList celdas;
        for (int i = 0; i < filas.Columnas().size(); ++i) {
            const QVariant v = filas.Campo(i);
            celdas << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        }
        salida << celdas.join(u'\t') << Qt::endl;
    }
}

// Whether a row of `tabla` has `valor` in `columna` (both names are ours).
bool Existe(const QString& tabla, const QString& columna, const QVariant& valor) {
    return Valor(QStringLiteral("SELECT COUNT(*) FROM ") + tabla + QStringLiteral(" WHERE ") + columna +
                     QStringLiteral(" = ?"),
                 {valor})
               .toInt() > 0;
}

bool ExisteImpresora(int impresora) {
    return Existe(QStringLiteral("Impresora"), QStringLiteral("Id_Impresora"), impresora);
}

// Creates the Parametros row 'TERMINAL' that replication reads, when it is
// missing: the terminal number of the settings, else `agregada` (a terminal
// being added), else the lowest terminal of the database. Nothing when there
// is no terminal at all yet.
void AsegurarParametroTerminal(Conexion& c, int agregada = 0) {
    if (Existe(QStringLiteral("Parametros"), QStringLiteral("Id_Parametro"), QStringLiteral("TERMINAL"))) {
        return;
    }
    int terminal = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), QStringLiteral("Terminal"))
                       .trimmed()
                       .toInt();
    if (terminal <= 0 || terminal > 32767) {
        terminal = agregada > 0
                       ? agregada
                       : ObtenerValor(QStringLiteral("MIN(ID_Terminal)"), QStringLiteral("Terminal"), {}).toInt();
    }
    if (terminal > 0) {
        c.Ejecutar(QStringLiteral("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', ?)"),
                   {terminal});
    }
}

// The port a new printer may be given, or nothing after saying why: a
// serial, network or USB printer on COM1 to COM4, a parallel one on LPT1 to
// LPT9. COM5 to COM9 are port names, but no printer is reached through them.
std::optional<NombrePuerto> PuertoServible(const QString& puerto, QTextStream& errores) {
    const std::optional<NombrePuerto> nombre = NombrePuerto::Leer(puerto);
    if (!nombre) {
        errores << "orlan-admin: puerto '" << NombrePuerto::Citar(puerto)
                << "' no valido: COM1 a COM4 (serie, red o USB, segun [Puertos] en orlan.ini) o LPT1 a LPT9"
                << Qt::endl;
        return std::nullopt;
    }
    if (nombre->clase == NombrePuerto::Clase::Serie && nombre->numero > NombrePuerto::kUltimoSerie) {
        errores << "orlan-admin: " << nombre->nombre
                << " no lleva a ninguna impresora: el servidor solo abre COM1 a COM4 (serie, red o USB, segun "
                   "[Puertos] en orlan.ini) y LPT1 a LPT9"
                << Qt::endl;
        return std::nullopt;
    }
    return nombre;
}

// The demo shop: terminal 1 with a receipt printer on the parallel port, a
// kitchen printer and a bar printer on serial ports (the bar's backup is the
// receipt printer), a cheque printer the queue never serves, and terminal 2.
const char* const kDemo[] = {
    "INSERT INTO Terminal (ID_Terminal) VALUES (1)",
    "INSERT INTO Terminal (ID_Terminal) VALUES (2)",
    "INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)",
    "INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('FOLIOIMPRESION', 0)",
    "INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Id_Impresora_Respaldo, "
    "Redirigido, Estado_Impresora, esdecheques) VALUES (1, 1, 'LPT1', 'E', 'Caja', 2, 1, 'A', 0)",
    "INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Id_Impresora_Respaldo, "
    "Redirigido, Estado_Impresora, esdecheques) VALUES (2, 1, 'COM1', 'S', 'Cocina', 1, 2, 'A', 0)",
    "INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Id_Impresora_Respaldo, "
    "Redirigido, Estado_Impresora, esdecheques) VALUES (3, 1, 'COM2', 'C', 'Barra', 1, 3, 'A', 0)",
    "INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Id_Impresora_Respaldo, "
    "Redirigido, Estado_Impresora, esdecheques) VALUES (4, 1, 'LPT2', 'E', 'Cheques', NULL, 4, 'A', 1)",
    "INSERT INTO Empleado (ID_Empleado, Usuario) VALUES (1, 'gerente')",
    "INSERT INTO EmpleadosXGrupo (ID_Empleado, ID_Grupo_Trabajo) VALUES (1, 1)",
    "INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (1, 27)",
};

// Column sizes of the schema scripts (src/database/esquema/). SQLite does not
// enforce them, so they are checked before writing and every backend refuses
// the same input.
constexpr int kLargoTipo = 10;        // ColaImpresion.Tipo
constexpr int kLargoUsuario = 50;     // ColaImpresion.Usuario
constexpr int kLargoDatos = 4000;     // DetalleColaImpresion.Datos
constexpr int kLargoContrasena = 100; // Empleado.Contraseña

// Characters as the databases count them: code points, not UTF-16 units and
// not the bytes of UTF-8.
qsizetype Caracteres(const QString& texto) {
    return texto.toUcs4().size();
}

// Why a job cannot be written whole, or nothing when it can.
QString ErrorDelTrabajo(const Administracion::Trabajo& trabajo) {
    if (Caracteres(trabajo.tipo) > kLargoTipo) {
        return QStringLiteral("--tipo admite %1 caracteres como maximo").arg(kLargoTipo);
    }
    if (Caracteres(trabajo.usuario) > kLargoUsuario) {
        return QStringLiteral("--usuario admite %1 caracteres como maximo").arg(kLargoUsuario);
    }
    for (qsizetype i = 0; i < trabajo.renglones.size(); ++i) {
        const QString& renglon = trabajo.renglones[i];
        // The drivers take statements as C strings: a NUL would cut the line short.
        if (renglon.contains(QChar(0))) {
            return QStringLiteral("el renglon %1 contiene un caracter nulo (byte 0)").arg(i + 1);
        }
        if (Caracteres(renglon) > kLargoDatos) {
            return QStringLiteral("el renglon %1 tiene %2 caracteres; un renglon admite %3 como maximo")
                .arg(i + 1)
                .arg(Caracteres(renglon))
                .arg(kLargoDatos);
        }
    }
    return QString();
}

// Writers that meet creating the missing counter retry this many times in all.
constexpr int kIntentosFolio = 5;

qint64 MayorTrabajo(const QString& tabla) {
    return ObtenerValor(QStringLiteral("MAX(IdTrabajo)"), tabla, QString()).toLongLong();
}

// Takes the next job number from the writers' shared counter inside the
// caller's transaction. The increment locks the counter's row until the
// commit, so writers at the same moment get consecutive numbers. A missing
// counter is created above every number in use (ImpresorasXImpresion keeps
// those of printed jobs), so no number is handed out twice. Nothing when
// another writer created the counter at the same moment: roll back and retry.
std::optional<qint64> TomarFolio(Conexion& c) {
    const QString condicion = QStringLiteral(" WHERE Id_Parametro = 'FOLIOIMPRESION'");
    c.Ejecutar(QStringLiteral("UPDATE Parametros SET Valor_Num = Valor_Num + 1") + condicion);
    const auto fila = c.Consultar(QStringLiteral("SELECT Valor_Num FROM Parametros") + condicion);
    if (!fila->Fin() && !fila->Campo(0).isNull()) {
        return AEntero32(fila->Campo(0));
    }
    const qint64 numero =
        std::max(MayorTrabajo(QStringLiteral("ColaImpresion")), MayorTrabajo(QStringLiteral("ImpresorasXImpresion"))) +
        1;
    if (!fila->Fin()) {
        c.Ejecutar(QStringLiteral("UPDATE Parametros SET Valor_Num = ?") + condicion, {numero});
        return numero;
    }
    try {
        c.Ejecutar(QStringLiteral("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('FOLIOIMPRESION', ?)"),
                   {numero});
    } catch (const ErrorEjecucion& e) {
        if (e.Numero() == ErrorEjecucion::kErrorIntegridad) {
            return std::nullopt;
        }
        throw;
    }
    return numero;
}

// The longest password whose stored text fits Empleado.Contraseña. The stored
// size depends on the length alone, so plain letters measure it.
int LargoMaximoContrasena(clsDES& des) {
    int largo = 0;
    while (des.EncryptString(QString(largo + 1, u'x'), QString(), true).size() <= kLargoContrasena) {
        ++largo;
    }
    return largo;
}

// The backend of the open connection, as its driver tells it.
Motor MotorConectado(const Conexion& c) {
    if (c.EsPostgres()) {
        return Motor::PostgreSql;
    }
    return c.Controlador().contains(QLatin1String("sqlite"), Qt::CaseInsensitive) ? Motor::Sqlite : Motor::SqlServer;
}

QString NombreMotor(Motor motor) {
    return motor == Motor::PostgreSql ? QStringLiteral("PostgreSQL")
           : motor == Motor::Sqlite   ? QStringLiteral("SQLite")
                                      : QStringLiteral("SQL Server");
}

// The name `esquema` takes for a backend: its script's file name.
QString ArgumentoMotor(Motor motor) {
    return motor == Motor::PostgreSql ? QStringLiteral("postgresql")
           : motor == Motor::Sqlite   ? QStringLiteral("sqlite")
                                      : QStringLiteral("sqlserver");
}

// Runs the statements that `parte` gives for the backend named `motor`, then
// prints `hecho` (with %1 the number of statements, where it has one).
// `opcion` is the command's option for that part (" --reclamos"), if any.
// Refuses (1) a database of another backend, naming the command for it.
int CrearParte(const QString& motor, QStringList (*parte)(Motor), const QString& opcion, const QString& hecho,
               QTextStream& salida, QTextStream& errores) {
    const std::optional<Motor> elegido = MotorPorNombre(motor);
    if (!elegido) {
        errores << "orlan-admin: motor desconocido '" << motor << "' (sqlite, postgresql o sqlserver)" << Qt::endl;
        return 1;
    }
    const QStringList sentencias = parte(*elegido);
    return EnBaseDatos(errores, [&](Conexion& c) {
        // Another backend's script fails on its first statement with a
        // syntax error that does not say which script is the right one.
        const Motor conectado = MotorConectado(c);
        if (conectado != *elegido) {
            errores << "orlan-admin: la base de datos es " << NombreMotor(conectado);
            if (parte(conectado).isEmpty()) {
                errores << ", que no tiene esa parte del esquema" << Qt::endl;
            } else {
                errores << ": use 'orlan-admin esquema " << ArgumentoMotor(conectado) << opcion << "'" << Qt::endl;
            }
            return 1;
        }
        for (const QString& s : sentencias) {
            c.Ejecutar(s);
        }
        salida << (hecho.contains(QLatin1String("%1")) ? hecho.arg(sentencias.size()) : hecho) << Qt::endl;
        return 0;
    });
}

// The command as it would be typed, for a technician to run on another terminal.
QString Orden(const Administracion::Impresora& impresora) {
    const auto comillas = [](QString texto) { return u'\'' + texto.replace(u'\'', QStringLiteral("'\\''")) + u'\''; };
    return QStringLiteral("orlan-admin impresora agregar --terminal %1 --puerto %2 --modo %3 --nombre %4")
               .arg(impresora.terminal)
               .arg(impresora.puerto, impresora.modo, comillas(impresora.nombre)) +
           (impresora.respaldo ? QStringLiteral(" --respaldo %1").arg(impresora.respaldo) : QString());
}

// Writes the printer's dialect as the port's Modo in this terminal's orlan.ini.
// Refuses (false, after saying what to do) a printer of another terminal, whose
// settings file is on that terminal, and a port another printer of the terminal
// already uses in another dialect.
bool ModoEnPuerto(const Administracion::Impresora& impresora, QTextStream& errores) {
    const QString archivo = Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
    const QString propia =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), QStringLiteral("Terminal")).trimmed();
    bool numero = false;
    if (propia.toInt(&numero) != impresora.terminal || !numero) {
        errores << "orlan-admin: la impresora es de la terminal " << impresora.terminal << " y este equipo es "
                << (propia.isEmpty() ? QStringLiteral("de ninguna (sin Terminal=)")
                                     : QStringLiteral("la terminal ") + propia)
                << " en " << archivo << "; su servidor imprime en el Modo de [" << impresora.puerto
                << "] del orlan.ini de la terminal " << impresora.terminal
                << ", asi que agreguela alli con: " << Orden(impresora) << Qt::endl;
        return false;
    }
    // A row that names the port in lower case uses the same port.
    const QString otros = Valor(QStringLiteral("SELECT MIN(Id_Impresora) FROM Impresora WHERE ID_Terminal = ? AND "
                                               "esdecheques = 0 AND UPPER(Puerto) = ? AND Modo <> ?"),
                                {impresora.terminal, impresora.puerto, impresora.modo});
    if (!otros.isEmpty()) {
        errores << "orlan-admin: la impresora " << otros << " ya usa " << impresora.puerto
                << " en otro Modo; un puerto imprime en un solo Modo ([" << impresora.puerto << "] en " << archivo
                << ")" << Qt::endl;
        return false;
    }
    if (!Ajustes::Guardar(QStringLiteral("orlan"), impresora.puerto, QStringLiteral("Modo"), impresora.modo)) {
        errores << "orlan-admin: no se pudo escribir Modo=" << impresora.modo << " en [" << impresora.puerto << "] de "
                << archivo << Qt::endl;
        return false;
    }
    return true;
}

// What a terminal's role may do on each table: what some statement of the
// server, the status panel or the day-to-day commands does there. Operators
// are added by the owner; a terminal adds its own row and printers, and
// changes only the columns the routing, the printer's state and the
// operator's password live in (`columnas`, those of them the table has).
struct PermisoTabla {
    const char* tabla;
    const char* privilegios;
    const char* columnas = nullptr; // UPDATE on these only
};
constexpr PermisoTabla kPermisosTerminal[] = {
    {"terminal", "SELECT, INSERT"},
    {"impresora", "SELECT, INSERT", "redirigido, estado_impresora, id_impresora_respaldo, papelbajo, falla"},
    {"colaimpresion", "SELECT, INSERT, UPDATE, DELETE"},
    {"detallecolaimpresion", "SELECT, INSERT, DELETE"},
    {"impresorasximpresion", "SELECT, INSERT"},
    {"parametros", "SELECT, INSERT, UPDATE"},
    {"transacciones", "SELECT, INSERT"},
    {"transaccionesxterminal", "SELECT, INSERT"},
    {"empleado", "SELECT", "contraseña"},
    {"empleadosxgrupo", "SELECT"},
    {"permisosxgrupo_trabajo", "SELECT"},
    {"reclamotrabajo", "SELECT, INSERT, UPDATE, DELETE"},
};

// The notification triggers' functions, which run as whoever fires them.
constexpr const char* kFuncionesTerminal[] = {"orlan_despertar_trabajo()", "orlan_despertar_impresora()"};

// A statement that names a role, quoted by the server itself (format's %I and
// %L): a role's name and password cannot be bound where DDL names them.
QString Citada(const QString& plantilla, const QStringList& valores) {
    QString marcadores;
    QVector<QVariant> parametros{plantilla};
    for (const QString& v : valores) {
        marcadores += QStringLiteral(", CAST(? AS text)");
        parametros << v;
    }
    return Valor(QStringLiteral("SELECT format(CAST(? AS text)") + marcadores + u')', parametros);
}

// Grants `rol` what a terminal needs on the database and on the tables,
// sequences and functions of `esquema` that exist, and revokes whatever else
// it held on those tables. Returns the tables granted.
QStringList Conceder(Conexion& c, const QString& esquema, const QString& rol) {
    c.Ejecutar(Citada(QStringLiteral("GRANT CONNECT ON DATABASE %I TO %I"),
                      {Valor(QStringLiteral("SELECT current_database()"), {}), rol}));
    c.Ejecutar(Citada(QStringLiteral("GRANT USAGE ON SCHEMA %I TO %I"), {esquema, rol}));
    QStringList tablas;
    for (const PermisoTabla& p : kPermisosTerminal) {
        const QString tabla = QString::fromLatin1(p.tabla);
        if (Valor(QStringLiteral("SELECT to_regclass(format('%I.%I', CAST(? AS text), CAST(? AS text)))"),
                  {esquema, tabla})
                .isEmpty()) {
            continue; // an optional table this database does not have
        }
        // Exactly these: whatever the role held before on the table goes.
        c.Ejecutar(Citada(QStringLiteral("REVOKE ALL ON TABLE %I.%I FROM %I"), {esquema, tabla, rol}));
        c.Ejecutar(
            Citada(QStringLiteral("GRANT ") + QLatin1String(p.privilegios) + QStringLiteral(" ON TABLE %I.%I TO %I"),
                   {esquema, tabla, rol}));
        if (p.columnas) {
            // The columns of the list this table has (ours are optional).
            const QString columnas = Valor(
                QStringLiteral("SELECT string_agg(format('%I', column_name), ', ') FROM information_schema.columns "
                               "WHERE table_schema = ? AND table_name = ? AND column_name = ANY "
                               "(string_to_array(CAST(? AS text), ', '))"),
                {esquema, tabla, QString::fromUtf8(p.columnas)});
            if (!columnas.isEmpty()) {
                c.Ejecutar(
                    Citada(QStringLiteral("GRANT UPDATE (") + columnas + QStringLiteral(") ON TABLE %I.%I TO %I"),
                           {esquema, tabla, rol}));
            }
        }
        // The numbers of a serial column come from its sequence.
        const auto secuencias = c.Consultar(
            QStringLiteral("SELECT CAST(CAST(d.objid AS regclass) AS text) FROM pg_depend d JOIN pg_class s ON "
                           "s.oid = d.objid AND s.relkind = 'S' WHERE d.classid = CAST('pg_class' AS regclass) "
                           "AND d.refobjid = to_regclass(format('%I.%I', CAST(? AS text), CAST(? AS text)))"),
            {esquema, tabla});
        for (; !secuencias->Fin(); secuencias->MoveNext()) {
            c.Ejecutar(Citada(QStringLiteral("GRANT USAGE ON SEQUENCE ") + secuencias->Campo(0).toString() +
                                  QStringLiteral(" TO %I"),
                              {rol}));
        }
        tablas << tabla;
    }
    for (const char* funcion : kFuncionesTerminal) {
        const QString firma = Valor(QStringLiteral("SELECT CAST(to_regprocedure(format('%I.', CAST(? AS text)) || "
                                                   "CAST(? AS text)) AS text)"),
                                    {esquema, QLatin1String(funcion)});
        if (!firma.isEmpty()) {
            c.Ejecutar(Citada(QStringLiteral("GRANT EXECUTE ON FUNCTION %s TO %I"), {firma, rol}));
        }
    }
    return tablas;
}

} // namespace

namespace Administracion {

int CrearEsquema(const QString& motor, QTextStream& salida, QTextStream& errores) {
    return CrearParte(motor, SentenciasEsquema, QString(), QStringLiteral("Esquema creado (%1 sentencias)"), salida,
                      errores);
}

int CrearDespertar(const QString& motor, QTextStream& salida, QTextStream& errores) {
    const std::optional<Motor> elegido = MotorPorNombre(motor);
    if (elegido && SentenciasDespertar(*elegido).isEmpty()) {
        errores << "orlan-admin: el motor '" << motor << "' no tiene avisos (solo postgresql)" << Qt::endl;
        return 1;
    }
    return CrearParte(motor, SentenciasDespertar, QStringLiteral(" --despertar"),
                      QStringLiteral("Avisos de Despertar creados (%1 sentencias)"), salida, errores);
}

int CrearReclamos(const QString& motor, QTextStream& salida, QTextStream& errores) {
    return CrearParte(motor, SentenciasReclamos, QStringLiteral(" --reclamos"),
                      QStringLiteral("Tabla de reclamos ReclamoTrabajo lista"), salida, errores);
}

int CargarDemo(QTextStream& salida, QTextStream& errores) {
    return EnBaseDatos(errores, [&](Conexion& c) {
        for (const char* s : kDemo) {
            c.Ejecutar(QString::fromUtf8(s));
        }
        salida << "Datos de demostracion cargados" << Qt::endl;
        return 0;
    });
}

int Encolar(const Trabajo& trabajo, QTextStream& salida, QTextStream& errores) {
    if (const QString error = ErrorDelTrabajo(trabajo); !error.isEmpty()) {
        errores << "orlan-admin: " << error << "; no se escribio el trabajo" << Qt::endl;
        return 1;
    }
    return EnBaseDatos(errores, [&](Conexion& c) {
        if (!ExisteImpresora(trabajo.impresora)) {
            errores << "orlan-admin: no existe la impresora " << trabajo.impresora << Qt::endl;
            return 1;
        }
        try {
            // One transaction from the number to the release: a failure at any
            // step leaves no header waiting with Escribiendo = -1, no stray
            // line and no number used up.
            for (int intento = 1;; ++intento) {
                Transaccion transaccion(c);
                const std::optional<qint64> folio = TomarFolio(c);
                if (!folio) {
                    if (intento < kIntentosFolio) {
                        continue; // another writer created the counter: take a number from it
                    }
                    errores << "orlan-admin: no se pudo tomar un numero de trabajo de Parametros 'FOLIOIMPRESION'; "
                               "no se escribio el trabajo"
                            << Qt::endl;
                    return 2;
                }
                const qint64 numero = *folio;
                try {
                    c.Ejecutar(QStringLiteral("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, FechaHora, "
                                              "Escribiendo, id_impresora) VALUES (?, ?, ?, CURRENT_TIMESTAMP, -1, ?)"),
                               {numero, trabajo.tipo, trabajo.usuario, trabajo.impresora});
                } catch (const ErrorEjecucion& e) {
                    // A writer that found the counter missing can read it back
                    // just after another writer created it (each statement
                    // sees what is committed), and so take that writer's
                    // number: the header's key refuses it, and a new try
                    // increments the counter like everybody else.
                    if (e.Numero() == ErrorEjecucion::kErrorIntegridad && intento < kIntentosFolio) {
                        continue;
                    }
                    throw;
                }
                c.Ejecutar(QStringLiteral("INSERT INTO ImpresorasXImpresion (IdTrabajo, Id_Impresora) VALUES (?, ?)"),
                           {numero, trabajo.impresora});
                int renglon = 0;
                for (const QString& texto : trabajo.renglones) {
                    c.Ejecutar(QStringLiteral(
                                   "INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (?, ?, ?)"),
                               {numero, ++renglon, texto});
                }
                c.Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = 0 WHERE IDTrabajo = ?"), {numero});
                transaccion.Confirmar();
                salida << numero << Qt::endl;
                return 0;
            }
        } catch (const ErrorEjecucion& e) {
            MostrarError(e, errores);
            errores << "orlan-admin: no se escribio el trabajo; la cola quedo como estaba" << Qt::endl;
            return 2;
        }
    });
}

int ListarCola(QTextStream& salida, QTextStream& errores) {
    return EnBaseDatos(errores, [&](Conexion& c) {
        auto filas = c.Consultar(QStringLiteral(
            "SELECT col.IdTrabajo, col.Tipo, col.Usuario, col.id_impresora, imp.Redirigido, col.Escribiendo, "
            "(SELECT COUNT(*) FROM DetalleColaImpresion det WHERE det.IdTrabajo = col.IdTrabajo) AS Renglones, "
            "CASE col.Escribiendo WHEN 0 THEN 'pendiente' WHEN 2 THEN 'apartado' ELSE 'escribiendose' END AS Estado "
            "FROM ColaImpresion col LEFT JOIN Impresora imp ON col.id_impresora = imp.Id_Impresora "
            "ORDER BY col.IdTrabajo"));
        ImprimirFilas(*filas, salida);
        return 0;
    });
}

int MostrarImpresora(int impresora, QTextStream& salida, QTextStream& errores) {
    return EnBaseDatos(errores, [&](Conexion& c) {
        auto filas = c.Consultar(QStringLiteral("SELECT Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                                                "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques "
                                                "FROM Impresora WHERE Id_Impresora = ?"),
                                 {impresora});
        if (filas->RecordCount() == 0) {
            errores << "orlan-admin: no existe la impresora " << impresora << Qt::endl;
            return 1;
        }
        for (int i = 0; i < filas->Columnas().size(); ++i) {
            const QVariant v = filas->Campo(i);
            salida << filas->Columnas()[i] << ": " << (v.isNull() ? QStringLiteral("NULL") : v.toString()) << Qt::endl;
        }
        return 0;
    });
}

int Restablecer(int impresora, QTextStream& salida, QTextStream& errores) {
    return EnBaseDatos(errores, [&](Conexion& c) {
        if (!ExisteImpresora(impresora)) {
            errores << "orlan-admin: no existe la impresora " << impresora << Qt::endl;
            return 1;
        }
        AsegurarParametroTerminal(c);
        switch (RestablecerImpresora(impresora)) {
        case ResultadoAccion::Hecha:
            salida << "Impresora " << impresora << " restablecida" << Qt::endl;
            return 0;
        case ResultadoAccion::NoReplicada:
            errores << "orlan-admin: la impresora " << impresora
                    << " quedo restablecida, pero el cambio no se replico a las otras terminales (vea la bitacora)"
                    << Qt::endl;
            salida << "Impresora " << impresora << " restablecida" << Qt::endl;
            return 0;
        case ResultadoAccion::SinCambios:
            salida << "Impresora " << impresora << " ya atiende sus trabajos; nada que hacer" << Qt::endl;
            return 0;
        case ResultadoAccion::NoExiste:
            errores << "orlan-admin: no existe la impresora " << impresora << Qt::endl;
            return 1;
        default:
            errores << "orlan-admin: no se pudo restablecer la impresora " << impresora << " (vea la bitacora)"
                    << Qt::endl;
            return 2;
        }
    });
}

int AgregarTerminal(int numero, const QString& nombre, QTextStream& salida, QTextStream& errores) {
    if (numero <= 0 || numero > 32767) {
        errores << "orlan-admin: el numero de terminal va de 1 a 32767" << Qt::endl;
        return 1;
    }
    return EnBaseDatos(errores, [&](Conexion& c) {
        if (Existe(QStringLiteral("Terminal"), QStringLiteral("ID_Terminal"), numero)) {
            errores << "orlan-admin: la terminal " << numero << " ya existe" << Qt::endl;
            return 1;
        }
        // The name is ours: a shop's Terminal table may have no column for it.
        const bool conNombre = !nombre.isEmpty() && ExisteColumna(QStringLiteral("Terminal"), QStringLiteral("Nombre"));
        if (!nombre.isEmpty() && !conNombre) {
            errores << "orlan-admin: la tabla Terminal no tiene la columna Nombre; la terminal se agrega sin nombre"
                    << Qt::endl;
        }
        if (conNombre) {
            c.Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal, Nombre) VALUES (?, ?)"), {numero, nombre});
        } else {
            c.Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (?)"), {numero});
        }
        AsegurarParametroTerminal(c, numero);
        salida << "Terminal " << numero << " agregada" << Qt::endl;
        return 0;
    });
}

int AgregarImpresora(const Impresora& pedida, QTextStream& salida, QTextStream& errores) {
    const std::optional<NombrePuerto> puerto = PuertoServible(pedida.puerto, errores);
    if (!puerto) {
        return 1;
    }
    // The row and the settings section get the name in upper case, as the
    // server and every other program write it.
    Impresora impresora = pedida;
    impresora.puerto = puerto->nombre;
    if (impresora.modo != QLatin1String("E") && impresora.modo != QLatin1String("C") &&
        impresora.modo != QLatin1String("S")) {
        errores << "orlan-admin: --modo es E (Epson), C (Citizen) o S (Star)" << Qt::endl;
        return 1;
    }
    if (impresora.nombre.isEmpty() || Caracteres(impresora.nombre) > 50) {
        errores << "orlan-admin: --nombre necesita un texto de 1 a 50 caracteres" << Qt::endl;
        return 1;
    }
    return EnBaseDatos(errores, [&](Conexion& c) {
        if (!Existe(QStringLiteral("Terminal"), QStringLiteral("ID_Terminal"), impresora.terminal)) {
            errores << "orlan-admin: no existe la terminal " << impresora.terminal << " (agreguela con 'orlan-admin "
                    << "terminal agregar " << impresora.terminal << "')" << Qt::endl;
            return 1;
        }
        if (impresora.respaldo != 0 && !ExisteImpresora(impresora.respaldo)) {
            errores << "orlan-admin: no existe la impresora de respaldo " << impresora.respaldo << Qt::endl;
            return 1;
        }
        // The server prints in the Modo of the port's section of its own
        // orlan.ini, not in the row's: a printer the queue serves gets both,
        // which only the terminal's own settings file can hold.
        const QString modoAnterior = Ajustes::Leer(QStringLiteral("orlan"), impresora.puerto, QStringLiteral("Modo"));
        if (!impresora.cheques && !ModoEnPuerto(impresora, errores)) {
            return 1;
        }
        // A row that could not be written leaves the port's dialect as it was.
        auto deshacer = qScopeGuard([&] {
            if (!impresora.cheques) {
                Ajustes::Guardar(QStringLiteral("orlan"), impresora.puerto, QStringLiteral("Modo"),
                                 modoAnterior.isEmpty() ? QStringLiteral("E") : modoAnterior);
            }
        });
        AsegurarParametroTerminal(c);
        const int id = ObtenerValor(QStringLiteral("MAX(Id_Impresora)"), QStringLiteral("Impresora"), {}).toInt() + 1;
        // Without a backup the text says NULL: a bound NULL would go as text
        // into the int column.
        QVector<QVariant> valores{id, impresora.terminal, impresora.puerto, impresora.modo, impresora.nombre};
        if (impresora.respaldo) {
            valores << impresora.respaldo;
        }
        valores << id << (impresora.cheques ? -1 : 0);
        c.Ejecutar(QStringLiteral("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                                  "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES "
                                  "(?, ?, ?, ?, ?, %1, ?, 'A', ?)")
                       .arg(impresora.respaldo ? QStringLiteral("?") : QStringLiteral("NULL")),
                   valores);
        deshacer.dismiss();
        salida << id << Qt::endl;
        return 0;
    });
}

int AsignarRespaldo(int impresora, int respaldo, QTextStream& salida, QTextStream& errores) {
    if (impresora == respaldo) {
        errores << "orlan-admin: una impresora no puede ser su propio respaldo" << Qt::endl;
        return 1;
    }
    return EnBaseDatos(errores, [&](Conexion& c) {
        for (const int id : {impresora, respaldo}) {
            if (!ExisteImpresora(id)) {
                errores << "orlan-admin: no existe la impresora " << id << Qt::endl;
                return 1;
            }
        }
        AsegurarParametroTerminal(c);
        c.Ejecutar(QStringLiteral("UPDATE Impresora SET Id_Impresora_Respaldo = ? WHERE Id_Impresora = ?"),
                   {respaldo, impresora});
        salida << "La impresora " << respaldo << " respalda a la impresora " << impresora << Qt::endl;
        return 0;
    });
}

int ListarImpresoras(QTextStream& salida, QTextStream& errores) {
    return EnBaseDatos(errores, [&](Conexion& c) {
        auto filas = c.Consultar(QStringLiteral(
            "SELECT Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Id_Impresora_Respaldo, Redirigido, "
            "Estado_Impresora, esdecheques FROM Impresora ORDER BY Id_Impresora"));
        ImprimirFilas(*filas, salida);
        // Paper near its end: what each printer's own server wrote into
        // Impresora.PapelBajo. Without that column only this terminal's
        // printers are known, from the last answers its server stored per
        // port; another terminal's printer on the same port name is not this
        // machine's.
        const bool columna = ExisteColumna(QStringLiteral("Impresora"), QStringLiteral("PapelBajo"));
        if (columna) {
            filas = c.Consultar(
                QStringLiteral("SELECT Id_Impresora, Puerto FROM Impresora WHERE PapelBajo = 1 ORDER BY Id_Impresora"));
        } else {
            const std::optional<qint64> terminal =
                EnteroProbado(Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"),
                                            QStringLiteral("Terminal"), QString())
                                  .trimmed(),
                              -32768, 32767);
            filas = c.Consultar(QStringLiteral("SELECT Id_Impresora, Puerto FROM Impresora WHERE ID_Terminal = ? "
                                               "ORDER BY Id_Impresora"),
                                {terminal.value_or(0)});
        }
        for (; !filas->Fin(); filas->MoveNext()) {
            const QString puerto = filas->Texto(QStringLiteral("Puerto"));
            if (columna || (NombrePuerto::Leer(puerto) && ctlImpresora::PapelBajoSegunAjustes(puerto))) {
                salida << "Impresora " << filas->Texto(QStringLiteral("Id_Impresora")) << " ("
                       << NombrePuerto::Citar(puerto) << "): papel por terminarse, sigue imprimiendo" << Qt::endl;
            }
        }
        // Why a printer cannot print, as its own server last found it: the
        // state letter above keeps what the routing wrote.
        if (ExisteColumna(QStringLiteral("Impresora"), QStringLiteral("Falla"))) {
            filas = c.Consultar(QStringLiteral(
                "SELECT Id_Impresora, Puerto, Falla FROM Impresora WHERE Falla IS NOT NULL ORDER BY Id_Impresora"));
            for (; !filas->Fin(); filas->MoveNext()) {
                salida << "Impresora " << filas->Texto(QStringLiteral("Id_Impresora")) << " ("
                       << NombrePuerto::Citar(filas->Texto(QStringLiteral("Puerto")))
                       << "): no imprime: " << TextoAcotado(filas->Texto(QStringLiteral("Falla")), 200) << Qt::endl;
            }
        }
        return 0;
    });
}

int Reintentar(qint64 trabajo, QTextStream& salida, QTextStream& errores) {
    return EnBaseDatos(errores, [&](Conexion&) {
        const ResultadoAccion r = ReintentarTrabajo(trabajo);
        if (r != ResultadoAccion::Hecha) {
            errores << "orlan-admin: el trabajo " << trabajo
                    << (r == ResultadoAccion::NoExiste ? " no existe" : " no esta apartado") << Qt::endl;
            return 1;
        }
        salida << "Trabajo " << trabajo << " de vuelta en la cola" << Qt::endl;
        return 0;
    });
}

int Contrasena(const QString& contrasena, const QString& usuario, QTextStream& salida, QTextStream& errores) {
    if (contrasena.isEmpty()) {
        // An empty password would let anyone in with an empty one.
        errores << "orlan-admin: la contrasena no puede estar vacia" << Qt::endl;
        return 1;
    }
    const std::optional<QString> llave = ProveedorCredenciales().ObtenerLlave();
    if (!llave) {
        errores << "orlan-admin: no hay llave en " << ProveedorCredenciales::RutaArchivo()
                << " (linea Llave=..., archivo con permisos 0600; vea la bitacora)" << Qt::endl;
        return 1;
    }
    if (llave->isEmpty()) {
        // An empty key is the all-zero DES key, which anyone can use.
        errores << "orlan-admin: la llave (Llave=) de " << ProveedorCredenciales::RutaArchivo() << " esta vacia"
                << Qt::endl;
        return 1;
    }
    clsDES des;
    des.Key(*llave);
    const QString almacenado = des.EncryptString(contrasena, QString(), true);
    if (almacenado.size() > kLargoContrasena) {
        errores << "orlan-admin: la contrasena es demasiado larga (" << contrasena.size() << " caracteres; como maximo "
                << LargoMaximoContrasena(des) << ", para que su texto cifrado quepa en los " << kLargoContrasena
                << " de Empleado.Contraseña)" << Qt::endl;
        return 1;
    }
    if (usuario.isEmpty()) {
        salida << almacenado << Qt::endl;
        return 0;
    }
    return EnBaseDatos(errores, [&](Conexion& c) {
        if (!Existe(QStringLiteral("Empleado"), QStringLiteral("Usuario"), usuario)) {
            errores << "orlan-admin: no existe el usuario " << usuario << Qt::endl;
            return 1;
        }
        c.Ejecutar(QStringLiteral("UPDATE Empleado SET Contraseña = ? WHERE Usuario = ?"), {almacenado, usuario});
        salida << "Contrasena guardada para " << usuario << Qt::endl;
        return 0;
    });
}

int Rol(const QString& rol, const std::optional<QString>& contrasena, QTextStream& salida, QTextStream& errores) {
    if (rol.isEmpty() || rol.toUtf8().size() > 63) {
        errores << "orlan-admin: el nombre del rol lleva de 1 a 63 bytes" << Qt::endl;
        return 1;
    }
    return EnBaseDatos(errores, [&](Conexion& c) {
        if (!c.EsPostgres()) {
            errores << "orlan-admin: la base de datos es " << NombreMotor(MotorConectado(c))
                    << ": 'orlan-admin rol' crea roles de PostgreSQL; cree la cuenta de cada terminal en ese motor"
                    << Qt::endl;
            return 1;
        }
        const QString esquema = Valor(QStringLiteral("SELECT n.nspname FROM pg_class t JOIN pg_namespace n ON "
                                                     "n.oid = t.relnamespace WHERE t.oid = to_regclass('impresora')"),
                                      {});
        if (esquema.isEmpty()) {
            errores << "orlan-admin: faltan las tablas: cree antes el esquema con 'orlan-admin esquema postgresql'"
                    << Qt::endl;
            return 1;
        }
        // Revoking from the owner would take the tables from it.
        const auto cuenta = c.Consultar(
            QStringLiteral("SELECT r.rolsuper, pg_get_userbyid(t.relowner) = r.rolname FROM pg_roles r, pg_class t "
                           "WHERE r.rolname = ? AND t.oid = to_regclass('impresora')"),
            {rol});
        if (!cuenta->Fin() && (cuenta->Campo(0).toBool() || cuenta->Campo(1).toBool())) {
            errores << "orlan-admin: el rol " << rol
                    << (cuenta->Campo(0).toBool() ? " es superusuario" : " es el propietario de las tablas")
                    << ": cada terminal usa un rol propio, sin mas permisos que los suyos" << Qt::endl;
            return 1;
        }
        std::optional<QString> clave = contrasena;
        if (cuenta->Fin() && !clave) {
            clave = Consola::LeerSecreto(QStringLiteral("Contrasena del rol ") + rol + QStringLiteral(": "));
            if (!clave || clave->isEmpty()) {
                errores << "orlan-admin: el rol nuevo necesita una contrasena (--contrasena o la entrada estandar)"
                        << Qt::endl;
                return 1;
            }
        }
        Transaccion transaccion(c);
        if (cuenta->Fin()) {
            try {
                c.Ejecutar(Citada(QStringLiteral("CREATE ROLE %I LOGIN PASSWORD %L"), {rol, *clave}));
            } catch (const ErrorEjecucion& e) {
                if (!SinPermiso(e)) {
                    throw;
                }
                errores << "orlan-admin: el rol " << rol << " no existe y este rol no puede crear roles: creelo como "
                        << "superusuario ('runuser -u postgres -- createuser --pwprompt " << rol
                        << "') y ejecute de nuevo 'orlan-admin rol " << rol << "'" << Qt::endl;
                return 1;
            }
        } else if (clave) {
            c.Ejecutar(Citada(QStringLiteral("ALTER ROLE %I PASSWORD %L"), {rol, *clave}));
        }
        const QStringList tablas = Conceder(c, esquema, rol);
        transaccion.Confirmar();
        salida << "Rol " << rol << (cuenta->Fin() ? " creado" : " listo") << " con permisos sobre "
               << tablas.join(QStringLiteral(", ")) << Qt::endl;
        // Before PostgreSQL 15 every role may create tables in "public".
        if (Valor(QStringLiteral("SELECT CASE WHEN has_schema_privilege(?, ?, 'CREATE') THEN 1 END"), {rol, esquema})
                .toInt() == 1) {
            errores << "orlan-admin: aviso: el rol " << rol << " aun puede crear tablas en el esquema " << esquema
                    << " (por PUBLIC o por otro rol): 'REVOKE CREATE ON SCHEMA " << esquema
                    << " FROM PUBLIC' como propietario" << Qt::endl;
        }
        return 0;
    });
}

int Sql(const QString& sentencia, QTextStream& salida, QTextStream& errores) {
    return EnBaseDatos(errores, [&](Conexion& c) {
        if (sentencia.trimmed().startsWith(QStringLiteral("select"), Qt::CaseInsensitive)) {
            auto filas = c.Consultar(sentencia);
            ImprimirFilas(*filas, salida);
        } else {
            c.Ejecutar(sentencia);
        }
        return 0;
    });
}

} // namespace Administracion
