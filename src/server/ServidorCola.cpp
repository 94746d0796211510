#include "server/ServidorCola.h"

#include "database/ColumnaOpcional.h"
#include "platform/Ajustes.h"
#include "platform/BloqueoProceso.h"
#include "platform/Rutas.h"
#include "platform/Senales.h"
#include "platform/Servicio.h"
#include "ports/NombrePuerto.h"
#include "ports/PuertoCom.h"
#include "ports/PuertoSerie.h"
#include "server/InterpretarRenglon.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {

const QString kOrigen = QStringLiteral("Base de Datos");

// Leaves the tick's guard however the tick ends.
struct Guardia {
    bool& bandera;
    explicit Guardia(bool& b) : bandera(b) { bandera = true; }
    ~Guardia() { bandera = false; }
};

// Only a port named by the one rule is opened or used as a settings section;
// the repository has logged any other once.
bool PuertoValido(const QString& puerto) {
    return NombrePuerto::Leer(puerto).has_value();
}

// A claim's number: new for every claim and every renewal, never 0.
qint64 NuevaFicha() {
    return static_cast<qint64>(QRandomGenerator::global()->generate64() >> 2) + 1;
}

QString Lista(const QVector<qint64>& ids) {
    QStringList textos;
    for (const qint64 id : ids) {
        textos << QString::number(id);
    }
    return textos.join(QStringLiteral(", "));
}

// Whether the printer must answer ready after a job before the job is
// deleted. Serial printers that answer the paper-status request: [Cola]
// ConfirmarRecepcion=1, off by default (the job is then deleted once the port
// has taken its bytes). Network and USB printers, whose device takes bytes
// whether or not the printer has them: [Cola] ConfirmarRecepcionRed, on
// unless 0.
bool ConfirmarRecepcion(const ctlImpresora& pr) {
    const bool red = pr.SinLinea();
    const QString valor =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"),
                      red ? QStringLiteral("ConfirmarRecepcionRed") : QStringLiteral("ConfirmarRecepcion"),
                      red ? QStringLiteral("1") : QStringLiteral("0"))
            .trimmed();
    return red ? valor != u'0' : valor == u'1';
}

// [Cola] VenceReclamo: the seconds another server's claim on a job must stand
// unchanged before this server takes the job over, 20 unless set. A server
// renews its claim every few seconds while it prints (RenovarReclamo), so
// only the claim of a server that died stands that long.
qint64 VenceReclamoMs() {
    constexpr qint64 kPredeterminado = 20;
    const QString valor = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("VenceReclamo"),
                                        QString::number(kPredeterminado))
                              .trimmed();
    bool ok = false;
    const qint64 segundos = valor.toLongLong(&ok);
    if (ok && segundos >= 0 && segundos <= 86400) {
        return segundos * 1000;
    }
    static QString avisado;
    if (avisado != valor) {
        avisado = valor;
        Registrar(QStringLiteral("Cola Impresion, ajuste VenceReclamo no valido: '%1'; se usan %2 segundos")
                      .arg(valor.left(40))
                      .arg(kPredeterminado));
    }
    return kPredeterminado * 1000;
}

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
    : QObject(parent), m_numeroTerminal(numeroTerminal), m_repositorio(numeroTerminal) {
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
    m_pr2.EstablecerLatido([this] { RenovarReclamo(); });
    m_latido.setInterval(1000);
    connect(&m_latido, &QTimer::timeout, this, [this] { RenovarReclamo(); });
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
    int impresoras = 0;
    int enRespaldo = 0;
    QStringList fallas;
    try {
        const std::unique_ptr<Recordset> filas = Conexion::Instancia().Consultar(
            QStringLiteral("SELECT Id_Impresora, Redirigido, Nombre_Impresora FROM Impresora WHERE ID_Terminal = ? "
                           "AND esdecheques = 0 ORDER BY Id_Impresora"),
            {qint64(m_numeroTerminal)});
        for (; !filas->Fin(); filas->MoveNext()) {
            ++impresoras;
            const QString id = filas->Texto(QStringLiteral("Id_Impresora"));
            enRespaldo += filas->Texto(QStringLiteral("Redirigido")) != id;
            const std::optional<qint64> numero = EnteroProbado(filas->Campo(0));
            const auto falla = numero ? m_fallas.constFind(*numero) : m_fallas.cend();
            if (falla != m_fallas.cend()) {
                const QString nombre =
                    TextoAcotado(filas->Texto(QStringLiteral("Nombre_Impresora")), RepositorioCola::kLargoNombre);
                fallas << (nombre.isEmpty() ? QStringLiteral("impresora ") + id : nombre) + QStringLiteral(": ") +
                              *falla;
            }
        }
    } catch (const ErrorEjecucion&) {
        return QStringLiteral("sirviendo la cola de la terminal ") + QString::number(m_numeroTerminal);
    }
    const QString plural = impresoras == 1 ? QString() : QStringLiteral("s");
    QString texto = fallas.isEmpty() ? QStringLiteral("sirviendo %1 impresora%2").arg(impresoras).arg(plural)
                                     : QStringLiteral("sirviendo %1 de %2 impresora%3")
                                           .arg(impresoras - fallas.size())
                                           .arg(impresoras)
                                           .arg(plural);
    if (enRespaldo > 0) {
        texto += QStringLiteral(", %1 en respaldo").arg(enRespaldo);
    }
    for (const QString& falla : fallas) {
        texto += QStringLiteral("; ") + falla;
    }
    return texto;
}

bool ServidorCola::TomarTerminal() {
    const QString ruta = Rutas::RaizUnidad() + QStringLiteral("/orlan-cola.bloqueo");
    QString error;
    switch (BloqueoProceso::Tomar(ruta, &error)) {
    case BloqueoProceso::Resultado::YaPropio:
        return true;
    case BloqueoProceso::Resultado::Ajeno:
        Registrar(QStringLiteral("Cola Impresion, otro orlan-cola sirve ya esta terminal (%1 esta bloqueado): este "
                                 "no sirve la cola")
                      .arg(ruta));
        return false;
    case BloqueoProceso::Resultado::Error:
        // Served as before, but without the proof that no other server of
        // this terminal holds its claims: they are left to expire.
        Registrar(QStringLiteral("Cola Impresion, no se pudo bloquear %1: %2; los reclamos de esta terminal vencen "
                                 "como los de otra")
                      .arg(ruta, error));
        return true;
    case BloqueoProceso::Resultado::Tomado:
        break;
    }
    // This process is the terminal's only server: a claim of this terminal
    // is one its previous server left when it died, perhaps in the middle of
    // the job. The job is printed again at once, marked as a possible copy.
    if (m_reclamos == Reclamos::SinDetectar) {
        DetectarReclamos();
    }
    if (m_reclamos == Reclamos::ConTabla) {
        const QVector<qint64> propios = m_repositorio.ReclamosDeTerminal();
        if (!propios.isEmpty()) {
            m_repositorio.SoltarTerminal();
            for (const qint64 id : propios) {
                m_copias.insert(id, QStringLiteral("esta terminal lo reclamaba cuando se detuvo"));
            }
            Registrar(QStringLiteral("Cola Impresion, %1 trabajo(s) reclamado(s) por esta terminal antes de "
                                     "reiniciarse se imprimen de nuevo: %2")
                          .arg(propios.size())
                          .arg(Lista(propios)));
        }
    }
    return true;
}

void ServidorCola::CargarImpresoras(bool soloNuevas) {
    if (!soloNuevas) {
        // What a previous run found is found again: each port is opened as
        // the printers load, and a device that is gone is shown at once. A
        // database where the column cannot be written loads all the same.
        AnotarOpcional(m_columnaFalla, QStringLiteral("Falla"), kSinFalla, QStringLiteral("las fallas"), 0, [this] {
            Conexion::Instancia().Ejecutar(
                QStringLiteral("UPDATE Impresora SET Falla = NULL WHERE ID_Terminal = ? AND Falla IS NOT NULL"),
                {qint64(m_numeroTerminal)});
            m_fallasEscritas.clear();
        });
        m_dispositivos.clear();
    }
    const QSet<qint64> propias = m_repositorio.IdsImpresorasTerminal();
    // A printer gone from this terminal (deleted, or moved to another) is
    // no longer watched nor shown by this server.
    QSet<qint64> idas = m_propias;
    idas.subtract(propias);
    for (const qint64 id : std::as_const(idas)) {
        m_fallas.remove(id);
        m_ausentes.remove(id);
        m_dispositivos.remove(id);
        m_fallasEscritas.remove(id);
    }
    // Only ports named by the one rule get a section, and a name from the
    // database is cut: the settings file cannot grow from the shop's rows.
    for (const ImpresoraTerminal& impresora : m_repositorio.ImpresorasTerminal()) {
        if (soloNuevas && impresora.id && m_propias.contains(*impresora.id)) {
            continue;
        }
        Ajustes::Guardar(QStringLiteral("ORLAN"), impresora.puerto.nombre, QStringLiteral("Nombre"), impresora.nombre);
        const bool lista = m_pr2.ConfigurarPuerto(impresora.puerto.nombre, impresora.modo);
        if (!impresora.id) {
            continue;
        }
        QString ruta;
        if (impresora.puerto.clase == NombrePuerto::Clase::Serie) {
            const PuertoCom::Destino destino =
                PuertoCom::Interpretar(PuertoSerie::Dispositivo(impresora.puerto.numero));
            if (destino.tipo != PuertoCom::Destino::Tipo::Tcp && !destino.ruta.isEmpty()) {
                ruta = destino.ruta;
                m_dispositivos.insert(*impresora.id, {impresora.puerto.nombre, ruta});
            }
        }
        // A device that is not there is said by RevisarDispositivos.
        if (!lista && (ruta.isEmpty() || QFileInfo::exists(ruta))) {
            Hallado(*impresora.id, impresora.puerto.nombre, CausaApertura(impresora.puerto.nombre));
        }
    }
    m_propias = propias;
    m_cargadas = true;
    RevisarDispositivos();
}

void ServidorCola::RevisarDispositivos() {
    for (auto it = m_dispositivos.cbegin(); it != m_dispositivos.cend(); ++it) {
        const qint64 id = it.key();
        const QString& ruta = it->second;
        if (!QFileInfo::exists(ruta)) {
            if (!m_ausentes.contains(id)) {
                Hallado(id, it->first, QStringLiteral("no existe ") + ruta + AvisoTmp(ruta), true);
            }
        } else if (m_ausentes.contains(id)) {
            // Back, but perhaps not the group's or not a printer yet: it is
            // opened as at the start, and shown by what that finds.
            QString letra;
            const bool lista = m_pr2.InicializarPuerto(it->first, &letra);
            Hallado(id, it->first, lista ? QString() : CausaApertura(it->first));
        }
    }
}

QString ServidorCola::AvisoTmp(const QString& ruta) {
    // The service has a /tmp of its own: a link made there by hand is not
    // the one it sees.
    for (const QString& tmp : {QStringLiteral("/tmp/"), QStringLiteral("/var/tmp/")}) {
        if (Servicio::Gestionado() && ruta.startsWith(tmp)) {
            return QStringLiteral(" (el servicio tiene su propio /tmp, PrivateTmp=yes, y no ve ") + ruta +
                   QStringLiteral("; use una ruta fuera de /tmp y /var/tmp)");
        }
    }
    return QString();
}

QString ServidorCola::CausaApertura(const QString& puerto) {
    const auto dispositivo = std::find_if(m_dispositivos.cbegin(), m_dispositivos.cend(),
                                          [&](const QPair<QString, QString>& d) { return d.first == puerto; });
    return m_pr2.Causa() + (dispositivo == m_dispositivos.cend() ? QString() : AvisoTmp(dispositivo->second));
}

void ServidorCola::Hallado(qint64 idImpresora, const QString& puerto, const QString& falla, bool ausente) {
    const auto antes = m_fallas.constFind(idImpresora);
    if (antes == m_fallas.cend() ? falla.isEmpty() : *antes == falla) {
        return;
    }
    QString linea;
    if (falla.isEmpty()) {
        m_fallas.remove(idImpresora);
        m_ausentes.remove(idImpresora);
        linea = QStringLiteral("Cola Impresion, impresora %1 (%2) imprime de nuevo").arg(idImpresora).arg(puerto);
    } else {
        m_fallas.insert(idImpresora, falla);
        if (ausente) {
            m_ausentes.insert(idImpresora);
        } else {
            m_ausentes.remove(idImpresora);
        }
        linea = QStringLiteral("Cola Impresion, impresora %1 (%2) no puede imprimir: %3")
                    .arg(idImpresora)
                    .arg(puerto, falla);
    }
    Registrar(linea);
    std::fprintf(stderr, "orlan-cola: %s\n", linea.toLocal8Bit().constData());
    std::fflush(stderr);
    EscribirFallas();
    if (Servicio::Gestionado()) {
        Servicio::Estado(Resumen());
    }
}

void ServidorCola::EscribirFallas() {
    QSet<qint64> ids(m_fallasEscritas.keyBegin(), m_fallasEscritas.keyEnd());
    ids.unite(QSet<qint64>(m_fallas.keyBegin(), m_fallas.keyEnd()));
    for (const qint64 id : ids) {
        const QString falla = m_fallas.value(id).left(kLargoFalla);
        if (m_columnaFalla == false || m_fallasEscritas.value(id) == falla) {
            continue;
        }
        AnotarOpcional(m_columnaFalla, QStringLiteral("Falla"), kSinFalla, QStringLiteral("la falla"), id, [&] {
            m_repositorio.AnotarFalla(id, falla);
            if (falla.isEmpty()) {
                m_fallasEscritas.remove(id);
            } else {
                m_fallasEscritas.insert(id, falla);
            }
        });
    }
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
                        m_retenidas.isEmpty() && m_ocupadas.isEmpty() && !m_reconectar;
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
    m_fallidas.clear();
    m_colaVacia = false;
    m_hallados = false;
    m_recargadas = false;
    const ctlImpresora::Uso uso(m_pr2);
    try {
        RevisarDispositivos();
        EscribirFallas(); // what a lost connection kept from the column
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
    bool dudoso = false; // sent, not confirmed: see Soltar
    if (impresora.estado && *impresora.estado != QStringLiteral("D")) {
        m_rsDetalle.clear();
        const QString& puerto = impresora.puerto;
        QString estadoImpresora = QStringLiteral("D");
        if (!trabajo.conRenglones && m_sinRenglones.contains(idTrabajo)) {
            // Printed whole already; only its header is left to remove.
        } else if (m_fallidas.contains(idImpresora)) {
            // Found failing earlier in this tick: asking it again for every
            // job queued for it would hold every other printer back.
        } else if (!Reclamar(trabajo, idImpresora)) {
            // Another terminal prints it, or it is no longer this terminal's.
        } else if (m_apartarDefectuosos && Apartar(idTrabajo)) {
            // Nothing of it was sent; the printer's later jobs go on.
        } else if (Retenida(impresora)) {
            // It did not confirm a job and has shown no change since.
        } else if (bool apagada = false; !PuertoValido(puerto) || !m_pr2.InicializarPuerto(puerto, &estadoImpresora) ||
                                         (apagada = Apagada(impresora))) {
            if (m_pr2.SinLinea()) {
                m_fallidas.insert(idImpresora);
            }
            // A printer found switched off (Apagada) has said so already; a
            // missing device keeps the words the device check clears.
            const QString causa = PuertoValido(puerto)
                                      ? CausaApertura(puerto)
                                      : QStringLiteral("Puerto no es un puerto (COM1 a COM9, LPT1 a LPT9)");
            if (!apagada && !causa.isEmpty() && !m_ausentes.contains(idImpresora)) {
                Hallado(idImpresora, puerto, causa);
            }
            Redirigir(impresora, estadoImpresora);
        } else if (Ocupada(impresora)) {
            // Another sender has it: nothing was sent, the job waits.
        } else if (ApartarVencido(trabajo, impresora)) {
            // Its printer can take it, but it waited too long to be of use.
        } else {
            m_pr2.DocumentType(trabajo.tipo);
            // The claim is renewed while the job prints: between lines, in
            // the printer control's waits, and by a timer for the waits that
            // let events through (a busy parallel port).
            m_reclamoEnCurso = idTrabajo;
            if (m_enVentana.isEmpty()) {
                m_renovado.start(); // its claim is new; others may wait for their renewal
            }
            m_latido.start();
            const auto fin = qScopeGuard([this] {
                m_latido.stop();
                m_reclamoEnCurso = 0;
            });
            MarcarCopia(idTrabajo);
            bool impreso = true;
            for (const RenglonCola& renglon : m_rsDetalle) {
                RenovarReclamo();
                if (InterpretarRenglon(m_pr2, TextoImprimible(idTrabajo, renglon)) ==
                    ResultadoRenglon::FalloImpresion) {
                    // The job stays for the backup printer; this printer still
                    // gets the rest of the job and its cut.
                    impreso = false;
                    FalloRenglon(impresora, idTrabajo);
                }
                m_pr2.Avanzar();
            }
            m_pr2.Avanzar(3);
            m_pr2.Cortar();
            if (Senales::Pedida()) {
                // A stop ends the job where it is: it stays queued, and its
                // claim goes back so that the next start serves it at once,
                // marked: part of it is on paper.
                Soltar(idTrabajo, true);
                return;
            }
            if (!impreso && m_pr2.SinLinea()) {
                m_fallidas.insert(idImpresora); // a write failed: the device is closed
            }
            if (impreso && ConfirmarRecepcion(m_pr2)) {
                const Confirmacion confirmacion = Confirmado(impresora, idTrabajo);
                if (confirmacion == Confirmacion::EnVentana) {
                    enVentana = true;
                    m_enVentana.insert(idTrabajo, EnVentana{*m_pr2.VentanaPendiente(), trabajo, impresora,
                                                            static_cast<int>(m_rsDetalle.size())});
                }
                impreso = confirmacion == Confirmacion::Si;
            }
            if (impreso) {
                Impreso(trabajo, impresora, static_cast<int>(m_rsDetalle.size()));
            }
            dudoso = !impreso && !enVentana;
            if (m_pr2.SinLinea()) {
                AnotarPapel(idImpresora, m_pr2.PapelBajo());
            }
        }
    } else {
        Redirigir(impresora, QStringLiteral("D"));
    }
    // A network printer serves one sender at a time: it is left free
    // between jobs.
    m_pr2.LiberarPuertos();
    if (!enVentana) {
        Soltar(idTrabajo, dudoso);
    }
    if (m_reclamos != Reclamos::ConTabla) {
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
    m_repositorio.Barrer(m_reclamos == Reclamos::ConTabla);
    m_barriendo = false;
    m_barrer = false;
    // Every header without lines is gone now.
    m_sinRenglones.clear();
}

void ServidorCola::Impreso(const TrabajoCola& trabajo, const ImpresoraCola& impresora, int renglones) {
    m_repositorio.BorrarRenglones(trabajo.id);
    Hallado(impresora.id, impresora.puerto, QString());
    // Its claim stays in the table until the header goes (Barrer): a job
    // without lines is claimed by nobody else, so it needs no renewing.
    m_fichas.remove(trabajo.id);
    m_copias.remove(trabajo.id);
    m_sinRenglones.insert(trabajo.id);
    emit TrabajoImpreso(trabajo.id, impresora.id, impresora.puerto, trabajo.tipo, trabajo.usuario, renglones);
}

void ServidorCola::RevisarVentanas() {
    RenovarReclamo();
    for (auto it = m_enVentana.begin(); it != m_enVentana.end();) {
        const ctlImpresora::Cierre cierre = m_pr2.RevisarVentana(it->ventana);
        if (cierre == ctlImpresora::Cierre::Abierta) {
            ++it;
            continue;
        }
        const qint64 id = it.key();
        if (cierre == ctlImpresora::Cierre::Cumplida) {
            m_sinConfirmar.remove(it->impresora.id);
            m_fallosTrabajo.remove(id);
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
        Soltar(id, cierre == ctlImpresora::Cierre::Perdida);
        it = m_enVentana.erase(it);
    }
    m_pr2.LiberarPuertos();
}

bool ServidorCola::Ocupada(const ImpresoraCola& impresora) {
    const qint64 id = impresora.id;
    if (!m_pr2.Ocupada()) {
        m_ocupadas.remove(id);
        return false;
    }
    m_fallidas.insert(id); // not asked again in this tick
    auto ocupada = m_ocupadas.find(id);
    if (ocupada == m_ocupadas.end() || ocupada->visto.hasExpired(kPlazoOcupada / 2)) {
        // Not seen busy for a while: a new spell.
        ocupada = m_ocupadas.insert(id, Ocupacion());
        ocupada->desde.start();
        Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) ocupada: %3; sus trabajos esperan")
                      .arg(id)
                      .arg(impresora.puerto, m_pr2.Causa()));
    }
    ocupada->visto.start();
    if (!ocupada->desde.hasExpired(kPlazoOcupada)) {
        m_pr2.LiberarPuertos(); // its place in the printer's backlog goes too
        return true;
    }
    // Busy for longer than any job of ours could keep it: it does not answer.
    m_ocupadas.remove(id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) sigue sin contestar tras %3 s: falla")
                  .arg(id)
                  .arg(impresora.puerto)
                  .arg(kPlazoOcupada / 1000));
    Hallado(id, impresora.puerto, QStringLiteral("sigue ocupada sin contestar tras %1 s").arg(kPlazoOcupada / 1000));
    if (impresora.respaldo) {
        Redirigir(impresora, QStringLiteral("F"));
    } else {
        Retener(impresora);
    }
    return true;
}

ServidorCola::Confirmacion ServidorCola::Confirmado(const ImpresoraCola& impresora, qint64 idTrabajo) {
    const qint64 id = impresora.id;
    if (m_pr2.ConfirmarRecepcion()) {
        if (impresora.estado == QStringLiteral("F")) {
            // Held before a restart of this server, and confirming again.
            m_repositorio.AnotarEstado(id, QStringLiteral("A"));
        }
        if (m_pr2.VentanaPendiente()) {
            return Confirmacion::EnVentana;
        }
        m_sinConfirmar.remove(id);
        m_fallosTrabajo.remove(idTrabajo);
        return Confirmacion::Si;
    }
    // The printer went away, ran out of paper or did not answer, so the job
    // may not be on paper: it stays. Sent again to the same printer it could
    // come out twice, so it goes to the backup, or, without one, the printer
    // is held until it shows a change (Retenida).
    m_fallidas.insert(id);
    const int veces = ++m_fallosTrabajo[idTrabajo];
    Registrar(QStringLiteral("Cola Impresion, la impresora no confirmo el trabajo %1 (%2 de este trabajo, %3 "
                             "seguidas de la impresora)")
                  .arg(idTrabajo)
                  .arg(veces)
                  .arg(++m_sinConfirmar[id]));
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2): %3").arg(id).arg(impresora.puerto, m_pr2.Causa()));
    Hallado(id, impresora.puerto,
            QStringLiteral("no confirmo el trabajo") +
                (m_pr2.Causa().isEmpty() ? QString() : QStringLiteral(": ") + m_pr2.Causa()));
    if (impresora.respaldo) {
        Redirigir(impresora, QStringLiteral("F"));
    } else {
        Retener(impresora);
    }
    return Confirmacion::No;
}

void ServidorCola::Retener(const ImpresoraCola& impresora) {
    m_retenidas.insert(impresora.id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) sin respaldo: sus trabajos esperan hasta que "
                             "responda, vuelva o se la restablezca")
                  .arg(impresora.id)
                  .arg(impresora.puerto));
    // Visible to orlan-admin and the panel; the routing stays.
    m_repositorio.AnotarEstado(impresora.id, QStringLiteral("F"));
}

bool ServidorCola::Retenida(const ImpresoraCola& impresora) {
    const qint64 id = impresora.id;
    if (!m_retenidas.contains(id)) {
        return false;
    }
    if (m_fallidas.contains(id)) {
        return true;
    }
    // Asked once a tick. An answer, or the operator setting its state back
    // ("A"), is the change that lets it print again.
    m_fallidas.insert(id);
    QString letra;
    const QString& puerto = impresora.puerto;
    const bool respondio =
        PuertoValido(puerto) && m_pr2.InicializarPuerto(puerto, &letra) && (letra == u"A" || letra == u"C");
    const bool restablecida = impresora.estado.value_or(QString()) != u"F";
    if (!respondio && !restablecida) {
        return true;
    }
    m_retenidas.remove(id);
    m_fallidas.remove(id);
    m_sinConfirmar.remove(id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) %3: sus trabajos siguen")
                  .arg(id)
                  .arg(puerto, respondio ? QStringLiteral("responde de nuevo") : QStringLiteral("restablecida")));
    if (respondio && !restablecida) {
        m_repositorio.AnotarEstado(id, QStringLiteral("A"));
    }
    return false;
}

bool ServidorCola::Apagada(const ImpresoraCola& impresora) {
    if (!m_pr2.CalloTrasResponder() || !ConfirmarRecepcion(m_pr2)) {
        return false;
    }
    // With ConfirmarRecepcion = 1 a serial printer that answered before and
    // is silent now is switched off behind its adapter: what is sent is lost.
    m_fallidas.insert(impresora.id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) respondia y ya no contesta: apagada")
                  .arg(impresora.id)
                  .arg(impresora.puerto));
    Hallado(impresora.id, impresora.puerto, QStringLiteral("respondia y ya no contesta: apagada"));
    if (impresora.respaldo) {
        Redirigir(impresora, QStringLiteral("F"));
    } else {
        Retener(impresora);
    }
    return true;
}

void ServidorCola::FalloRenglon(const ImpresoraCola& impresora, qint64 idTrabajo) {
    const qint64 id = impresora.id;
    Hallado(id, impresora.puerto,
            QStringLiteral("fallo al imprimir") +
                (m_pr2.Causa().isEmpty() ? QString() : QStringLiteral(": ") + m_pr2.Causa()));
    if (impresora.respaldo) {
        m_repositorio.Redirigir(id, *impresora.respaldo, std::nullopt);
    } else if (!m_fallidas.contains(id)) {
        // Nowhere to send its jobs: they wait here, and the printer is not
        // tried again in this tick. One line per printer per tick.
        Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) fallo y no tiene respaldo: el trabajo %3 espera")
                      .arg(id)
                      .arg(impresora.puerto)
                      .arg(idTrabajo));
        m_fallidas.insert(id);
    }
}

void ServidorCola::AnotarPapel(qint64 idImpresora, bool bajo) {
    const auto anotado = m_papelAnotado.constFind(idImpresora);
    if (m_columnaPapel == false || (anotado != m_papelAnotado.cend() && *anotado == bajo)) {
        return;
    }
    // Written after the job's lines are gone: a failure here never prints
    // the job again.
    AnotarOpcional(m_columnaPapel, QStringLiteral("PapelBajo"),
                   QStringLiteral("el panel no muestra el papel por terminarse"), QStringLiteral("el papel"),
                   idImpresora, [&] {
                       m_repositorio.AnotarPapel(idImpresora, bajo);
                       m_papelAnotado.insert(idImpresora, bajo);
                   });
}

void ServidorCola::AnotarOpcional(std::optional<bool>& existe, const QString& columna, const QString& sinColumna,
                                  const QString& que, qint64 idImpresora, const std::function<void()>& escribir) {
    if (existe == false) {
        return;
    }
    // A lost connection is left to the next statement; any other failure
    // is said once and the column is not written again.
    try {
        if (!existe) {
            existe = ExisteColumna(QStringLiteral("Impresora"), columna);
            if (!*existe) {
                Registrar(QStringLiteral("Cola Impresion, la tabla Impresora no tiene la columna ") + columna +
                          QStringLiteral(": ") + sinColumna);
                return;
            }
        }
        escribir();
    } catch (const ErrorEjecucion& e) {
        if (!ConexionPerdida(e)) {
            existe = false;
            Registrar(QStringLiteral("Cola Impresion, no se pudo anotar %1 de la impresora %2, no se vuelve a "
                                     "intentar: %3")
                          .arg(que)
                          .arg(idImpresora)
                          .arg(e.Descripcion()));
        }
    }
}

void ServidorCola::RenovarReclamo() {
    // Every 5 s, or thrice within the expiry when that is shorter.
    const qint64 cada = std::clamp<qint64>(m_venceReclamoMs / 3, 200, 5000);
    if ((m_reclamoEnCurso == 0 && m_enVentana.isEmpty()) || (m_renovado.isValid() && m_renovado.elapsed() < cada)) {
        return;
    }
    m_renovado.start();
    QList<qint64> trabajos = m_enVentana.keys();
    if (m_reclamoEnCurso != 0) {
        trabajos.append(m_reclamoEnCurso);
    }
    for (const qint64 id : trabajos) {
        const auto ficha = m_fichas.find(id);
        if (ficha == m_fichas.end()) {
            continue; // printed unclaimed: a database without the claim table
        }
        const qint64 nueva = NuevaFicha();
        try {
            if (m_repositorio.RenovarReclamo(ficha.key(), ficha.value(), nueva)) {
                ficha.value() = nueva;
                continue;
            }
            Registrar(QStringLiteral("Cola Impresion, trabajo %1: otra terminal tomo su reclamo mientras se imprimia")
                          .arg(ficha.key()));
            m_fichas.erase(ficha);
        } catch (const ErrorEjecucion& e) {
            // Called inside the printer's waits: the job goes on, and the
            // tick's next statement meets a lost connection.
            Registrar(QStringLiteral("Cola Impresion, no se pudo renovar el reclamo del trabajo %1: %2")
                          .arg(ficha.key())
                          .arg(e.Descripcion()));
            return;
        }
    }
}

void ServidorCola::MarcarCopia(qint64 idTrabajo) {
    const auto copia = m_copias.constFind(idTrabajo);
    if (copia == m_copias.cend()) {
        return;
    }
    // Its last server may have printed some or all of it before it died.
    const bool marcar = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("MarcarCopias"),
                                      QStringLiteral("1"))
                            .trimmed() != u'0';
    Registrar(QStringLiteral("Cola Impresion, trabajo %1 se imprime de nuevo%2: %3")
                  .arg(idTrabajo)
                  .arg(marcar ? QStringLiteral(" marcado COPIA") : QString())
                  .arg(*copia));
    if (marcar) {
        InterpretarRenglon(m_pr2, QStringLiteral("<B>*** COPIA: puede estar repetido ***</B>"));
        m_pr2.Avanzar(1); // on a line of its own, whatever the job's first line holds
    }
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

void ServidorCola::Redirigir(const ImpresoraCola& impresora, const QString& estado) {
    const QString actual = m_repositorio.RedirigidoActual(impresora.id);
    // A NULL backup never differs from anything, so no update is made.
    if (impresora.respaldo && QString::number(*impresora.respaldo) != actual) {
        m_repositorio.Redirigir(impresora.id, *impresora.respaldo, estado);
    }
}

void ServidorCola::DetectarReclamos() {
    // The probe's column list names the table's whole shape: a table of that
    // name made otherwise is no claim table.
    if (ExisteColumna(QStringLiteral("ReclamoTrabajo"), QStringLiteral("IdTrabajo, ID_Terminal, Ficha"))) {
        m_reclamos = Reclamos::ConTabla;
        return;
    }
    m_reclamos = Reclamos::SinTabla;
    Registrar(QStringLiteral("Cola Impresion, la base de datos no tiene la tabla ReclamoTrabajo ('orlan-admin "
                             "esquema MOTOR --reclamos' la crea): sin ella cada trabajo se revisa antes de "
                             "imprimirlo, pero si una impresora se restablece mientras otra terminal imprime sus "
                             "trabajos, alguno puede salir en las dos"));
}

bool ServidorCola::Reclamar(const TrabajoCola& trabajo, qint64 idImpresora) {
    const qint64 id = trabajo.id;
    if (m_reclamos == Reclamos::SinDetectar) {
        DetectarReclamos();
    }
    m_venceReclamoMs = VenceReclamoMs();
    const qint64 ficha = NuevaFicha();
    if (!trabajo.conRenglones) {
        // Written without lines: it has nothing to print twice but a blank
        // slip. Without the claims table the header cleanup after any job
        // of any terminal may already have taken its header, and the
        // snapshot's word stands. With it, a header without lines may also
        // be a job another server printed, whose claim stays until its
        // header goes: claimed here, it is this server's to print.
        if (m_reclamos == Reclamos::ConTabla) {
            try {
                if (!m_repositorio.Reclamar(id, idImpresora, ficha, false)) {
                    return false;
                }
            } catch (const ErrorEjecucion& e) {
                if (e.Numero() != ErrorEjecucion::kErrorIntegridad) {
                    throw;
                }
                return false;
            }
            m_fichas.insert(id, ficha);
        }
        m_rsDetalle = m_repositorio.Renglones(id);
        return true;
    }
    const auto Desaparecidos = [&] {
        if (!m_repositorio.TieneRenglones(id)) {
            Registrar(QStringLiteral("Cola Impresion, trabajo %1: sus renglones ya no estan, no se imprime").arg(id));
        }
        return false;
    };
    if (m_reclamos == Reclamos::SinTabla) {
        const auto renglones = m_repositorio.ReclamarConRenglones(id, idImpresora, 0);
        if (!renglones) {
            return Desaparecidos();
        }
        m_rsDetalle = *renglones;
        return true;
    }

    try {
        if (const auto renglones = m_repositorio.ReclamarConRenglones(id, idImpresora, ficha)) {
            m_rsDetalle = *renglones;
            m_fichas.insert(id, ficha);
            m_ajenos.remove(id);
            return true;
        }
    } catch (const ErrorEjecucion& e) {
        if (e.Numero() != ErrorEjecucion::kErrorIntegridad) {
            throw;
        }
    }
    // A claim taken over below is this server's: its lines are read then.
    const auto Propio = [&](qint64 nueva) {
        m_fichas.insert(id, nueva);
        m_ajenos.remove(id);
        m_rsDetalle = m_repositorio.Renglones(id);
        if (m_rsDetalle.isEmpty()) {
            Soltar(id);
            return Desaparecidos();
        }
        return true;
    };

    // Not claimed: the job is no longer this server's, or a claim stands.
    const std::optional<ReclamoCola> reclamo = m_repositorio.Reclamo(id);
    if (!reclamo) {
        return Desaparecidos();
    }
    if (reclamo->ficha == RepositorioCola::kFichaDudosa) {
        // Given back by a server whose printer did not confirm it: free, and
        // perhaps on paper already.
        if (!m_repositorio.TomarReclamo(id, idImpresora, RepositorioCola::kFichaDudosa, ficha)) {
            return false;
        }
        m_copias.insert(id, QStringLiteral("la terminal %1 lo envio a una impresora que no confirmo haberlo impreso")
                                .arg(reclamo->terminalTexto));
        return Propio(ficha);
    }
    if (m_fichas.value(id) == reclamo->ficha && reclamo->ficha != 0) {
        return Propio(reclamo->ficha); // claimed by this server in a tick that ended early
    }
    for (auto it = m_ajenos.begin(); it != m_ajenos.end();) {
        // Jobs no longer met (printed elsewhere, say) are forgotten.
        it = it.value().visto.hasExpired(m_venceReclamoMs + 60000) ? m_ajenos.erase(it) : std::next(it);
    }
    ReclamoAjeno& ajeno = m_ajenos[id];
    // A claim stands unchanged only if this server kept looking: across a
    // gap (the database hung, this server printed a long job) its holder may
    // have been unable to renew it, and the count starts again.
    const bool seguido =
        ajeno.visto.isValid() && !ajeno.visto.hasExpired(std::max(kHuecoReclamoMs, m_venceReclamoMs / 2));
    ajeno.visto.start();
    if (!ajeno.desde.isValid() || ajeno.ficha != reclamo->ficha || !seguido) {
        if (ajeno.ficha != reclamo->ficha) {
            Registrar(QStringLiteral("Cola Impresion, trabajo %1: lo imprime la terminal %2")
                          .arg(id)
                          .arg(reclamo->terminalTexto));
        }
        ajeno.ficha = reclamo->ficha;
        ajeno.desde.start();
        return false;
    }
    if (ajeno.desde.elapsed() < m_venceReclamoMs) {
        return false;
    }
    // The claim outlived any job: its server died holding it.
    if (!m_repositorio.TomarReclamo(id, idImpresora, reclamo->ficha, ficha)) {
        return false;
    }
    Registrar(
        QStringLiteral("Cola Impresion, trabajo %1: el reclamo de la terminal %2 vencio, lo imprime esta terminal")
            .arg(id)
            .arg(reclamo->terminalTexto));
    m_copias.insert(id, QStringLiteral("el reclamo de la terminal %1 vencio").arg(reclamo->terminalTexto));
    return Propio(ficha);
}

void ServidorCola::Soltar(qint64 idTrabajo, bool dudoso) {
    const auto it = m_fichas.constFind(idTrabajo);
    if (it == m_fichas.cend()) {
        return;
    }
    if (dudoso) {
        m_repositorio.SoltarDudoso(it.value());
    } else {
        m_repositorio.Soltar(it.value());
    }
    m_fichas.erase(it);
}
