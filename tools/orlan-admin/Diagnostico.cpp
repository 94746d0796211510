#include "Diagnostico.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "database/ColumnaOpcional.h"
#include "database/FalloConexion.h"
#include "platform/Ajustes.h"
#include "ports/NombrePuerto.h"
#include "ports/PuertoCom.h"
#include "ports/PuertoSerie.h"
#include "printer/ctlImpresora.h"
#include "revision/RevisionTerminal.h"
#include "support/ErrorEjecucion.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <dlfcn.h>
#include <memory>
#include <pwd.h>
#include <sql.h>
#include <unistd.h>

namespace {

enum class Resultado { Bien, Aviso, Falla };

class Informe {
public:
    explicit Informe(QTextStream& salida) : m_salida(salida) {}

    void Linea(Resultado r, const QString& texto) {
        m_salida << (r == Resultado::Bien    ? "[ ok ] "
                     : r == Resultado::Aviso ? "[aviso] "
                                             : "[FALLA] ")
                 << texto << Qt::endl;
        m_fallas += r == Resultado::Falla;
    }
    void Bien(const QString& texto) { Linea(Resultado::Bien, texto); }
    void Aviso(const QString& texto) { Linea(Resultado::Aviso, texto); }
    void Falla(const QString& texto) { Linea(Resultado::Falla, texto); }
    void Hallazgo(const Revision::Hallazgo& h) {
        Linea(h.gravedad == Revision::Gravedad::Bien    ? Resultado::Bien
              : h.gravedad == Revision::Gravedad::Aviso ? Resultado::Aviso
                                                        : Resultado::Falla,
              Revision::Describir(h));
    }
    int Fallas() const { return m_fallas; }

private:
    QTextStream& m_salida;
    int m_fallas = 0;
};

QString Configuracion(const QString& clave) {
    return Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), clave).trimmed();
}

// Returns the terminal number, 0 when it is unusable.
int RevisarAjustes(Informe& informe) {
    const QString ruta = Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
    const QString seccion = QStringLiteral(" en [Configuracion] de ") + ruta;
    if (!QFileInfo(ruta).isFile()) {
        informe.Falla(QStringLiteral("no existe el archivo de configuracion ") + ruta +
                      QStringLiteral(": escriba en el [Configuracion] con Terminal=, Servidor= y BASE_DE_DATOS="));
        return 0;
    }
    informe.Bien(QStringLiteral("archivo de configuracion ") + ruta);
    qint16 terminal = 0;
    const Revision::Hallazgo numero = Revision::RevisarNumeroTerminal(
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), QStringLiteral("Terminal"), "0"),
        &terminal);
    informe.Hallazgo(numero);
    if (numero.gravedad == Revision::Gravedad::Falla) {
        return 0;
    }
    const QString base = Configuracion(QStringLiteral("BASE_DE_DATOS"));
    if (base.isEmpty()) {
        informe.Aviso(QStringLiteral("sin BASE_DE_DATOS") + seccion + QStringLiteral(": se usa DBORLAN"));
    } else {
        informe.Bien(QStringLiteral("BASE_DE_DATOS=") + base);
    }
    const bool sqlite = qEnvironmentVariable("ODBCSYSINI").contains(QLatin1String("sqlite"));
    const QString servidor = Configuracion(QStringLiteral("Servidor"));
    if (servidor.isEmpty() && !sqlite) {
        informe.Falla(QStringLiteral("sin Servidor") + seccion +
                      QStringLiteral(": escriba la direccion del servidor de base de datos"));
    } else if (!servidor.isEmpty()) {
        const QString puerto = Configuracion(QStringLiteral("Puerto"));
        informe.Bien(QStringLiteral("Servidor=") + servidor +
                     (puerto.isEmpty() ? QString() : QStringLiteral(", Puerto=") + puerto));
    }
    return terminal;
}

void RevisarCredenciales(Informe& informe) {
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    const ProveedorCredenciales credenciales;
    if (!credenciales.ObtenerUsuario() || !credenciales.ObtenerContrasena()) {
        informe.Falla(ProveedorCredenciales::UltimoFallo() +
                      QStringLiteral("; escriba Usuario= y Contrasena= en el archivo, con permisos 0600 (chmod 600 ") +
                      ruta + u')');
        return;
    }
    if (!credenciales.ObtenerLlave()) {
        informe.Aviso(QStringLiteral("sin Llave= en ") + ruta +
                      QStringLiteral(": los operadores no podran iniciar sesion en la ventana del servidor"));
        return;
    }
    informe.Bien(QStringLiteral("credenciales en ") + ruta + QStringLiteral(" (permisos 0600)"));
}

// The directory the driver manager was loaded from: the machine's own
// multiarch library directory (/usr/lib/x86_64-linux-gnu, /usr/lib/aarch64-
// linux-gnu...), whose odbc/ holds the drivers Debian installs.
QString DirectorioGestor() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&SQLAllocHandle), &info) == 0 || !info.dli_fname) {
        return QString();
    }
    return QFileInfo(QFile::decodeName(info.dli_fname)).canonicalPath();
}

// Finds a driver library where the driver manager looks for it: a path, or
// a name in the driver manager's own directory or on the loader's path.
bool LibreriaInstalada(const QString& libreria) {
    if (libreria.contains(u'/')) {
        return QFileInfo(libreria).isFile();
    }
    QStringList directorios{QStringLiteral("/usr/lib/odbc"), QStringLiteral("/usr/lib"),
                            QStringLiteral("/usr/local/lib")};
    const QString gestor = DirectorioGestor();
    if (!gestor.isEmpty()) {
        directorios.prepend(gestor);
        directorios.prepend(gestor + QStringLiteral("/odbc"));
    }
    return std::any_of(directorios.begin(), directorios.end(),
                       [&](const QString& d) { return QFileInfo(d + u'/' + libreria).isFile(); });
}

bool RevisarRegistro(Informe& informe) {
    const QString directorio = qEnvironmentVariable("ODBCSYSINI");
    if (directorio.isEmpty()) {
        informe.Falla(QStringLiteral("ODBCSYSINI no esta definida: pongala en /etc/default/orlan-cola, p. ej. "
                                     "ODBCSYSINI=/usr/share/orlan-cola/odbc/postgresql"));
        return false;
    }
    const QString registro = directorio + QStringLiteral("/odbcinst.ini");
    if (!QFileInfo(registro).isFile()) {
        informe.Falla(QStringLiteral("no existe ") + registro +
                      QStringLiteral(": ODBCSYSINI debe nombrar uno de los directorios de /usr/share/orlan-cola/odbc"));
        return false;
    }
    const QString libreria = LibreriaRegistrada(registro);
    if (libreria.isEmpty()) {
        informe.Falla(registro + QStringLiteral(" no define [SQL Server] con Driver="));
        return false;
    }
    if (!LibreriaInstalada(libreria)) {
        informe.Falla(QStringLiteral("el controlador ") + libreria + QStringLiteral(" de ") + registro +
                      QStringLiteral(" no esta instalado: instale su paquete (tdsodbc, odbc-postgresql o "
                                     "libsqliteodbc)"));
        return false;
    }
    informe.Bien(QStringLiteral("registro ODBC ") + registro + QStringLiteral(", controlador ") + libreria);
    return true;
}

bool RevisarEsquema(Informe& informe) {
    QStringList faltan;
    QStringList vedadas;
    for (const char* tabla : {"Terminal", "Impresora", "ColaImpresion", "DetalleColaImpresion", "Parametros",
                              "Transacciones", "TransaccionesXTerminal", "Empleado"}) {
        try {
            Conexion::Instancia().Consultar(QStringLiteral("SELECT * FROM ") + QLatin1String(tabla) +
                                            QStringLiteral(" WHERE 1 = 0"));
        } catch (const ErrorEjecucion& e) {
            (SinPermiso(e) ? vedadas : faltan) << QLatin1String(tabla);
        }
    }
    if (!vedadas.isEmpty()) {
        // The tables are there: creating the schema again would fail too.
        const QString rol = Conexion::Instancia().Consultar(QStringLiteral("SELECT current_user"))->Campo(0).toString();
        informe.Falla(QStringLiteral("el rol ") + rol + QStringLiteral(" no tiene permiso sobre las tablas (") +
                      vedadas.join(QStringLiteral(", ")) +
                      QStringLiteral("): como propietario de las tablas o superusuario ejecute 'orlan-admin rol ") +
                      rol + QStringLiteral("' (o 'GRANT SELECT ON ") + vedadas.join(QStringLiteral(", ")) +
                      QStringLiteral(" TO ") + rol + QStringLiteral("' y los demas permisos de una terminal)"));
        return false;
    }
    if (!faltan.isEmpty()) {
        informe.Falla(QStringLiteral("faltan tablas (") + faltan.join(QStringLiteral(", ")) +
                      QStringLiteral("): cree el esquema con 'orlan-admin esquema sqlite|postgresql|sqlserver'"));
        return false;
    }
    informe.Bien(QStringLiteral("esquema completo"));
    return true;
}

QString Valor(const Recordset& fila, const char* campo) {
    const QVariant v = fila.Campo(QLatin1String(campo));
    return v.isNull() ? QString() : v.toString();
}

// What a printer state letter means for the technician.
QString SignificadoEstado(const QString& letra) {
    if (letra == u"A") {
        return QStringLiteral("lista");
    }
    if (letra == u"P") {
        return QStringLiteral("sin papel o el puerto no se puede abrir");
    }
    if (letra == u"F") {
        return QStringLiteral("no contesta la consulta de estado");
    }
    if (letra == u"C") {
        return QStringLiteral("contesta 16 (tapa abierta o poco papel)");
    }
    return QStringLiteral("puerto de tipo desconocido");
}

// The serial port a printer's port name opens, COM1 to COM4 in any case, or
// nothing: a parallel port, COM5 to COM9 and names that are no port lead to no
// [Puertos] entry.
std::optional<NombrePuerto> PuertoSerieDe(const QString& puerto) {
    const std::optional<NombrePuerto> nombre = NombrePuerto::Leer(puerto);
    if (!nombre || nombre->clase != NombrePuerto::Clase::Serie || nombre->numero > NombrePuerto::kUltimoSerie) {
        return std::nullopt;
    }
    return nombre;
}

// Where a COM port leads and, for a device, why it cannot be opened: the
// technician's most common mistakes are a wrong path and a missing group.
QString DescribirDestino(const QString& puerto) {
    const std::optional<NombrePuerto> serie = PuertoSerieDe(puerto);
    if (!serie) {
        return QString();
    }
    const QString texto = PuertoSerie::Dispositivo(serie->numero);
    const PuertoCom::Destino destino = PuertoCom::Interpretar(texto);
    QString descripcion = serie->nombre + QStringLiteral(" = ") + texto;
    if (destino.tipo == PuertoCom::Destino::Tipo::Tcp) {
        return descripcion + (destino.valido ? QString() : QStringLiteral(": no es tcp:HOST:PUERTO"));
    }
    const QByteArray ruta = QFile::encodeName(destino.ruta);
    if (!QFileInfo::exists(destino.ruta)) {
        return descripcion + QStringLiteral(": no existe");
    }
    if (::access(ruta.constData(), R_OK | W_OK) != 0) {
        return descripcion + QStringLiteral(": sin permiso de lectura y escritura (agregue el usuario al grupo del "
                                            "dispositivo, dialout o lp)");
    }
    return descripcion;
}

// What to check for a parallel port that the kernel's ppdev driver serves
// ([Puertos] LPT=ppdev): LPTn opens /dev/parport<n-1>, and no setting names
// the device. Nothing for another port or mode.
QString RevisarPpdev(const QString& puerto) {
    const std::optional<NombrePuerto> nombre = NombrePuerto::Leer(puerto);
    if (!nombre || nombre->clase != NombrePuerto::Clase::Paralelo ||
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Puertos"), QStringLiteral("LPT"))
                .trimmed()
                .compare(QStringLiteral("ppdev"), Qt::CaseInsensitive) != 0) {
        return QString();
    }
    const QString ruta = QStringLiteral("/dev/parport") + QString::number(nombre->numero - 1);
    QString descripcion = nombre->nombre + QStringLiteral(" = ") + ruta + QStringLiteral(" (LPT=ppdev)");
    if (!QFileInfo::exists(ruta)) {
        descripcion += QStringLiteral(": no existe (cargue los modulos parport_pc y ppdev: modprobe ppdev)");
    } else if (::access(QFile::encodeName(ruta).constData(), R_OK | W_OK) != 0) {
        descripcion += QStringLiteral(": sin permiso de lectura y escritura (agregue el usuario al grupo lp)");
    }
    return QStringLiteral(" (") + descripcion + QStringLiteral("; revise el cable y la impresora)");
}

// Opens a printer's port as the server does and asks for its status.
void ProbarImpresora(Informe& informe, const Revision::Hallazgo& h, ctlImpresora& control) {
    const QString puerto = h.Dato(QStringLiteral("puerto"));
    const QString nombre = QStringLiteral("impresora ") + h.Dato(QStringLiteral("id")) + QStringLiteral(" '") +
                           h.Dato(QStringLiteral("nombre")) + QStringLiteral("' en ") + puerto + QStringLiteral(": ");
    QString letra;
    bool usable = false;
    try {
        usable = control.InicializarPuerto(puerto, &letra);
    } catch (const ErrorEjecucion&) {
        letra = QStringLiteral("D");
    }
    const QString destino = DescribirDestino(puerto);
    // Only names that pass the port rule get here; the settings spell them in
    // upper case.
    QString puertos = QStringLiteral(" (") + (destino.isEmpty() ? QString() : destino + QStringLiteral("; ")) +
                      QStringLiteral("revise [Puertos] ") + puerto.toUpper() + QStringLiteral(" en ") +
                      Ajustes::RutaArchivo(QStringLiteral("ORLAN")) + QStringLiteral(", el cable y la impresora)");
    if (const QString ppdev = RevisarPpdev(puerto); !ppdev.isEmpty()) {
        puertos = ppdev; // no setting names a ppdev port's device
    }
    const QString cola = QStringLiteral(" en [Cola] de ") + Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
    if (usable && control.Ocupada()) {
        // It answered before: silence on a connection it took is another
        // sender's turn, not a printer that cannot answer.
        informe.Aviso(nombre +
                      QStringLiteral("ocupada: tomo la conexion y no contesto, como cuando otro programa "
                                     "imprime en ella o aun le llega un trabajo anterior; pruebe de nuevo "
                                     "en un momento") +
                      puertos);
    } else if (usable && control.SinLinea() && letra == u"F") {
        // With the default settings its jobs would be held unconfirmed.
        informe.Aviso(nombre +
                      QStringLiteral("impresora de red o USB que no contesta la consulta de estado: sus "
                                     "trabajos no se pueden confirmar y quedan retenidos. Si no puede "
                                     "contestar, ponga ConfirmarRecepcionRed=0") +
                      cola + QStringLiteral(" (un corte de luz puede entonces perder un trabajo)") + puertos);
    } else if (usable && letra == u"A") {
        informe.Bien(nombre + QStringLiteral("el puerto abre y la impresora contesta lista"));
        if (control.SinLinea() && control.ConfirmarRecepcion() && control.PapelBajo()) {
            informe.Aviso(nombre + QStringLiteral("papel por terminarse: sigue imprimiendo; cambie el rollo pronto"));
        }
        const bool star = control.ModoImpresora() == 3;
        const std::optional<NombrePuerto> serie = PuertoSerieDe(puerto);
        if (control.SinLinea() &&
            (star || (serie && ctlImpresora::SoloTiempoReal(PuertoSerie::Dispositivo(serie->numero))))) {
            informe.Aviso(nombre + (star ? QStringLiteral("en modo Star") : QStringLiteral("no responde GS r 1")) +
                          QStringLiteral(": sus trabajos se confirman con DLE EOT 4, que responde antes de imprimir; "
                                         "un corte de luz puede perder un trabajo"));
        }
    } else if (usable) {
        informe.Aviso(nombre + QStringLiteral("el puerto abre; estado ") + letra + u' ' + SignificadoEstado(letra) +
                      puertos);
    } else {
        informe.Falla(nombre + QStringLiteral("estado ") + letra + u' ' + SignificadoEstado(letra) +
                      QStringLiteral(": sus trabajos iran al respaldo") + puertos);
    }
}

// The terminal's rows and printers, as the server checks them when it starts;
// each printer whose port the server can open is then opened and asked for
// its status before its backups are shown.
void RevisarTerminal(Informe& informe, qint16 terminal) {
    ctlImpresora control;
    for (const Revision::Hallazgo& h : Revision::RevisarTerminal(terminal)) {
        if (h.comprobacion == Revision::kPuerto && h.gravedad != Revision::Gravedad::Falla) {
            if (h.gravedad == Revision::Gravedad::Aviso) {
                informe.Hallazgo(h);
            }
            ProbarImpresora(informe, h, control);
        } else {
            informe.Hallazgo(h);
        }
    }
    // What the running server found when it last tried each printer, which
    // the probe above may not see (a printer that failed mid-job, a device
    // only the service cannot reach).
    if (!ExisteColumna(QStringLiteral("Impresora"), QStringLiteral("Falla"))) {
        return;
    }
    const auto fallas = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Id_Impresora, Falla FROM Impresora WHERE ID_Terminal = ? AND Falla IS NOT NULL "
                       "ORDER BY Id_Impresora"),
        {qint64(terminal)});
    for (; !fallas->Fin(); fallas->MoveNext()) {
        // A warning: the server may have stopped since it wrote it.
        informe.Aviso(QStringLiteral("impresora ") + Valor(*fallas, "Id_Impresora") +
                      QStringLiteral(": el servidor no pudo imprimir en ella la ultima vez que lo intento: ") +
                      Valor(*fallas, "Falla"));
    }
}

// What orlan-cola@USER.service lets the server do that this program, run
// outside the unit, may do anyway: write outside the unit's writable
// directories (ReadWritePaths=) and reach /tmp and /var/tmp, which the unit
// replaces with its own (PrivateTmp=). The unit's own values come from
// systemd; where it does not answer, from the packaged unit. Nothing is
// checked where the unit is not installed.
void RevisarEncierro(Informe& informe, int terminal) {
    const passwd* cuenta = ::getpwuid(::geteuid());
    if (!cuenta || !QFileInfo::exists(QStringLiteral("/lib/systemd/system/orlan-cola@.service"))) {
        return;
    }
    const QString usuario = QString::fromLocal8Bit(cuenta->pw_name);
    const QString unidad = QStringLiteral("orlan-cola@") + usuario + QStringLiteral(".service");
    QStringList escribibles{QStringLiteral("/home/") + usuario + QStringLiteral("/.config/orlan"),
                            QStringLiteral("/home/") + usuario + QStringLiteral("/.local/share/orlan")};
    bool tmpPropio = true;
    QProcess systemctl;
    systemctl.start(QStringLiteral("systemctl"),
                    {QStringLiteral("show"), QStringLiteral("-p"), QStringLiteral("ReadWritePaths"),
                     QStringLiteral("-p"), QStringLiteral("PrivateTmp"), unidad});
    if (systemctl.waitForFinished(5000) && systemctl.exitCode() == 0) {
        for (const QString& linea : QString::fromLocal8Bit(systemctl.readAllStandardOutput()).split(u'\n')) {
            if (linea.startsWith(QLatin1String("ReadWritePaths="))) {
                escribibles.clear();
                for (QString ruta : linea.mid(15).split(u' ', Qt::SkipEmptyParts)) {
                    escribibles << ruta.remove(0, ruta.startsWith(u'-'));
                }
            } else if (linea.startsWith(QLatin1String("PrivateTmp="))) {
                tmpPropio = linea.mid(11) == u"yes";
            }
        }
    }
    const auto dentroDe = [](const QString& ruta, const QString& directorio) {
        return ruta == directorio || ruta.startsWith(directorio + u'/');
    };
    const QString base = Configuracion(QStringLiteral("BASE_DE_DATOS"));
    if (base.startsWith(u'/')) {
        // SQLite writes its journal next to the file: the directory must be writable.
        const QString directorio = QFileInfo(QFileInfo(base).absolutePath()).canonicalFilePath();
        const bool escribible = std::any_of(escribibles.begin(), escribibles.end(), [&](const QString& e) {
            return dentroDe(directorio, QFileInfo(e).canonicalFilePath()) || dentroDe(directorio, e);
        });
        if (!escribible) {
            informe.Falla(QStringLiteral("BASE_DE_DATOS=") + base + QStringLiteral(": el servicio ") + unidad +
                          QStringLiteral(" solo escribe en ") + escribibles.join(QStringLiteral(", ")) +
                          QStringLiteral(" (ReadWritePaths=): mueva alli la base de datos o agregue su directorio "
                                         "con 'systemctl edit ") +
                          unidad + u'\'');
        }
    }
    if (!tmpPropio || terminal == 0) {
        return;
    }
    const auto impresoras = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Puerto FROM Impresora WHERE ID_Terminal = ? AND esdecheques = 0"), {terminal});
    for (; !impresoras->Fin(); impresoras->MoveNext()) {
        const QString puerto = Valor(*impresoras, "Puerto");
        const std::optional<NombrePuerto> serie = PuertoSerieDe(puerto);
        if (!serie) {
            continue;
        }
        const QString ruta = PuertoCom::Interpretar(PuertoSerie::Dispositivo(serie->numero)).ruta;
        for (const QString& camino : {QFileInfo(ruta).absoluteFilePath(), QFileInfo(ruta).canonicalFilePath()}) {
            if (dentroDe(camino, QStringLiteral("/tmp")) || dentroDe(camino, QStringLiteral("/var/tmp"))) {
                informe.Falla(serie->nombre + QStringLiteral(" = ") + ruta + QStringLiteral(": el servicio ") + unidad +
                              QStringLiteral(" tiene su propio /tmp (PrivateTmp=yes) y no ve ") + camino +
                              QStringLiteral("; use una ruta fuera de /tmp y /var/tmp"));
                break;
            }
        }
    }
}

} // namespace

int Diagnosticar(QTextStream& salida) {
    Informe informe(salida);
    const int terminal = RevisarAjustes(informe);
    RevisarCredenciales(informe);
    if (!RevisarRegistro(informe)) {
        return 1;
    }
    const Revision::Hallazgo conexion = Revision::RevisarConexion();
    informe.Hallazgo(conexion);
    if (conexion.gravedad == Revision::Gravedad::Falla) {
        return 1;
    }
    try {
        if (RevisarEsquema(informe) && terminal != 0) {
            RevisarTerminal(informe, terminal);
        }
        RevisarEncierro(informe, terminal);
    } catch (const ErrorEjecucion& e) {
        informe.Falla(QStringLiteral("la base de datos fallo: ") + e.Descripcion());
    }
    salida << (informe.Fallas() == 0 ? "La terminal puede servir la cola." : "La terminal no puede servir la cola.")
           << Qt::endl;
    return informe.Fallas() == 0 ? 0 : 1;
}
