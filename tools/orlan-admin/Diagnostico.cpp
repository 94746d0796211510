#include "Diagnostico.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "database/FalloConexion.h"
#include "platform/Ajustes.h"
#include "ports/PuertoCom.h"
#include "ports/PuertoSerie.h"
#include "printer/ctlImpresora.h"
#include "support/ErrorEjecucion.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <algorithm>
#include <memory>
#include <pwd.h>
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
    const QString valor = Configuracion(QStringLiteral("Terminal"));
    bool numero = false;
    const int terminal = valor.toInt(&numero);
    if (!numero || terminal <= 0 || terminal > 32767) {
        informe.Falla(QStringLiteral("Terminal=") + valor +
                      QStringLiteral(" no es un numero de terminal: escriba "
                                     "Terminal=N (1 a 32767)") +
                      seccion);
        return 0;
    }
    informe.Bien(QStringLiteral("Terminal=") + valor);
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

// Finds a driver library where the driver manager looks for it: a path, or
// a name in the driver manager's own directory or on the loader's path.
bool LibreriaInstalada(const QString& libreria) {
    if (libreria.contains(u'/')) {
        return QFileInfo(libreria).isFile();
    }
    for (const char* directorio : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/x86_64-linux-gnu", "/usr/lib/odbc",
                                   "/usr/lib", "/usr/local/lib"}) {
        if (QFileInfo(QLatin1String(directorio) + u'/' + libreria).isFile()) {
            return true;
        }
    }
    return false;
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
    for (const char* tabla : {"Terminal", "Impresora", "ColaImpresion", "DetalleColaImpresion", "Parametros",
                              "Transacciones", "TransaccionesXTerminal", "Empleado"}) {
        try {
            Conexion::Instancia().Consultar(QStringLiteral("SELECT * FROM ") + QLatin1String(tabla) +
                                            QStringLiteral(" WHERE 1 = 0"));
        } catch (const ErrorEjecucion&) {
            faltan << QLatin1String(tabla);
        }
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

// Where a COM port leads and, for a device, why it cannot be opened: the
// technician's most common mistakes are a wrong path and a missing group.
QString DescribirDestino(const QString& puerto) {
    if (!puerto.startsWith(QLatin1String("COM"))) {
        return QString();
    }
    const QString texto = PuertoSerie::Dispositivo(puerto.mid(3).toInt());
    const PuertoCom::Destino destino = PuertoCom::Interpretar(texto);
    QString descripcion = puerto + QStringLiteral(" = ") + texto;
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

void RevisarImpresora(Informe& informe, const Recordset& fila, ctlImpresora& control) {
    const QString id = Valor(fila, "Id_Impresora");
    const QString puerto = Valor(fila, "Puerto");
    const QString nombre = QStringLiteral("impresora ") + id + QStringLiteral(" '") + Valor(fila, "Nombre_Impresora") +
                           QStringLiteral("' en ") + puerto + QStringLiteral(": ");
    const QString restablecer = QStringLiteral("'orlan-admin restablecer ") + id + u'\'';
    // The server prints in the dialect of the port's section, not the row's.
    const QString modo = Ajustes::Leer(QStringLiteral("orlan"), puerto, QStringLiteral("Modo"), QStringLiteral("E"));
    if (Ajustes::NombreValido(puerto) && modo != Valor(fila, "Modo")) {
        informe.Aviso(nombre + QStringLiteral("Modo ") + Valor(fila, "Modo") +
                      QStringLiteral(" en la base de datos, pero se imprime en el Modo ") + modo +
                      QStringLiteral(" de [") + puerto + QStringLiteral("] en ") +
                      Ajustes::RutaArchivo(QStringLiteral("ORLAN")) + QStringLiteral("; escriba Modo=") +
                      Valor(fila, "Modo") + QStringLiteral(" alli"));
    }
    const QString estado = Valor(fila, "Estado_Impresora");
    if (estado.isEmpty() || estado == u"D") {
        informe.Falla(nombre + QStringLiteral("fuera de servicio (Estado_Impresora ") +
                      (estado.isEmpty() ? QStringLiteral("NULL") : estado) +
                      QStringLiteral("): sus trabajos van al respaldo; ") + restablecer +
                      QStringLiteral(" la vuelve a servir"));
    } else if (Valor(fila, "Redirigido") != id) {
        informe.Aviso(nombre + QStringLiteral("sus trabajos van a la impresora ") + Valor(fila, "Redirigido") +
                      QStringLiteral("; ") + restablecer + QStringLiteral(" la vuelve a servir"));
    } else if (estado == u"F" && Valor(fila, "Id_Impresora_Respaldo").isEmpty()) {
        informe.Aviso(nombre +
                      QStringLiteral("no confirmo un trabajo y no tiene respaldo: sus trabajos esperan "
                                     "hasta que conteste; ") +
                      restablecer + QStringLiteral(" la vuelve a servir"));
    }
    QString letra;
    bool usable = false;
    try {
        usable = Ajustes::NombreValido(puerto) && control.InicializarPuerto(puerto, &letra);
    } catch (const ErrorEjecucion&) {
        letra = QStringLiteral("D");
    }
    const QString destino = DescribirDestino(puerto);
    const QString puertos = QStringLiteral(" (") + (destino.isEmpty() ? QString() : destino + QStringLiteral("; ")) +
                            QStringLiteral("revise [Puertos] ") + puerto + QStringLiteral(" en ") +
                            Ajustes::RutaArchivo(QStringLiteral("ORLAN")) +
                            QStringLiteral(", el cable y la impresora)");
    const QString cola = QStringLiteral(" en [Cola] de ") + Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
    if (usable && control.SinLinea() && letra == u"F") {
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
        if (control.SinLinea() &&
            (star || ctlImpresora::SoloTiempoReal(PuertoSerie::Dispositivo(puerto.mid(3).toInt())))) {
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

// Follows the backups from printer `id` until a printer repeats or the chain ends.
void RevisarRespaldos(Informe& informe, const QString& id) {
    QStringList cadena{id};
    QSet<QString> vistas{id};
    QString actual = id;
    for (;;) {
        const auto fila = Conexion::Instancia().Consultar(
            QStringLiteral("SELECT Id_Impresora_Respaldo FROM Impresora WHERE Id_Impresora = ") + actual);
        const QString respaldo = fila->Fin() ? QString() : Valor(*fila, "Id_Impresora_Respaldo");
        if (respaldo.isEmpty()) {
            if (actual == id) {
                informe.Aviso(QStringLiteral("impresora ") + id +
                              QStringLiteral(" sin respaldo: si falla, sus trabajos esperan a que vuelva; "
                                             "'orlan-admin impresora respaldo ") +
                              id + QStringLiteral(" M' le da uno"));
                return;
            }
            break;
        }
        const auto siguiente = Conexion::Instancia().Consultar(
            QStringLiteral("SELECT esdecheques FROM Impresora WHERE Id_Impresora = ") + respaldo);
        if (siguiente->Fin()) {
            informe.Falla(QStringLiteral("impresora ") + actual + QStringLiteral(": su respaldo ") + respaldo +
                          QStringLiteral(" no existe; 'orlan-admin impresora respaldo ") + actual +
                          QStringLiteral(" M' lo corrige"));
            return;
        }
        if (siguiente->Campo(0).toInt() != 0) {
            informe.Falla(QStringLiteral("impresora ") + actual + QStringLiteral(": su respaldo ") + respaldo +
                          QStringLiteral(" es de cheques y nadie serviria sus trabajos"));
            return;
        }
        cadena << respaldo;
        if (vistas.contains(respaldo)) {
            break;
        }
        vistas.insert(respaldo);
        actual = respaldo;
    }
    informe.Bien(QStringLiteral("respaldos de la impresora ") + id + QStringLiteral(": ") +
                 cadena.join(QStringLiteral(" -> ")));
}

void RevisarTerminal(Informe& informe, int terminal) {
    const QString numero = QString::number(terminal);
    if (ObtenerValor(QStringLiteral("COUNT(*)"), QStringLiteral("Terminal"), QStringLiteral("ID_Terminal = ") + numero)
            .toInt() == 0) {
        informe.Falla(QStringLiteral("la terminal ") + numero +
                      QStringLiteral(" no esta en la tabla Terminal: 'orlan-admin terminal agregar ") + numero + u'\'');
    } else {
        informe.Bien(QStringLiteral("terminal ") + numero + QStringLiteral(" en la tabla Terminal"));
    }
    if (ObtenerValor(QStringLiteral("COUNT(*)"), QStringLiteral("Parametros"),
                     QStringLiteral("Id_Parametro = 'TERMINAL'"))
            .toInt() == 0) {
        informe.Falla(QStringLiteral("falta la fila 'TERMINAL' de Parametros: las redirecciones fallarian; "
                                     "'orlan-admin terminal agregar N' o 'orlan-admin restablecer N' la crean"));
    }
    const auto impresoras = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Id_Impresora, Puerto, Modo, Nombre_Impresora, Redirigido, Estado_Impresora, "
                       "Id_Impresora_Respaldo FROM Impresora "
                       "WHERE ID_Terminal = ") +
        numero + QStringLiteral(" AND esdecheques = 0 ORDER BY Id_Impresora"));
    if (impresoras->Fin()) {
        informe.Falla(QStringLiteral("la terminal ") + numero +
                      QStringLiteral(" no tiene impresoras: 'orlan-admin impresora agregar --terminal ") + numero +
                      QStringLiteral(" --puerto COM1 --modo E --nombre Caja'"));
        return;
    }
    ctlImpresora control;
    for (; !impresoras->Fin(); impresoras->MoveNext()) {
        RevisarImpresora(informe, *impresoras, control);
        RevisarRespaldos(informe, Valor(*impresoras, "Id_Impresora"));
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
    if (!tmpPropio || terminal <= 0) {
        return;
    }
    const auto impresoras =
        Conexion::Instancia().Consultar(QStringLiteral("SELECT Puerto FROM Impresora WHERE ID_Terminal = ") +
                                        QString::number(terminal) + QStringLiteral(" AND esdecheques = 0"));
    for (; !impresoras->Fin(); impresoras->MoveNext()) {
        const QString puerto = Valor(*impresoras, "Puerto");
        if (!puerto.startsWith(QLatin1String("COM"))) {
            continue;
        }
        const QString ruta = PuertoCom::Interpretar(PuertoSerie::Dispositivo(puerto.mid(3).toInt())).ruta;
        for (const QString& camino : {QFileInfo(ruta).absoluteFilePath(), QFileInfo(ruta).canonicalFilePath()}) {
            if (dentroDe(camino, QStringLiteral("/tmp")) || dentroDe(camino, QStringLiteral("/var/tmp"))) {
                informe.Falla(puerto + QStringLiteral(" = ") + ruta + QStringLiteral(": el servicio ") + unidad +
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
    if (!Conectar()) {
        informe.Falla(QStringLiteral("no se pudo conectar con la base de datos: ") + ExplicarFalloConexion());
        return 1;
    }
    informe.Bien(QStringLiteral("conexion con la base de datos"));
    try {
        if (RevisarEsquema(informe) && terminal > 0) {
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
