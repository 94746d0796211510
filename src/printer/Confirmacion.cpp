#include "printer/Confirmacion.h"

#include "platform/Ajustes.h"
#include "platform/Reloj.h"
#include "ports/PuertoCom.h"
#include "printer/ComandosImpresora.h"
#include "support/Bitacora.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <string_view>
#include <utility>

using namespace ComandosImpresora;

namespace {

const QString kLectura = QStringLiteral("orlan");
const QString kEscritura = QStringLiteral("ORLAN");

// Printers remembered for the life of the program, whatever binding comes
// and goes: printers confirmed with DLE EOT, printers whose paper near its
// end was already logged.
QSet<QString>& SoloDleEot() {
    static QSet<QString> dispositivos;
    return dispositivos;
}
QSet<QString>& PapelBajoRegistrado() {
    static QSet<QString> dispositivos;
    return dispositivos;
}
// Network and USB printers to probe again at their next status request:
// they came back after a failure, or were slow to answer GS r 1 once.
QSet<QString>& PorSondear() {
    static QSet<QString> dispositivos;
    return dispositivos;
}

// Probes in a row that got no answer, per device: a verdict needs two.
QHash<QString, int>& SondeosCallados() {
    static QHash<QString, int> dispositivos;
    return dispositivos;
}

qint64 AhoraMs() {
    return QDeadlineTimer::current().deadline();
}

// A probe's verdict, kept in the section of the port it was made on:
// "RespondeGsR" (1 or 0), "RespondeGsRDispositivo" (where the port led) and
// "RespondeGsRFecha" (UTC). Nothing when none was kept for this device.
struct Veredicto {
    bool respondeGsR = false;
    bool vigente = false; // younger than Confirmacion::kVigenciaSondeo
};
const QString kClaveGsR = QStringLiteral("RespondeGsR");
const QString kClaveGsRDispositivo = QStringLiteral("RespondeGsRDispositivo");
const QString kClaveGsRFecha = QStringLiteral("RespondeGsRFecha");

std::optional<Veredicto> LeerVeredicto(const QString& puerto, const QString& dispositivo) {
    const QString valor = Ajustes::Leer(kLectura, puerto, kClaveGsR).trimmed();
    if (Ajustes::Leer(kLectura, puerto, kClaveGsRDispositivo) != dispositivo || (valor != u"0" && valor != u"1")) {
        return std::nullopt;
    }
    const QDateTime fecha = QDateTime::fromString(Ajustes::Leer(kLectura, puerto, kClaveGsRFecha), Qt::ISODate);
    const qint64 edad = fecha.isValid() ? fecha.secsTo(Reloj::Ahora()) : -1;
    return Veredicto{valor == u"1", edad >= 0 && edad < Confirmacion::kVigenciaSondeo};
}

void GuardarVeredicto(const QString& puerto, const QString& dispositivo, bool respondeGsR) {
    Ajustes::Guardar(kEscritura, puerto, kClaveGsR, respondeGsR ? QStringLiteral("1") : QStringLiteral("0"));
    Ajustes::Guardar(kEscritura, puerto, kClaveGsRDispositivo, dispositivo);
    Ajustes::Guardar(kEscritura, puerto, kClaveGsRFecha, Reloj::Ahora().toUTC().toString(Qt::ISODate));
}

// Records whether the printer at `dispositivo` answers GS r 1, logging a
// change of how its jobs are confirmed: on a network or USB printer
// (`conVentana`) DLE EOT counts once the time to print the job has passed.
void AnotarRespondeGsR(const QString& dispositivo, bool responde, bool conVentana = true) {
    if (responde && SoloDleEot().remove(dispositivo)) {
        Registrar(QStringLiteral("COLA IMPRESION: ") + dispositivo +
                  QStringLiteral(" responde GS r 1; sus trabajos se confirman de nuevo con GS r 1"));
    } else if (!responde && !SoloDleEot().contains(dispositivo)) {
        SoloDleEot().insert(dispositivo);
        Registrar(QStringLiteral("COLA IMPRESION: ") + dispositivo +
                  QStringLiteral(" no responde GS r 1; sus trabajos se confirman con DLE EOT 4") +
                  (conVentana ? QStringLiteral(" una vez pasado el tiempo de imprimirlos") : QString()));
    }
}

QSet<QString>& InundacionRegistrada() {
    static QSet<QString> dispositivos;
    return dispositivos;
}

// A network connection still open after a failed wait for input: the
// printer closed its sending half and reads on (see TransporteTcp).
bool MedioCerrada(const PuertoCom& p, Transporte::Espera espera) {
    return espera == Transporte::Espera::Fallo && p.Tipo() == PuertoCom::Destino::Tipo::Tcp && p.PortOpen();
}

} // namespace

Confirmacion::Confirmacion(std::array<PuertoCom, 4>& puertos) : m_puertos(puertos) {}

PuertoCom* Confirmacion::Serie(qint16 numero) const {
    return numero >= 1 && numero <= 4 ? &m_puertos[static_cast<std::size_t>(numero - 1)] : nullptr;
}

void Confirmacion::Vincular(bool reutilizada) {
    m_respondioEstado = false;
    m_sinLinea = false;
    m_enviados = 0;
    m_sondeoCallado = false;
    m_reutilizada = reutilizada;
    if (!reutilizada) {
        m_sinRespuesta = 0;
        m_restoAsb = 0;
    }
}

bool Confirmacion::Abrir(qint16 numero, const QString& settings) {
    PuertoCom& p = *Serie(numero);
    if (p.PortOpen()) {
        return true;
    }
    p.EstablecerCommPort(numero);
    if (!p.Abrir(settings)) {
        return false;
    }
    Apertura& a = De(numero);
    if (a.finVentana != 0) {
        QMap<quint64, qint64>& anteriores = m_probadas[static_cast<std::size_t>(numero - 1)];
        anteriores.insert(a.numero, a.comprobada);
        if (anteriores.size() > kProbadas) {
            anteriores.erase(anteriores.begin());
        }
    }
    a = Apertura{a.numero + 1, p.Dispositivo(), 0, 0};
    return true;
}

bool Confirmacion::ConVentana(qint16 numero) const {
    const PuertoCom* p = Serie(numero);
    const Apertura& a = De(numero);
    return p != nullptr && p->PortOpen() && p->Tipo() != PuertoCom::Destino::Tipo::Serie && a.finVentana != 0 &&
           a.comprobada < a.finVentana && p->Dispositivo() == a.destino;
}

void Confirmacion::AnotarLista(qint16 numero) {
    De(numero).comprobada = AhoraMs();
}

bool Confirmacion::SoloTiempoReal(const QString& dispositivo) {
    return SoloDleEot().contains(dispositivo);
}

void Confirmacion::SondearDeNuevo(const QString& dispositivo) {
    PorSondear().insert(dispositivo);
}

bool Confirmacion::VeredictoGuardado(const QString& puerto, const QString& dispositivo) {
    return LeerVeredicto(puerto, dispositivo).has_value();
}

void Confirmacion::RegistrarPapelBajo(const QString& dispositivo, bool bajo, const QString& quien) {
    if (!bajo) {
        PapelBajoRegistrado().remove(dispositivo);
    } else if (!PapelBajoRegistrado().contains(dispositivo)) {
        PapelBajoRegistrado().insert(dispositivo);
        Registrar(QStringLiteral("COLA IMPRESION: ") + quien +
                  QStringLiteral(": papel por terminarse, sigue imprimiendo"));
    }
}

bool Confirmacion::Sondear(PuertoCom& p, const QString& puerto) {
    const QString dispositivo = p.Dispositivo();
    const std::optional<Veredicto> guardado = LeerVeredicto(puerto, dispositivo);
    if (guardado && guardado->vigente && !PorSondear().contains(dispositivo)) {
        // Known, from this process or an earlier one.
        if (guardado->respondeGsR) {
            SoloDleEot().remove(dispositivo);
        } else {
            SoloDleEot().insert(dispositivo);
        }
        return true;
    }
    if (m_reutilizada) {
        // Earlier jobs are still on their way to it: the probe waits for a
        // connection of its own.
        return true;
    }
    // Nothing of ours is in its buffer: a printer that knows GS r 1 answers
    // within milliseconds, one that does not costs kEsperaEstado.
    int respuesta = -1;
    if (!Preguntar(p, Pedido::Sondeo, 0, respuesta)) {
        return false;
    }
    if (m_medioCerrada) {
        return true; // it can answer nothing on this connection; the job's confirmation deals with that
    }
    if (respuesta < 0 && ++SondeosCallados()[dispositivo] < 2) {
        // It may still be printing what an earlier connection brought (a
        // killed server's job): this job is confirmed as the printer that
        // does not answer GS r 1 would be, and it is asked again next time.
        m_sondeoCallado = true;
        return true;
    }
    SondeosCallados().remove(dispositivo);
    PorSondear().remove(dispositivo);
    AnotarRespondeGsR(dispositivo, respuesta >= 0);
    GuardarVeredicto(puerto, dispositivo, respuesta >= 0);
    return true;
}

qint64 Confirmacion::EnCamino(PuertoCom& p, qint16 numero) {
    // The system's unsent count, and the bytes of the windows still open:
    // a receiver with a large buffer (a printer's TCP stack) takes them
    // long before the printer reads them.
    const qint64 ventanas = std::max<qint64>(0, De(numero).finVentana - AhoraMs());
    return std::max(p.PorEnviar(), ventanas * kVelocidadMinima / 1000);
}

Confirmacion::Cierre Confirmacion::RevisarVentana(const Ventana& ventana) {
    PuertoCom* p = Serie(ventana.puerto);
    if (p == nullptr) {
        return Cierre::Perdida;
    }
    Apertura& a = De(ventana.puerto);
    if (a.numero != ventana.conexion) {
        // Closed since, once every window on it was proven, or lost.
        const QMap<quint64, qint64>& anteriores = m_probadas[static_cast<std::size_t>(ventana.puerto - 1)];
        const auto probada = anteriores.constFind(ventana.conexion);
        return probada != anteriores.cend() && *probada >= ventana.fin ? Cierre::Cumplida : Cierre::Perdida;
    }
    if (a.comprobada >= ventana.fin) {
        return Cierre::Cumplida;
    }
    if (!p->PortOpen()) {
        return Cierre::Perdida;
    }
    if (AhoraMs() < ventana.fin) {
        return Cierre::Abierta;
    }
    // Asked between jobs only, so the bound port's requests are not mixed up.
    int respuesta = -1;
    // Later jobs may still be on their way to it: the request waits behind them.
    if (!Preguntar(*p, Pedido::TiempoReal, EnCamino(*p, ventana.puerto), respuesta) || respuesta < 0 ||
        (respuesta & 0x60) != 0) {
        PorSondear().insert(p->Dispositivo());
        p->Cerrar();
        return Cierre::Perdida;
    }
    a.comprobada = AhoraMs();
    return Cierre::Cumplida;
}

bool Confirmacion::Confirmar(PuertoCom* p, qint16 numero, qint16 modo, QString& causa, bool& papelBajo) {
    m_ventana.reset();
    if (p == nullptr || (!m_sinLinea && !m_respondioEstado)) {
        return true;
    }
    const qint64 enviados = m_enviados;
    m_enviados = 0;
    const QString dispositivo = p->Dispositivo();
    // Star's own command set has no request answered in order (GS r is
    // Epson's, and a Star printer would print it as text): a Star printer is
    // asked DLE EOT 4.
    const bool star = modo == 3;
    // A connection kept for windows goes on with DLE EOT: a GS r 1 on it
    // could meet an answer owed to an earlier request.
    const bool callado = std::exchange(m_sondeoCallado, false);
    bool tiempoReal = star || SoloTiempoReal(dispositivo) || callado || (m_reutilizada && m_sinLinea);
    int respuesta = -1;
    const Pedido pedido = tiempoReal ? Pedido::TiempoReal : Pedido::EnOrden;
    // On a connection kept for a window, earlier jobs may still be on their
    // way too.
    const qint64 antes = enviados + EnCamino(*p, numero);
    bool conectada = Preguntar(*p, pedido, antes, respuesta);
    if (conectada && m_medioCerrada) {
        // Nothing can come back on this connection. A network printer serves
        // one connection at a time, in order: asked on a new one, it answers
        // after printing what the closed one brought.
        conectada = Reconectar(*p, numero, enviados) && Preguntar(*p, pedido, enviados, respuesta);
    }
    if (conectada && tiempoReal && !star && !m_tardias.isEmpty()) {
        // Late answers to GS r 1, which is not sent any more: the printer
        // answers it after all, only more slowly than it answered DLE EOT.
        AnotarRespondeGsR(dispositivo, true);
        PorSondear().insert(dispositivo);
    }
    if (conectada && respuesta < 0 && !tiempoReal && !m_medioCerrada) {
        // Silent to GS r 1 once it had all the time its bytes could need: a
        // printer that knows only the real-time request still answers this.
        // (One that closed its sending half on the new connection as well
        // can answer nothing at all.)
        const qint64 pendientes = m_sinRespuesta - (m_sinLinea ? 1 : 0); // older requests owed an answer
        conectada = Preguntar(*p, Pedido::TiempoReal, EnCamino(*p, numero), respuesta);
        if (conectada && m_tardias.size() > pendientes) {
            // A printer that stood still (a cleared jam, a stopped device)
            // answers both at once: GS r 1 was answered, late, after the
            // job's last byte; it is the confirmation, and the printer keeps
            // being asked GS r 1.
            respuesta = m_tardias[pendientes];
        } else if (conectada && respuesta >= 0 && !m_sinLinea) {
            // A serial printer is not probed: one that answers DLE EOT and
            // not GS r 1 is asked DLE EOT from then on. There is no
            // connection whose loss would show a power cut.
            tiempoReal = true;
            AnotarRespondeGsR(dispositivo, false, false);
        } else if (conectada && respuesta >= 0) {
            // Alive but slow to GS r 1 this once: the job gets the window of
            // a DLE EOT confirmation, and the printer is probed again at its
            // next status request rather than judged for good.
            tiempoReal = true;
            PorSondear().insert(dispositivo);
            Registrar(QStringLiteral("COLA IMPRESION: ") + dispositivo +
                      QStringLiteral(" no respondio GS r 1 tras el trabajo; se confirma con DLE EOT 4 una vez pasado "
                                     "el tiempo de imprimirlo"));
        }
    }
    if (!conectada) {
        causa = QStringLiteral("se perdio la conexion: ") + p->Error();
        return false;
    }
    if (respuesta < 0) {
        causa = QStringLiteral("no contesto");
        return false;
    }
    const bool sinPapel = (respuesta & (tiempoReal ? 0x60 : 0x0C)) != 0;
    papelBajo = !sinPapel && (respuesta & (tiempoReal ? 0x0C : 0x03)) != 0;
    if (!sinPapel) {
        RegistrarPapelBajo(dispositivo, papelBajo, dispositivo);
    }
    if (!sinPapel && tiempoReal && m_sinLinea) {
        // The bytes arrived; they are on paper once the connection has stayed
        // up for the time it takes to print them after what is ahead of them.
        Apertura& a = De(numero);
        const qint64 ahora = AhoraMs();
        a.comprobada = ahora;
        a.finVentana = std::max(ahora, a.finVentana) + enviados * 1000 / kVelocidadMinima;
        m_ventana = Ventana{numero, a.numero, a.finVentana};
    }
    causa = sinPapel ? QStringLiteral("sin papel") : QString();
    return !sinPapel;
}

Confirmacion::Llegadas Confirmacion::Respuestas(QByteArrayView bytes) {
    return ClasificarRespuestas(bytes, m_restoAsb);
}

QList<int> Confirmacion::Saldar(QList<int> enOrden) {
    const qint64 atrasadas = std::min<qint64>(m_sinRespuesta, enOrden.size());
    m_sinRespuesta -= atrasadas;
    enOrden.remove(0, atrasadas);
    return enOrden;
}

void Confirmacion::GuardarTardias(const QList<int>& nuevas, const PuertoCom& p) {
    m_tardias += nuevas;
    const qsizetype sobran = m_tardias.size() - kTardiasMaximas;
    if (sobran <= 0) {
        return;
    }
    m_tardias.remove(0, sobran);
    if (!InundacionRegistrada().contains(p.Dispositivo())) {
        InundacionRegistrada().insert(p.Dispositivo());
        Registrar(QStringLiteral("COLA IMPRESION: ") + p.Dispositivo() +
                  QStringLiteral(" envia bytes sin pausa; se guardan solo sus respuestas mas recientes"));
    }
}

bool Confirmacion::Preguntar(PuertoCom& p, Pedido pedido, qint64 bytesAntes, int& respuesta) {
    respuesta = -1;
    // A look without waiting, on a network connection only.
    m_medioCerrada = p.Tipo() == PuertoCom::Destino::Tipo::Tcp && MedioCerrada(p, p.EsperarEntrada(0));
    // What came unasked (automatic status back, late answers) is not the
    // answer; late in-order answers settle requests that went unanswered.
    m_tardias.clear();
    GuardarTardias(Respuestas(p.Input()).enOrden, p);
    Saldar(m_tardias);
    if (m_medioCerrada) {
        return true;
    }
    const bool enOrden = pedido != Pedido::TiempoReal;
    const std::string_view bytes = enOrden ? kPedidoEnOrden : kPedidoEstadoPapel;
    if (!p.Output(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())))) {
        return false;
    }
    // The printer may still be printing a full buffer when the system has
    // passed it every byte; while the system's unsent count falls it is
    // still taking them.
    const qint64 calma = kEsperaEstado + (pedido == Pedido::EnOrden ? kBuferImpresora * 1000 / kVelocidadMinima : 0);
    const QDeadlineTimer tope(calma + p.TiempoLinea(bytesAntes) + bytesAntes * 1000 / kVelocidadMinima);
    // A real-time request behind bytes is answered once the printer has read
    // them, which a receiver that takes them all at once does not show.
    const bool detras = pedido == Pedido::TiempoReal && bytesAntes > 0;
    QDeadlineTimer quieta(detras ? tope.remainingTime() : calma);
    qint64 porEnviar = p.PorEnviar();
    for (;;) {
        const Llegadas llegadas = Respuestas(p.Input());
        QList<int> recibidas = llegadas.tiempoReal;
        if (enOrden) {
            recibidas = Saldar(llegadas.enOrden);
        } else {
            Saldar(llegadas.enOrden);
            GuardarTardias(llegadas.enOrden, p);
        }
        if (!recibidas.isEmpty()) {
            respuesta = recibidas.first();
            return true;
        }
        const qint64 ahora = p.PorEnviar();
        if (ahora < porEnviar && !detras) {
            quieta.setRemainingTime(calma);
        }
        porEnviar = ahora;
        if (quieta.hasExpired() || tope.hasExpired()) {
            respuesta = -1;
            // A network printer answers every in-order request in the end,
            // late; a serial line may simply have lost it.
            m_sinRespuesta += enOrden && m_sinLinea ? 1 : 0;
            return true;
        }
        if (m_latido) {
            m_latido();
        }
        const qint64 tramo = std::min({quieta.remainingTime(), tope.remainingTime(), kTramoEspera});
        const Transporte::Espera espera = p.EsperarEntrada(static_cast<int>(tramo));
        if (MedioCerrada(p, espera)) {
            // Closed after the request was sent (what came before the FIN
            // was read above): its answer cannot come.
            m_medioCerrada = true;
            return true;
        }
        if (espera == Transporte::Espera::Fallo) {
            return false;
        }
    }
}

bool Confirmacion::Reconectar(PuertoCom& p, qint16 numero, qint64 bytesAntes) {
    // The connection is closed only once the printer took the job's bytes:
    // the system delivers the rest after a close too, but the wait for the
    // answer on the new connection counts from here. While the unsent count
    // keeps falling the printer is still taking them.
    const QDeadlineTimer tope(kEsperaEstado + p.TiempoLinea(bytesAntes) + bytesAntes * 1000 / kVelocidadMinima);
    QDeadlineTimer quieta(kEsperaEstado);
    for (qint64 porEnviar = p.PorEnviar(); porEnviar > 0 && !quieta.hasExpired() && !tope.hasExpired();) {
        if (m_latido) {
            m_latido();
        }
        QThread::msleep(static_cast<unsigned long>(std::min(quieta.remainingTime(), kTramoEspera / 4)));
        const qint64 ahora = p.PorEnviar();
        if (ahora < porEnviar) {
            quieta.setRemainingTime(kEsperaEstado);
        }
        porEnviar = ahora;
    }
    p.Cerrar();
    // The setting is read again at the opening: a port pointed elsewhere
    // meanwhile would confirm this printer's job with another printer's
    // answer.
    if (p.Dispositivo() != m_destino || !Abrir(numero, QString())) {
        return false;
    }
    if (p.Dispositivo() != m_destino || p.Tipo() != PuertoCom::Destino::Tipo::Tcp) {
        p.Cerrar();
        return false;
    }
    return true;
}

bool Confirmacion::LeerEstadoPapel(qint16 numero, int& respuesta, qint64 milisegundos) {
    PuertoCom* p = Serie(numero);
    if (p != nullptr && m_sinLinea) {
        // Ours to define: only an answer in DLE EOT's format counts.
        // A connection kept for a window may still carry earlier jobs.
        const bool conectada = Preguntar(*p, Pedido::TiempoReal, EnCamino(*p, numero), respuesta);
        respuesta = std::max(respuesta, 0);
        return conectada;
    }
    if (p == nullptr || !p->Output(QByteArrayView(kPedidoEstadoPapel.data(), kPedidoEstadoPapel.size()))) {
        return false;
    }
    // Monotonic and to the millisecond: an answer 1.9 s late is in time.
    const QDeadlineTimer plazo(milisegundos);
    for (;;) {
        const QByteArray recibido = p->Input();
        if (!recibido.isEmpty()) {
            respuesta = static_cast<unsigned char>(recibido[0]);
            return true;
        }
        if (plazo.hasExpired()) {
            respuesta = 0;
            return true;
        }
        if (p->EsperarEntrada(static_cast<int>(std::min<qint64>(plazo.remainingTime(), kTramoEspera))) ==
            Transporte::Espera::Fallo) {
            return false;
        }
    }
}
