#include "server/ServidorCola.h"

#include "database/ColumnaOpcional.h"
#include "platform/Ajustes.h"
#include "platform/Senales.h"
#include "platform/Servicio.h"
#include "ports/NombrePuerto.h"
#include "server/InterpretarRenglon.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>

namespace {

const QString kOrigen = QStringLiteral("Base de Datos");

// Leaves the tick's guard however the tick ends.
struct Guardia {
    bool& bandera;
    explicit Guardia(bool& b) : bandera(b) { bandera = true; }
    ~Guardia() { bandera = false; }
};

// [Cola] EdadMaxima: the whole minutes a job may have waited when its printer
// can take it; an older one is set aside unprinted. 0 (off) when absent,
// empty or 0; a value that is no whole number from 0 to a week is logged
// once and leaves it off.
qint64 EdadMaxima() {
    constexpr qint64 kSemana = 7 * 24 * 60;
    const QString valor =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("EdadMaxima"), QString())
            .trimmed();
    bool ok = false;
    const qint64 minutos = valor.toLongLong(&ok);
    if (valor.isEmpty() || (ok && minutos >= 0 && minutos <= kSemana)) {
        return valor.isEmpty() ? 0 : minutos;
    }
    static QString avisado;
    if (avisado != valor) {
        avisado = valor;
        Registrar(QStringLiteral("Cola Impresion, ajuste EdadMaxima no valido: '%1' (minutos de 0 a %2); no se "
                                 "apartan trabajos por su edad")
                      .arg(valor.left(40))
                      .arg(kSemana));
    }
    return 0;
}
} // namespace

void RegistrarFallaCola(const ErrorEjecucion& e) {
    Registrar(QStringLiteral("Cola Impresion, ") + e.Descripcion());
    ManejarErrorBD(kOrigen, e.Numero(), e.Descripcion(), e.Errores());
}

ServidorCola::ServidorCola(qint16 numeroTerminal, QObject* parent)
    : QObject(parent), m_numeroTerminal(numeroTerminal), m_repositorio(numeroTerminal),
      m_reclamos(m_repositorio, m_pr2, [this] { return m_enVentana.keys(); }),
      m_salud(numeroTerminal, m_repositorio, m_pr2) {
    // Terminals started together would otherwise poll the database at the
    // same instants for as long as they run: the first tick falls anywhere in
    // the first period, and a precise timer keeps the phase (a coarse one
    // rounds a 2-s period to a 500-ms grid).
    m_timer1.setTimerType(Qt::PreciseTimer);
    connect(&m_timer1, &QTimer::timeout, this, [this] {
        const bool estirado = m_timer1.interval() == kPeriodoAvisadoMs;
        const qint64 ticks = m_ticks;
        Timer1_Timer();
        if (estirado && m_ticks != ticks && m_hallados && m_avisoCompleto) {
            // The poll found work that no notice announced (triggers
            // disabled, a writer that bypasses them): notices are not
            // trusted any more.
            m_avisoCompleto = false;
            m_timer1.setInterval(kPeriodoMs);
            Registrar(QStringLiteral("Cola Impresion, la base de datos no aviso de un trabajo pendiente: se consulta "
                                     "cada 2 s"));
        }
    });
    m_timer1.start(QRandomGenerator::global()->bounded(kPeriodoMs));
    // The printer control's waits keep every claim alive: a job's, and
    // those of the jobs waiting for their window, between jobs too.
    m_pr2.EstablecerLatido([this] { m_reclamos.Renovar(); });
    if (QCoreApplication::instance() != nullptr) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { CerrarVentanas(); });
    }
    m_despertador.setSingleShot(true);
    m_despertador.setInterval(0);
    connect(&m_despertador, &QTimer::timeout, this, [this] {
        if (m_enTick) {
            m_despertarPendiente = true;
        } else {
            Timer1_Timer();
        }
    });
}

void ServidorCola::Despertar() {
    if (m_despertador.isActive()) {
        return;
    }
    // Any role of the database may send the notice, in a loop too: a wake-up
    // comes no sooner than kPausaDespertar after the last tick ended, so a
    // flood of notices costs a few job queries a second, not one each.
    const qint64 desde = m_finTick.isValid() ? m_finTick.elapsed() : kPausaDespertarMs;
    m_despertador.start(static_cast<int>(std::max<qint64>(0, kPausaDespertarMs - desde)));
}

bool ServidorCola::Cargar() {
    if (!Conexion::Instancia().Abierta()) {
        return false;
    }
    try {
        if (!TomarTerminal()) {
            return false;
        }
        CargarImpresoras();
        Registrar(QStringLiteral("Iniciando Cola de Impresion "));
        m_activo = true;
        if (Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("Despertar"),
                          QStringLiteral("0"))
                    .trimmed() == u'1' &&
            !m_aviso) {
            m_aviso = AvisoCambios::Crear();
            if (m_aviso) {
                connect(m_aviso.get(), &AvisoCambios::Cambio, this, &ServidorCola::Despertar);
                m_avisoCompleto = AvisoCompleto();
                connect(m_aviso.get(), &AvisoCambios::Perdido, this, [this] {
                    if (m_timer1.isActive() && m_timer1.interval() != kPeriodoMs) {
                        m_timer1.start(kPeriodoMs); // polling finds the work again from now on
                    }
                });
            }
        }
        return true;
    } catch (const ErrorEjecucion& e) {
        RegistrarFallaCola(e);
        m_causaCarga = e.Descripcion();
        return false;
    }
}

bool ServidorCola::AvisoCompleto() {
    if (!Conexion::Instancia().EsPostgres()) {
        return true; // the database file itself is watched
    }
    const bool completo =
        Conexion::Instancia()
            .Consultar(QStringLiteral("SELECT COUNT(*) FROM pg_trigger WHERE NOT tgisinternal AND tgenabled <> 'D' AND "
                                      "tgname IN "
                                      "('orlan_trabajo_nuevo', 'orlan_trabajo_liberado', "
                                      "'orlan_impresora_redirigida')"))
            ->Campo(0)
            .toLongLong() == 3;
    if (!completo) {
        Registrar(
            QStringLiteral("Cola Impresion, la base de datos no tiene los disparadores de Despertar ('orlan-admin "
                           "esquema postgresql --despertar' los crea): se consulta cada 2 s"));
    }
    return completo;
}

QString ServidorCola::Resumen() {
    return m_salud.Resumen();
}

bool ServidorCola::TomarTerminal() {
    return m_reclamos.TomarTerminal();
}

void ServidorCola::CargarImpresoras(bool soloNuevas) {
    if (!soloNuevas) {
        m_salud.CargaCompleta();
    }
    const QSet<qint64> propias = m_repositorio.IdsImpresorasTerminal();
    // A printer gone from this terminal (deleted, or moved to another) is
    // no longer watched nor shown by this server.
    QSet<qint64> idas = m_propias;
    idas.subtract(propias);
    m_salud.Olvidar(idas);
    // Only ports named by the one rule get a section, and a name from the
    // database is cut: the settings file cannot grow from the shop's rows.
    for (const ImpresoraTerminal& impresora : m_repositorio.ImpresorasTerminal()) {
        if (soloNuevas && impresora.id && m_propias.contains(*impresora.id)) {
            continue;
        }
        Ajustes::Guardar(QStringLiteral("ORLAN"), impresora.puerto.nombre, QStringLiteral("Nombre"), impresora.nombre);
        const bool lista = m_pr2.ConfigurarPuerto(impresora.puerto.nombre, impresora.modo);
        if (impresora.id) {
            m_salud.Configurada(*impresora.id, impresora.puerto, lista);
        }
    }
    m_propias = propias;
    m_cargadas = true;
    m_salud.RevisarDispositivos();
}

void ServidorCola::Timer1_Timer() {
    if (!m_activo || m_enTick) {
        return;
    }
    {
        Guardia guardia(m_enTick);
        Tick();
    }
    // The service manager's watchdog restarts a server whose ticks stopped
    // ending; the status line is refreshed every half minute, not every tick,
    // and only for a manager that shows it.
    Servicio::Vivo();
    if (Servicio::Gestionado() && !m_reconectar && --m_ticksHastaResumen <= 0) {
        m_ticksHastaResumen = 15;
        Servicio::Estado(Resumen());
    }
    m_finTick.start();
    ++m_ticks;
    // While the database reports every change and nothing is left waiting
    // here, the poll is only a safety net: a tick every 30 s instead of 2.
    const bool quieto = m_colaVacia && m_avisoCompleto && m_aviso->Escuchando() && m_enVentana.isEmpty() &&
                        m_salud.SinEspera() && !m_reconectar;
    const int periodo = quieto ? kPeriodoAvisadoMs : kPeriodoMs;
    if (m_timer1.isActive() && m_timer1.interval() != periodo) {
        m_timer1.setInterval(periodo);
    }
    if (std::exchange(m_despertarPendiente, false)) {
        Despertar();
    }
}

void ServidorCola::Tick() {
    if (m_reconectar) {
        // A server that went away and came back is served again without a
        // restart; until it answers every tick just tries once more.
        QElapsedTimer intento;
        intento.start();
        // A login sent while the link is down waits for the system's
        // retries of its first packet, long after the link is back: three
        // logins in four give up after kLoginReconexion s, the fourth is
        // given TiempoConexion in full for a server slow to log in.
        const bool corto = m_intentosReconexion++ % 4 != 3;
        if (!Conectar(corto ? kLoginReconexion : 0)) {
            // Logged once per outage, and whenever a login held the tick for
            // longer than a tick's interval (a server that does not answer
            // runs each login into its time-out).
            const ErroresProveedor& errores = Conexion::Instancia().Errores();
            Servicio::Estado(QStringLiteral("sin base de datos: ") +
                             (errores.isEmpty() ? QString() : errores.first().descripcion));
            if (!m_sinConexionRegistrado || intento.elapsed() >= m_timer1.interval()) {
                Registrar(QStringLiteral("Cola Impresion, sin conexion con la base de datos: ") +
                          (errores.isEmpty() ? QString() : errores.first().descripcion));
                m_sinConexionRegistrado = true;
            }
            return;
        }
        m_reconectar = false;
        m_intentosReconexion = 0;
        m_sinConexionRegistrado = false;
        m_ticksHastaResumen = 0;
        Registrar(QStringLiteral("Cola Impresion, conexion con la base de datos restablecida"));
    }
    m_apartarDefectuosos = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"),
                                         QStringLiteral("ApartarTrabajosDefectuosos"), QStringLiteral("0"))
                               .trimmed() == QStringLiteral("1");
    m_filtrarControl = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("FiltrarControl"),
                                     QStringLiteral("0"))
                           .trimmed() == QStringLiteral("1");
    m_edadMaxima = EdadMaxima();
    m_salud.NuevoTick();
    m_colaVacia = false;
    m_hallados = false;
    m_recargadas = false;
    const ctlImpresora::Uso uso(m_pr2);
    try {
        m_salud.RevisarDispositivos();
        m_salud.EscribirFallas(); // what a lost connection kept from the column
        RevisarVentanas();
        const bool conEspera = m_edadMaxima > 0 && ColumnaFechaHora();
        QVector<TrabajoCola> trabajos = m_repositorio.Trabajos(conEspera);
        m_colaVacia = trabajos.isEmpty();
        m_hallados = !m_colaVacia;
        QSet<qint64> servidos;
        int consultas = 0;
        // A stop asked for ends the tick between jobs: the rest wait in the
        // queue for the next start.
        for (qsizetype i = 0; i < trabajos.size() && !Senales::Pedida(); ++i) {
            const QSet<QString> avisos = i > 0 && m_aviso ? m_aviso->Revisar() : QSet<QString>();
            if (OtraImpresora(avisos, m_propias, trabajos, i) && consultas < kConsultasPorTick) {
                // Work was released during the tick for a printer of this
                // terminal with nothing left in it: that printer gets its
                // job next, not after the others' backlog. A tick takes in
                // new work only so many times, so that it ends.
                ++consultas;
                trabajos = Adelantar(trabajos.mid(i), m_repositorio.Trabajos(conEspera), servidos);
                i = 0;
                if (trabajos.isEmpty()) {
                    break;
                }
            } else if (!avisos.isEmpty()) {
                m_despertarPendiente = true; // a tick after this one finds it
            }
            servidos.insert(trabajos[i].id);
            ServirTrabajo(trabajos[i]);
        }
        RevisarVentanas();
        Barrer();
    } catch (const ErrorEjecucion& e) {
        RegistrarFallaCola(e);
        m_reconectar = ConexionPerdida(e);
        // Swept again unless the sweep itself failed (a table locked past
        // the statement time-out would hold the tick twice).
        if (!m_reconectar && !std::exchange(m_barriendo, false)) {
            // A job that ends every tick (a line the renderer cannot finish)
            // must not keep the finished headers before it.
            try {
                Barrer();
            } catch (const ErrorEjecucion& otro) {
                RegistrarFallaCola(otro);
                m_reconectar = ConexionPerdida(otro);
            }
        }
    }
}

bool ServidorCola::OtraImpresora(const QSet<QString>& avisos, const QSet<qint64>& propias,
                                 const QVector<TrabajoCola>& trabajos, qsizetype desde) {
    QSet<qint64> conCola;
    for (qsizetype i = desde; i < trabajos.size(); ++i) {
        conCola.insert(trabajos[i].redirigido);
    }
    for (const QString& aviso : avisos) {
        bool ok = false;
        const qint64 id = aviso.toLongLong(&ok);
        if (ok && propias.contains(id) && !conCola.contains(id)) {
            return true;
        }
    }
    return false;
}

QVector<TrabajoCola> ServidorCola::Adelantar(const QVector<TrabajoCola>& resto, const QVector<TrabajoCola>& nuevos,
                                             const QSet<qint64>& servidos) {
    QSet<qint64> conCola;
    for (const TrabajoCola& t : resto) {
        conCola.insert(t.redirigido);
    }
    QSet<qint64> detenidas;
    QVector<TrabajoCola> primero, despues;
    for (const TrabajoCola& t : nuevos) {
        if (servidos.contains(t.id)) {
            // Served in this tick and still queued with its lines (not
            // confirmed, or sent elsewhere since): the later jobs of its
            // printer wait for the next tick, which serves them in order. A
            // printed job's header without lines holds nothing back.
            if (t.conRenglones) {
                detenidas.insert(t.redirigido);
            }
        } else if (!detenidas.contains(t.redirigido)) {
            (conCola.contains(t.redirigido) ? despues : primero).append(t);
        }
    }
    return primero + despues;
}

void ServidorCola::ServirTrabajo(const TrabajoCola& trabajo) {
    m_rsImpresora = m_repositorio.ImpresoraDe(trabajo);
    if (!m_rsImpresora) {
        return; // gone, or a row that cannot be used (logged once)
    }
    const ImpresoraCola& impresora = *m_rsImpresora;
    if (impresora.terminal != m_numeroTerminal) {
        return;
    }
    if (m_cargadas && !m_propias.contains(impresora.id) && !std::exchange(m_recargadas, true)) {
        // A printer added while the server runs: its name and device are
        // read as at the start, once a tick at most.
        CargarImpresoras(true);
    }

    const qint64 idTrabajo = trabajo.id;
    const qint64 idImpresora = impresora.id;
    if (m_enVentana.contains(idTrabajo)) {
        return; // printed, and waiting for its window (RevisarVentanas)
    }
    m_barrer = true;
    bool enVentana = false;
    bool dudoso = false; // sent, not confirmed: see Reclamos::Soltar
    if (impresora.estado && *impresora.estado != QStringLiteral("D")) {
        m_rsDetalle.clear();
        const QString& puerto = impresora.puerto;
        QString estadoImpresora = QStringLiteral("D");
        if (!trabajo.conRenglones && m_sinRenglones.contains(idTrabajo)) {
            // Printed whole already; only its header is left to remove.
        } else if (m_salud.Fallida(idImpresora)) {
            // Found failing earlier in this tick: asking it again for every
            // job queued for it would hold every other printer back.
        } else if (!m_reclamos.Reclamar(trabajo, idImpresora, m_rsDetalle)) {
            // Another terminal prints it, or it is no longer this terminal's.
        } else if (m_apartarDefectuosos && Apartar(idTrabajo)) {
            // Nothing of it was sent; the printer's later jobs go on.
        } else if (m_salud.Retenida(impresora)) {
            // It did not confirm a job and has shown no change since.
        } else if (bool apagada = false; !NombrePuerto::Valido(puerto) ||
                                         !m_pr2.InicializarPuerto(puerto, &estadoImpresora) ||
                                         (apagada = m_salud.Apagada(impresora))) {
            m_salud.SinAbrir(impresora, apagada, estadoImpresora);
        } else if (m_salud.Ocupada(impresora)) {
            // Another sender has it: nothing was sent, the job waits.
        } else if (ApartarVencido(trabajo, impresora)) {
            // Its printer can take it, but it waited too long to be of use.
        } else {
            m_pr2.DocumentType(trabajo.tipo);
            // The claim is renewed while the job prints: between lines, in
            // the printer control's waits, and by a timer for the waits that
            // let events through (a busy parallel port).
            m_reclamos.EnCurso(idTrabajo);
            const auto fin = qScopeGuard([this] { m_reclamos.Terminado(); });
            m_reclamos.MarcarCopia(idTrabajo);
            bool impreso = true;
            for (const RenglonCola& renglon : m_rsDetalle) {
                m_reclamos.Renovar();
                if (InterpretarRenglon(m_pr2, TextoImprimible(idTrabajo, renglon)) ==
                    ResultadoRenglon::FalloImpresion) {
                    if (Senales::Pedida()) {
                        // The stop cut the line, not the printer: it keeps
                        // its route, and its jobs stay here.
                        break;
                    }
                    // The job stays for the backup printer; this printer still
                    // gets the rest of the job and its cut.
                    impreso = false;
                    m_salud.FalloRenglon(impresora, idTrabajo);
                }
                m_pr2.Avanzar();
            }
            if (!Senales::Pedida()) {
                m_pr2.Avanzar(3);
                m_pr2.Cortar();
            }
            if (Senales::Pedida()) {
                // A stop ends the job where it is: it stays queued, and its
                // claim goes back so that the next start serves it at once,
                // marked: part of it is on paper.
                m_reclamos.Soltar(idTrabajo, true);
                return;
            }
            if (!impreso && m_pr2.SinLinea()) {
                m_salud.MarcarFallida(idImpresora); // a write failed: the device is closed
            }
            if (impreso && m_salud.ConfirmarRecepcion()) {
                const SaludImpresoras::Confirmacion confirmacion = m_salud.Confirmado(impresora, idTrabajo);
                if (confirmacion == SaludImpresoras::Confirmacion::EnVentana) {
                    enVentana = true;
                    m_enVentana.insert(idTrabajo, EnVentana{*m_pr2.VentanaPendiente(), trabajo, impresora,
                                                            static_cast<int>(m_rsDetalle.size())});
                }
                impreso = confirmacion == SaludImpresoras::Confirmacion::Si;
            }
            if (impreso) {
                Impreso(trabajo, impresora, static_cast<int>(m_rsDetalle.size()));
            }
            dudoso = !impreso && !enVentana;
            if (m_pr2.SinLinea()) {
                m_salud.AnotarPapel(idImpresora, m_pr2.PapelBajo());
            }
        }
    } else {
        m_salud.Redirigir(impresora, QStringLiteral("D"));
    }
    // A network printer serves one sender at a time: it is left free
    // between jobs.
    m_pr2.LiberarPuertos();
    if (!enVentana) {
        m_reclamos.Soltar(idTrabajo, dudoso);
    }
    if (!m_reclamos.ConTabla()) {
        // Without claims a header without lines could be taken for a job
        // written without them: it goes at once.
        Barrer();
    }
}

void ServidorCola::CerrarVentanas() {
    // A window is the time to print what the printer holds: seconds. Waited
    // for here, its jobs are not printed again by the next start.
    const QDeadlineTimer tope(kEsperaVentanasMs);
    while (!m_enVentana.isEmpty() && !tope.hasExpired()) {
        try {
            RevisarVentanas();
        } catch (const ErrorEjecucion& e) {
            RegistrarFallaCola(e);
            return;
        }
        if (!m_enVentana.isEmpty()) {
            QThread::msleep(200);
        }
    }
    try {
        Barrer();
    } catch (const ErrorEjecucion& e) {
        RegistrarFallaCola(e);
    }
}

void ServidorCola::Barrer() {
    if (!m_barrer) {
        return;
    }
    m_barriendo = true;
    m_repositorio.Barrer(m_reclamos.ConTabla());
    m_barriendo = false;
    m_barrer = false;
    // Every header without lines is gone now.
    m_sinRenglones.clear();
}

void ServidorCola::Impreso(const TrabajoCola& trabajo, const ImpresoraCola& impresora, int renglones) {
    m_repositorio.BorrarRenglones(trabajo.id);
    m_salud.Hallado(impresora.id, impresora.puerto, QString());
    // Its claim stays in the table until the header goes (Barrer): a job
    // without lines is claimed by nobody else, so it needs no renewing.
    m_reclamos.Impreso(trabajo.id);
    m_sinRenglones.insert(trabajo.id);
    emit TrabajoImpreso(trabajo.id, impresora.id, impresora.puerto, trabajo.tipo, trabajo.usuario, renglones);
}

void ServidorCola::RevisarVentanas() {
    m_reclamos.Renovar();
    for (auto it = m_enVentana.begin(); it != m_enVentana.end();) {
        const ctlImpresora::Cierre cierre = m_pr2.RevisarVentana(it->ventana);
        if (cierre == ctlImpresora::Cierre::Abierta) {
            ++it;
            continue;
        }
        const qint64 id = it.key();
        if (cierre == ctlImpresora::Cierre::Cumplida) {
            m_salud.Confirmada(it->impresora.id, id);
            Impreso(it->trabajo, it->impresora, it->renglones);
            m_barrer = true;
        } else {
            // The printer lost power or its connection before it could have
            // printed all of it: the job prints again, whole, marked.
            Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) perdio la conexion antes de terminar de "
                                     "imprimir el trabajo %3: se imprime de nuevo")
                          .arg(it->impresora.id)
                          .arg(it->impresora.puerto)
                          .arg(id));
        }
        m_reclamos.Soltar(id, cierre == ctlImpresora::Cierre::Perdida);
        it = m_enVentana.erase(it);
    }
    m_pr2.LiberarPuertos();
}

QString ServidorCola::TextoImprimible(qint64 idTrabajo, const RenglonCola& renglon) const {
    QString dato = renglon.dato;
    // A NUL byte has nothing to print: it alone is left out, the rest of the
    // line is printed.
    if (const qsizetype nulos = dato.count(QChar(0)); nulos > 0) {
        dato.remove(QChar(0));
        Registrar(QStringLiteral("Cola Impresion, trabajo %1, renglon %2: caracteres nulos omitidos (%3)")
                      .arg(idTrabajo)
                      .arg(renglon.idRenglon)
                      .arg(nulos));
    }
    if (m_filtrarControl) {
        // A line's text can carry printer commands (a drawer pulse in a
        // customer's note); with [Cola] FiltrarControl = 1 the control
        // characters are dropped, line ends kept.
        const qsizetype antes = dato.size();
        dato.removeIf([](QChar c) { return c.unicode() < 0x20 && c != u'\r' && c != u'\n'; });
        if (dato.size() != antes) {
            Registrar(QStringLiteral("Cola Impresion, trabajo %1, renglon %2: caracteres de control omitidos (%3)")
                          .arg(idTrabajo)
                          .arg(renglon.idRenglon)
                          .arg(antes - dato.size()));
        }
    }
    return dato;
}

bool ServidorCola::Apartar(qint64 idTrabajo) {
    QString motivo;
    for (const RenglonCola& renglon : m_rsDetalle) {
        try {
            ComprobarRenglon(renglon.dato);
        } catch (const ErrorEjecucion& e) {
            motivo = QStringLiteral("renglon %1, %2").arg(renglon.idRenglon, e.Descripcion());
            break;
        }
    }
    if (motivo.isEmpty()) {
        return false;
    }
    // The job query takes only Escribiendo = 0, so the job is logged once and
    // left alone until someone puts it back.
    m_repositorio.Apartar(idTrabajo);
    Registrar(
        QStringLiteral("Cola Impresion, trabajo %1 apartado, no se puede imprimir: %2").arg(idTrabajo).arg(motivo));
    return true;
}

bool ServidorCola::ApartarVencido(const TrabajoCola& trabajo, const ImpresoraCola& impresora) {
    // Whole minutes, as the log line says them; a time in the future is no age.
    const qint64 minutos = trabajo.espera.value_or(0) / 60;
    if (m_edadMaxima <= 0 || minutos <= m_edadMaxima) {
        return false;
    }
    m_repositorio.Apartar(trabajo.id);
    Registrar(QStringLiteral("Cola Impresion, trabajo %1 de la impresora %2 (%3) apartado sin imprimir: espero %4 "
                             "minutos, mas que EdadMaxima (%5)")
                  .arg(trabajo.id)
                  .arg(impresora.id)
                  .arg(impresora.puerto)
                  .arg(minutos)
                  .arg(m_edadMaxima));
    return true;
}

bool ServidorCola::ColumnaFechaHora() {
    if (!m_columnaFecha) {
        m_columnaFecha = ExisteColumna(QStringLiteral("ColaImpresion"), QStringLiteral("FechaHora"));
        if (!*m_columnaFecha) {
            Registrar(QStringLiteral("Cola Impresion, la tabla ColaImpresion no tiene la columna FechaHora: "
                                     "EdadMaxima no aparta ningun trabajo"));
        }
    }
    return *m_columnaFecha;
}
