#include "startup/Arranque.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "database/FalloConexion.h"
#include "platform/Ajustes.h"
#include "platform/CajaMensajes.h"
#include "platform/Reloj.h"
#include "platform/Senales.h"
#include "platform/Servicio.h"
#include "revision/RevisionTerminal.h"
#include "server/ServidorCola.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"
#include "support/Estado.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

// The lines said since the server last started serving: a start tried
// every few seconds for hours says each once.
QSet<QString>& Dichos() {
    static QSet<QString> dichos;
    return dichos;
}

// Service mode: a line on standard error and the same in the event log, so
// that both the journal and the log tell the technician what to fix.
void Avisar(const QString& texto) {
    if (Dichos().contains(texto)) {
        return;
    }
    Dichos().insert(texto);
    std::fprintf(stderr, "orlan-cola: %s\n", texto.toLocal8Bit().constData());
    std::fflush(stderr);
    Registrar(texto);
}

QString Configuracion() {
    return QStringLiteral("[Configuracion] de ") + Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
}

// What to do about a load that failed with the database's `error`. A SQLite
// file the service may not write is the usual one: the unit writes only in
// its own directories, while the same file written from a shell works. The
// connection opens, and the first write fails on the file or on the journal
// SQLite makes next to it.
QString ArregloCarga(const QString& error, const QString& bitacora) {
    const QString texto = error.toLower();
    const passwd* cuenta = ::getpwuid(::geteuid());
    if (Servicio::Gestionado() && cuenta &&
        (texto.contains(QLatin1String("readonly database")) || texto.contains(QLatin1String("read-only")) ||
         texto.contains(QLatin1String("unable to open database file")))) {
        const QString unidad =
            QStringLiteral("orlan-cola@") + QString::fromLocal8Bit(cuenta->pw_name) + QStringLiteral(".service");
        const QString base = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"),
                                           QStringLiteral("BASE_DE_DATOS"), QString());
        return QStringLiteral("BASE_DE_DATOS=") + base + QStringLiteral(": el servicio ") + unidad +
               QStringLiteral(" no puede escribir en ") + QFileInfo(base).absolutePath() +
               QStringLiteral(" (ReadWritePaths=): mueva la base de datos a ~/.local/share/orlan o agregue su "
                              "directorio con 'systemctl edit ") +
               unidad + u'\'';
    }
    return QStringLiteral("vea la bitacora en ") + bitacora;
}

} // namespace

QStringList AvisosTerminal(qint16 terminal) {
    QStringList avisos;
    QList<Revision::Hallazgo> hallazgos;
    try {
        hallazgos = Revision::RevisarTerminal(terminal);
    } catch (const ErrorEjecucion&) {
        // No schema: loading the printers fails next and says so.
    }
    const QString numero = QString::number(terminal);
    const QString agregar = QStringLiteral("orlan-admin terminal agregar ") + numero;
    for (const Revision::Hallazgo& h : hallazgos) {
        const QString c = h.comprobacion;
        if (h.gravedad == Revision::Gravedad::Bien) {
            continue;
        }
        if (c == Revision::kFilaTerminal) {
            avisos << QStringLiteral("la terminal ") + numero +
                          QStringLiteral(" no tiene fila en la tabla Terminal; agreguela con '") + agregar +
                          QStringLiteral("' o corrija Terminal en ") + Configuracion();
        } else if (c == Revision::kImpresoras) {
            avisos << QStringLiteral("la terminal ") + numero +
                          QStringLiteral(" no tiene impresoras en la tabla Impresora: no imprimira nada; agregue "
                                         "una con 'orlan-admin impresora agregar --terminal ") +
                          numero + QStringLiteral(" --puerto COM1 --modo E --nombre Caja'");
        } else if (c == Revision::kParametroTerminal) {
            avisos << QStringLiteral("falta la fila 'TERMINAL' de la tabla Parametros: cada redireccion a una "
                                     "impresora de respaldo fallara; '") +
                          agregar + QStringLiteral("' la crea");
        } else if (c == Revision::kEstado) {
            const QString id = h.Dato(QStringLiteral("id"));
            avisos << QStringLiteral("la impresora ") + id + QStringLiteral(" tiene Estado_Impresora ") +
                          h.Dato(QStringLiteral("estado")) +
                          QStringLiteral(", que la deja fuera de servicio: no imprimira; 'orlan-admin restablecer ") +
                          id + QStringLiteral("' la pone en servicio");
        } else {
            avisos << Revision::Describir(h);
        }
    }
    return avisos;
}

namespace {

// One attempt at starting: the terminal number, the connection and, without a
// window, the printers. Returns kSalidaNormal when the queue can be served
// (or, in window mode, the window is up), else the exit status and in `causa`
// what keeps the terminal from serving.
int Intentar(const OpcionesArranque& opciones, std::unique_ptr<ServidorCola>& servidor, bool& sirviendo,
             QString& causa) {
    const QString terminal =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), QStringLiteral("Terminal"), "0");
    qint16 numero = 0;
    const Revision::Hallazgo numeroTerminal = Revision::RevisarNumeroTerminal(terminal, &numero);
    if (numeroTerminal.gravedad == Revision::Gravedad::Falla) {
        if (terminal.trimmed() != u"0") {
            Registrar(QStringLiteral("Valor no valido en Configuracion/Terminal: \"") + terminal + u'"');
        }
        MostrarMensaje(QStringLiteral("Error de instalación, faltan parametros"), 16);
        causa = QStringLiteral("escriba el numero de esta terminal (1 a 32767, su ID_Terminal) como Terminal=N en ") +
                Configuracion();
        if (opciones.servicio) {
            Avisar(causa);
        }
        return kSalidaInstalacion;
    }
    if (numeroTerminal.gravedad == Revision::Gravedad::Aviso && opciones.servicio) {
        Avisar(Revision::Describir(numeroTerminal));
    }
    NumeroTerminal = numero;

    // Window mode ends here without a word, as it always did; a service has
    // no one to ask, so it says what to fix.
    const Revision::Hallazgo conexion = Revision::RevisarConexion();
    if (conexion.gravedad == Revision::Gravedad::Falla) {
        causa = QStringLiteral("sin base de datos: ") + conexion.Dato(QStringLiteral("causa"));
        if (opciones.servicio) {
            Avisar(Revision::Describir(conexion));
        }
        return kSalidaConexion;
    }
    std::printf("orlan-cola: terminal %d, conexion abierta con %s\n", NumeroTerminal,
                NombreServidor.toLocal8Bit().constData());
    std::fflush(stdout);
    if (opciones.servicio) {
        for (const QString& aviso : AvisosTerminal(NumeroTerminal)) {
            Avisar(aviso);
        }
    }

    const QString bitacora = RutaBitacora(Reloj::Ahora().date());
    sirviendo = true;
    if (opciones.mostrarVentana) {
        sirviendo = opciones.mostrarVentana();
        if (!sirviendo) {
            std::fprintf(stderr,
                         "orlan-cola: no se pudieron cargar las impresoras de la terminal %d; la ventana queda a la "
                         "vista sin servir la cola; vea la bitacora en %s\n",
                         NumeroTerminal, bitacora.toLocal8Bit().constData());
        }
    } else {
        servidor = std::make_unique<ServidorCola>(NumeroTerminal);
        if (!servidor->Cargar()) {
            const QString error = servidor->CausaCarga();
            servidor.reset();
            causa = QStringLiteral("no se pudieron cargar las impresoras de la terminal %1").arg(NumeroTerminal) +
                    (error.isEmpty() ? QString() : QStringLiteral(": ") + error) + u';' + u' ' +
                    ArregloCarga(error, bitacora);
            std::fprintf(stderr, "orlan-cola: %s\n", causa.toLocal8Bit().constData());
            return kSalidaCarga;
        }
    }
    return kSalidaNormal;
}

// Waits `pausa`, or less when the settings or the credentials file changes
// (an editor may replace it, so their directories are watched as well), while
// the manager's watchdog is kept fed. False when a stop was asked for.
bool EsperarReintento(std::chrono::milliseconds pausa) {
    if (Senales::Pedida()) {
        return false;
    }
    QEventLoop espera;
    bool detenido = false;
    QTimer fin;
    fin.setSingleShot(true);
    QObject::connect(&fin, &QTimer::timeout, &espera, &QEventLoop::quit);
    fin.start(pausa);
    QTimer vivo;
    QObject::connect(&vivo, &QTimer::timeout, [] { Servicio::Vivo(); });
    vivo.start(std::chrono::seconds(30));
    QFileSystemWatcher vigia;
    for (const QString& archivo :
         {Ajustes::RutaArchivo(QStringLiteral("ORLAN")), ProveedorCredenciales::RutaArchivo()}) {
        const QFileInfo info(archivo);
        for (const QString& ruta : {info.absoluteFilePath(), info.absolutePath()}) {
            if (QFileInfo::exists(ruta)) {
                vigia.addPath(ruta);
            }
        }
    }
    QObject::connect(&vigia, &QFileSystemWatcher::fileChanged, &espera, &QEventLoop::quit);
    QObject::connect(&vigia, &QFileSystemWatcher::directoryChanged, &espera, &QEventLoop::quit);
    Senales::AlTerminar([&](int) {
        detenido = true;
        espera.quit();
    });
    espera.exec();
    // The handler must not outlive this loop; a signal during the next
    // attempt is seen by Senales::Pedida before the next wait.
    Senales::AlTerminar([](int) {});
    return !detenido;
}

QString Segundos(std::chrono::milliseconds pausa) {
    return QString::number(pausa.count() / 1000.0);
}

} // namespace

std::chrono::milliseconds PausaReintento(int fallos, std::chrono::milliseconds primera,
                                         std::chrono::milliseconds maxima) {
    std::chrono::milliseconds pausa = primera;
    for (int i = 0; i < fallos && pausa < maxima; ++i) {
        pausa *= 2;
    }
    return std::min(pausa, maxima);
}

int Arrancar(const OpcionesArranque& opciones) {
    Ajustes::EstablecerAvisos([](const QString& aviso) { Registrar(aviso); });

    std::unique_ptr<ServidorCola> servidor;
    bool sirviendo = false;
    for (int fallos = 0;;) {
        QString causa;
        const int salida = Intentar(opciones, servidor, sirviendo, causa);
        if (salida == kSalidaNormal) {
            Dichos().clear();
            break;
        }
        if (!opciones.reintentar) {
            return salida;
        }
        std::chrono::milliseconds pausa = opciones.pausaConexion;
        QString archivo = Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
        if (salida != kSalidaConexion) {
            pausa = PausaReintento(fallos++, opciones.primeraPausa, opciones.pausaMaxima);
        } else if (CredencialesRechazadas()) {
            pausa = PausaReintento(fallos++, opciones.primeraPausa, opciones.pausaMaxima);
            causa += QStringLiteral("; credenciales rechazadas");
            archivo = ProveedorCredenciales::RutaArchivo();
        }
        Servicio::Estado(causa + QStringLiteral("; nuevo intento en ") + Segundos(pausa) +
                         QStringLiteral(" s o al cambiar ") + archivo);
        Servicio::Listo();
        if (!EsperarReintento(pausa)) {
            Registrar(QStringLiteral("Apagando Servidor de Comunicaciones"));
            return kSalidaNormal;
        }
    }
    // A stop request is handled between events, so a tick that is printing
    // finishes its job first. exit() rather than quit(): quit() asks every
    // window to close first, and the server window and the dialogs refuse.
    Senales::AlTerminar([](int) { QCoreApplication::exit(0); });
    // A statement that holds the tick (a lock another terminal keeps, a slow
    // plan) would keep the stop request waiting as long as it runs: it is
    // cancelled at once, the tick ends on its failure, and no later statement
    // starts. A job whose deletion was cancelled is printed again next time.
    Senales::AlTerminarDesdeOtroHilo([] { Conexion::Instancia().Interrumpir(); });
    if (sirviendo) {
        std::printf("orlan-cola: sirviendo la cola de impresion (%s)\n",
                    opciones.servicio ? "servicio" : (opciones.mostrarVentana ? "ventana" : "sin ventana"));
        std::fflush(stdout);
        if (servidor && Servicio::Gestionado()) {
            Servicio::Estado(servidor->Resumen());
        }
        Servicio::Listo();
    }
    QCoreApplication::exec();
    Registrar(QStringLiteral("Apagando Servidor de Comunicaciones"));
    return kSalidaNormal;
}
