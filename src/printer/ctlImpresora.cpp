#include "printer/ctlImpresora.h"

#include "lpt/lptTest.h"
#include "lpt/lptUtils.h"
#include "platform/Ajustes.h"
#include "platform/Cp1252.h"
#include "platform/Reloj.h"
#include "platform/Senales.h"
#include "ports/NombrePuerto.h"
#include "ports/PuertoCom.h"
#include "ports/PuertoES.h"
#include "printer/ComandosImpresora.h"
#include "printer/EstadoImpresora.h"
#include "support/Bitacora.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QThread>
#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <optional>
#include <utility>

using namespace ComandosImpresora;

namespace {

const QString kLectura = QStringLiteral("orlan");
const QString kEscritura = QStringLiteral("ORLAN");

// Blocking waits are cut into slices this long, so that a deadline on the
// wall clock (which tests and clock changes can move) is seen soon.
constexpr qint64 kTramoEspera = 200;

constexpr char kStx = '\x02';
constexpr char kEtx = '\x03';
constexpr char kDc2 = '\x12';

// A deadline `segundos` ahead on the clock of Reloj, counted from the start of
// the current second, so it falls between segundos - 1 and segundos away. A
// monotonic limit of the same length backs it: a clock that stands still (a
// test's) cannot make a wait endless.
class Plazo {
public:
    explicit Plazo(int segundos) : m_real(segundos * 1000) {
        const QDateTime ahora = Reloj::Ahora();
        const QTime t = ahora.time();
        m_fin = QDateTime(ahora.date(), QTime(t.hour(), t.minute(), t.second())).addSecs(segundos);
    }

    // Never later than `tope`.
    Plazo& Acotar(const Plazo& tope) {
        m_fin = std::min(m_fin, tope.m_fin);
        m_real = std::min(m_real, tope.m_real);
        return *this;
    }

    bool Vencido() const { return Reloj::Ahora() >= m_fin || m_real.hasExpired(); }

    // How long the next blocking wait may last: 0 once the deadline passed.
    int Tramo() const {
        const qint64 resto = std::min(Reloj::Ahora().msecsTo(m_fin), m_real.remainingTime());
        return static_cast<int>(std::clamp<qint64>(resto, 0, kTramoEspera));
    }

private:
    QDateTime m_fin;
    QDeadlineTimer m_real;
};

QString TextoRegistro(std::string_view texto, qint16 modo) {
    return QLatin1StringView(texto.data(), static_cast<qsizetype>(texto.size())) + QString::number(modo);
}

// Opens a closed port object on port `numero`; a null settings text keeps
// the object's own settings.
bool AbrirSerie(PuertoCom& p, qint16 numero, const QString& settings) {
    if (p.PortOpen()) {
        return true;
    }
    p.EstablecerCommPort(numero);
    return p.Abrir(settings.isNull() ? settings : ctlImpresora::SettingsSerie(settings));
}

// How long a printer has to answer the paper-status request, in ms.
constexpr qint64 kEsperaEstado = 2000;

// "Cocina (COM1 en tcp:10.0.0.5:9100)": the name the printer was loaded
// with, then its port and where that leads.
QString NombreImpresora(const QString& impresora, const QString& destino) {
    const QString nombre = Ajustes::Leer(kLectura, impresora, QStringLiteral("Nombre"), QString());
    return (nombre.isEmpty() ? QStringLiteral("impresora") : nombre) + QStringLiteral(" (") + destino + u')';
}

// Ports and printers remembered for the life of the program, whatever
// binding comes and goes: printers confirmed with DLE EOT, serial ports that
// answered once, printers whose paper near its end was already logged.
QSet<QString>& SoloDleEot() {
    static QSet<QString> dispositivos;
    return dispositivos;
}
QSet<QString>& Respondieron() {
    static QSet<QString> dispositivos;
    return dispositivos;
}
QSet<QString>& PapelBajoRegistrado() {
    static QSet<QString> dispositivos;
    return dispositivos;
}
// Paper near its end is logged once per device, until it reports otherwise,
// whichever request told it (DLE EOT 4 before a job, GS r 1 after it).
void RegistrarPapelBajo(const QString& dispositivo, bool bajo, const QString& quien) {
    if (!bajo) {
        PapelBajoRegistrado().remove(dispositivo);
    } else if (!PapelBajoRegistrado().contains(dispositivo)) {
        PapelBajoRegistrado().insert(dispositivo);
        Registrar(QStringLiteral("COLA IMPRESION: ") + quien +
                  QStringLiteral(": papel por terminarse, sigue imprimiendo"));
    }
}
// Network and USB printers that answered a status request in this process,
// and those to probe again at their next status request: they came back
// after a failure, or were slow to answer GS r 1 once.
QSet<QString>& Contestaron() {
    static QSet<QString> dispositivos;
    return dispositivos;
}
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
    bool vigente = false; // younger than ctlImpresora::kVigenciaSondeo
};
const QString kClaveGsR = QStringLiteral("RespondeGsR");
const QString kClaveGsRDispositivo = QStringLiteral("RespondeGsRDispositivo");
const QString kClaveGsRFecha = QStringLiteral("RespondeGsRFecha");

std::optional<Veredicto> VeredictoGuardado(const QString& puerto, const QString& dispositivo) {
    const QString valor = Ajustes::Leer(kLectura, puerto, kClaveGsR).trimmed();
    if (Ajustes::Leer(kLectura, puerto, kClaveGsRDispositivo) != dispositivo || (valor != u"0" && valor != u"1")) {
        return std::nullopt;
    }
    const QDateTime fecha = QDateTime::fromString(Ajustes::Leer(kLectura, puerto, kClaveGsRFecha), Qt::ISODate);
    const qint64 edad = fecha.isValid() ? fecha.secsTo(Reloj::Ahora()) : -1;
    return Veredicto{valor == u"1", edad >= 0 && edad < ctlImpresora::kVigenciaSondeo};
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

} // namespace

struct ctlImpresora::Privado {
    std::array<PuertoCom, 4> puertos; // Puerto, Puerto2, Puerto3, Puerto4

    // One opening of a port: where it led, and the confirmation windows of
    // the jobs sent on it (monotonic ms).
    struct Apertura {
        quint64 numero = 0;
        QString destino;
        qint64 finVentana = 0; // the end of the last window opened on it; 0: none
        qint64 comprobada = 0; // when the printer last answered ready on it
    };
    std::array<Apertura, 4> aperturas;
    // Earlier openings that carried windows, and when the printer last
    // answered ready on each: the windows the server has not looked at yet
    // that ended before that are proven. The newest kept.
    std::array<QMap<quint64, qint64>, 4> probadas;
    static constexpr qsizetype kProbadas = 64;

    PuertoCom* Serie(qint16 numero) {
        return numero >= 1 && numero <= 4 ? &puertos[static_cast<std::size_t>(numero - 1)] : nullptr;
    }
    Apertura& De(qint16 numero) { return aperturas[static_cast<std::size_t>(numero - 1)]; }

    // Opens port `numero` if closed, as a new opening.
    bool Abrir(qint16 numero, const QString& settings) {
        PuertoCom& p = *Serie(numero);
        if (p.PortOpen()) {
            return true;
        }
        if (!AbrirSerie(p, numero, settings)) {
            return false;
        }
        Apertura& a = De(numero);
        if (a.finVentana != 0) {
            QMap<quint64, qint64>& anteriores = probadas[static_cast<std::size_t>(numero - 1)];
            anteriores.insert(a.numero, a.comprobada);
            if (anteriores.size() > kProbadas) {
                anteriores.erase(anteriores.begin());
            }
        }
        a = Apertura{a.numero + 1, p.Dispositivo(), 0, 0};
        return true;
    }

    // A network or USB connection with a window still open or not yet
    // proven, still leading where the port's setting leads.
    bool ConVentana(qint16 numero) {
        const PuertoCom* p = Serie(numero);
        const Apertura& a = De(numero);
        return p != nullptr && p->PortOpen() && p->Tipo() != PuertoCom::Destino::Tipo::Serie && a.finVentana != 0 &&
               a.comprobada < a.finVentana && p->Dispositivo() == a.destino;
    }
};

ctlImpresora::ctlImpresora() : d(new Privado) {}

ctlImpresora::~ctlImpresora() {
    delete d;
}

bool ctlImpresora::InicializarPuerto(const QString& impresora, QString* estado_impresora) {
    const QString m = Ajustes::Leer(kLectura, impresora, QStringLiteral("Modo"), QStringLiteral("E"));
    const QString s = Ajustes::Leer(kLectura, impresora, QStringLiteral("Settings"), QStringLiteral("9600,N,8,1"));
    if (!ConfigurarPuerto(impresora, m, s, estado_impresora)) {
        return false;
    }
    m_modoImpresora = m == u"C" ? 2 : m == u"S" ? 3 : 1;
    return true;
}

QString ctlImpresora::SettingsSerie(const QString& settings) {
    const qsizetype inicio = settings.indexOf(u',') + 1;
    const qsizetype fin = inicio > 0 ? settings.indexOf(u',', inicio) : -1;
    if (fin < 0) {
        return settings;
    }
    const QString letra = settings.mid(inicio, fin - inicio).trimmed().toUpper();
    if (letra != u"P" && letra != u"I") {
        return settings;
    }
    return QString(settings).replace(inicio, fin - inicio, letra == u"P" ? u'E' : u'O');
}

void ctlImpresora::CerrarPuerto(qint16 NumberPort) {
    PuertoCom* p = d->Serie(NumberPort);
    if (p != nullptr && p->PortOpen()) {
        // The break is released again before closing: some drivers would
        // leave the line in break after the close.
        p->Break(true);
        p->Break(false);
        p->Cerrar();
    }
}

bool ctlImpresora::ConfigurarPuerto(const QString& impresora, const QString& modo, const QString& settings,
                                    QString* estado_impresora) {
    // A port name is read by the one rule; any other name is read by its
    // first four characters: the kind in the first three, the number in the
    // fourth ("LPT1 de la cocina" is LPT1).
    QString tipo;
    if (const std::optional<NombrePuerto> puerto = NombrePuerto::Leer(impresora)) {
        tipo = puerto->clase == NombrePuerto::Clase::Serie ? QStringLiteral("COM") : QStringLiteral("LPT");
        m_numeroPuerto = static_cast<qint16>(puerto->numero);
    } else {
        const QChar cifra = impresora.size() >= 4 ? impresora[3] : QChar();
        if (cifra < u'0' || cifra > u'9') {
            throw ErrorEjecucion(ErrorEjecucion::kTiposNoCoinciden, QStringLiteral("No coinciden los tipos"));
        }
        tipo = impresora.left(3).toUpper();
        m_numeroPuerto = static_cast<qint16>(cifra.unicode() - u'0');
    }
    const bool serie = tipo == u"COM";
    const bool paralelo = tipo == u"LPT";
    // A connection that still carries a job's confirmation window is kept:
    // closing it would throw away the proof the window waits for.
    const bool reutilizada = serie && d->Serie(m_numeroPuerto) != nullptr && d->ConVentana(m_numeroPuerto);
    if (!reutilizada) {
        CerrarPuerto(m_numeroPuerto);
    }

    EstadoImpresora estado = EstadoImpresora::Desconocido;
    m_respondioEstado = false;
    m_sinLinea = false;
    m_plazoTrabajo.setRemainingTime(kPlazoTrabajo);
    m_enviados = 0;
    m_papelBajo = false;
    m_calloTrasResponder = false;
    m_ocupada = false;
    m_sondeoCallado = false;
    m_reutilizada = reutilizada;
    if (!reutilizada) {
        // Requests still owed an answer belong to the connection: on a kept
        // one, a late answer must still settle the request it answers.
        m_sinRespuesta = 0;
        m_restoAsb = 0;
    }
    QString causa;
    if (serie) {
        estado = EstadoImpresora::NoImprime;
        int respuesta = 0;
        PuertoCom* p = d->Serie(m_numeroPuerto);
        bool abierto = false;
        bool consultada = false;
        // The kept connection may have been lost (a printer that restarted
        // resets it): the printer is then asked on a new one.
        for (int vez = 0; vez < (reutilizada ? 2 : 1) && !consultada; ++vez) {
            if (vez > 0) {
                p->Cerrar();
            }
            abierto = p != nullptr && d->Abrir(m_numeroPuerto, settings);
            m_sinLinea = p != nullptr && p->Tipo() != PuertoCom::Destino::Tipo::Serie;
            consultada = abierto && LeerEstadoPapel(respuesta, kEsperaEstado);
        }
        m_destino = abierto ? p->Dispositivo() : QString();
        if (p != nullptr && m_sinLinea && (!consultada || respuesta == 0)) {
            // Whatever it is found to be when it answers again is asked anew.
            PorSondear().insert(p->Dispositivo());
        }
        if (p == nullptr) {
            causa = QStringLiteral("no hay puerto serie %1").arg(m_numeroPuerto);
        } else if (!abierto) {
            // A network printer that does not take the connection in time
            // cannot be printed on: failing, as a port that cannot be opened.
            causa = p->SinRespuesta() ? QStringLiteral("no acepta la conexion")
                                      : QStringLiteral("no se pudo abrir: ") + p->Error();
        } else if (!consultada) {
            causa = QStringLiteral("no se pudo consultar: ") + p->Error();
        } else {
            Ajustes::Guardar(kEscritura, impresora, QStringLiteral("EstadoPapel"), QString::number(respuesta));
            if (m_sinLinea) {
                // Only a DLE EOT answer comes here: paper out (0x60) cannot
                // print, paper near its end (0x0C) still prints.
                const QString dispositivo = p->Dispositivo();
                estado = respuesta == 0            ? EstadoImpresora::NoContesta
                         : (respuesta & 0x60) != 0 ? EstadoImpresora::NoImprime
                                                   : EstadoImpresora::Lista;
                m_papelBajo = estado == EstadoImpresora::Lista && (respuesta & 0x0C) != 0;
                RegistrarPapelBajo(
                    dispositivo, m_papelBajo,
                    NombreImpresora(impresora, impresora.left(4).toUpper() + QStringLiteral(" en ") + dispositivo));
                if (respuesta != 0) {
                    Contestaron().insert(dispositivo);
                } else if (p->Tipo() == PuertoCom::Destino::Tipo::Tcp &&
                           (Contestaron().contains(dispositivo) || VeredictoGuardado(impresora, dispositivo))) {
                    // A network printer takes the next connection into its
                    // backlog while it serves another: one that answered
                    // before and is silent on a connection it took is busy.
                    m_ocupada = true;
                }
                if (estado == EstadoImpresora::Lista) {
                    d->De(m_numeroPuerto).comprobada = AhoraMs();
                    // Star's command set has no GS r: such a printer is never
                    // asked it.
                    const bool star =
                        modo == u"S" || Ajustes::Leer(kLectura, impresora, QStringLiteral("Modo")) == u"S";
                    if (!star && !Sondear(*p, impresora)) {
                        // It dropped the connection at the probe: it would
                        // drop the job too.
                        estado = EstadoImpresora::NoImprime;
                    }
                }
            } else {
                estado = respuesta == 18    ? EstadoImpresora::Lista
                         : respuesta == 114 ? EstadoImpresora::NoImprime
                         : respuesta == 0   ? EstadoImpresora::NoContesta
                         : respuesta == 16  ? EstadoImpresora::Respuesta16
                                            : EstadoImpresora::Desconocido;
                // A serial printer that answered once and is silent now was
                // switched off (its adapter still takes the bytes).
                m_calloTrasResponder =
                    estado == EstadoImpresora::NoContesta && Respondieron().contains(p->Dispositivo());
            }
            m_respondioEstado = estado == EstadoImpresora::Lista || estado == EstadoImpresora::Respuesta16;
            if (m_respondioEstado && !m_sinLinea) {
                Respondieron().insert(p->Dispositivo());
            }
            causa = !p->PortOpen()                         ? QStringLiteral("se perdio la conexion: ") + p->Error()
                    : estado == EstadoImpresora::NoImprime ? QStringLiteral("sin papel")
                    : m_ocupada ? QStringLiteral("ocupada: otro programa imprime en ella, o aun toma lo de una "
                                                 "conexion anterior")
                    : estado == EstadoImpresora::NoContesta ? QStringLiteral("no contesta")
                                                            : QStringLiteral("respuesta desconocida %1").arg(respuesta);
        }
        m_esLpt = false;
    } else if (paralelo && !PuertoES::Actual().BaseLpt(m_numeroPuerto) &&
               (m_numeroPuerto < 1 || m_numeroPuerto > NombrePuerto::kUltimoParaleloDirecto)) {
        // Through the card's own registers LPTn is its base address plus
        // n - 1: LPT0 and the ports past the last one would reach another
        // device's registers, which are never touched.
        m_esLpt = true;
        m_direccionLpt = 0;
        estado = EstadoImpresora::NoImprime;
        causa = QStringLiteral("LPT%1 queda fuera de la tarjeta paralela (LPT1 a LPT%2)")
                    .arg(m_numeroPuerto)
                    .arg(NombrePuerto::kUltimoParaleloDirecto);
    } else if (paralelo) {
        m_esLpt = true;
        if (const auto propia = PuertoES::Actual().BaseLpt(m_numeroPuerto)) {
            // A backend with registers of their own for every port (ppdev).
            m_direccionLpt = static_cast<qint16>(*propia);
            TestPortFunction(m_direccionLpt);
        } else {
            m_direccionLpt = static_cast<qint16>(DetectarPuertoLpt() + (m_numeroPuerto - 1));
        }
        const int s = ReadStatus(m_direccionLpt);
        Ajustes::Guardar(kEscritura, impresora, QStringLiteral("EstadoReal"), QString::number(s));
        // The backend's own words name the device and the system's error.
        causa = s < 0 ? QStringLiteral("no se pudo leer el puerto: ") + PuertoES::Actual().Error()
                      : QStringLiteral("estado desconocido %1").arg(s);
        if (s < 0) {
            estado = EstadoImpresora::NoImprime; // the port could not be read
        } else if ((s & 0x78) == 0x00 || (s & 0x78) == 0x58) {
            estado = EstadoImpresora::Lista;
            Registrar(QStringLiteral("COLA IMPRESION: FUNCIONA BIEN ") + QString::number(s));
        } else if ((s & 0x78) == 0x70 || (s & 0x78) == 0x78) {
            estado = EstadoImpresora::NoImprime;
            causa = QStringLiteral("sin papel");
            Registrar(QStringLiteral("COLA IMPRESION: FALTA PAPEL ") + QString::number(s));
        }
    } else {
        Ajustes::Guardar(kEscritura, impresora, tipo, QStringLiteral("Desconocida"));
        causa = QStringLiteral("tipo de puerto desconocido");
    }

    const QString letra = LetraEstado(estado);
    if (estado_impresora != nullptr) {
        *estado_impresora = letra;
    }
    Registrar(QStringLiteral("COLA IMPRESION: ") + letra + u' ' + QString::number(NumeroEstado(estado)));
    m_causa.clear();
    if (estado != EstadoImpresora::Lista && estado != EstadoImpresora::Respuesta16) {
        // The line above names neither the printer nor why: this one does.
        m_causa = causa;
        // Where the port leads is read only for this line.
        QString destino = impresora.left(4).toUpper();
        if (const PuertoCom* p = serie ? d->Serie(m_numeroPuerto) : nullptr) {
            destino += QStringLiteral(" en ") + p->Dispositivo();
        } else if (const QString ruta = PuertoES::Actual().DispositivoLpt(m_numeroPuerto);
                   paralelo && !ruta.isEmpty()) {
            destino += QStringLiteral(" en ") + ruta;
        } else if (paralelo && m_direccionLpt != 0) {
            destino += QStringLiteral(" en 0x") + QString::number(static_cast<quint16>(m_direccionLpt), 16);
        }
        Registrar(QStringLiteral("COLA IMPRESION: ") + NombreImpresora(impresora, destino) + QStringLiteral(": ") +
                  causa);
    }
    Ajustes::Guardar(kEscritura, impresora, QStringLiteral("Estado"), QString::number(NumeroEstado(estado)));
    return estado == EstadoImpresora::Lista || estado == EstadoImpresora::NoContesta ||
           estado == EstadoImpresora::Respuesta16;
}

bool ctlImpresora::PapelBajoSegunAjustes(const QString& puerto) {
    const int v = Ajustes::Leer(kLectura, puerto, QStringLiteral("EstadoPapel"), QStringLiteral("0")).toInt();
    return EsRespuestaTiempoReal(static_cast<unsigned char>(v)) && (v & 0x0C) != 0 && (v & 0x60) == 0;
}

bool ctlImpresora::SoloTiempoReal(const QString& dispositivo) {
    return SoloDleEot().contains(dispositivo);
}

bool ctlImpresora::Sondear(PuertoCom& p, const QString& puerto) {
    const QString dispositivo = p.Dispositivo();
    const std::optional<Veredicto> guardado = VeredictoGuardado(puerto, dispositivo);
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

void ctlImpresora::LiberarPuertos() {
    for (qint16 numero = 1; numero <= 4; ++numero) {
        PuertoCom& p = *d->Serie(numero);
        if (p.PortOpen() && p.Tipo() != PuertoCom::Destino::Tipo::Serie && !d->ConVentana(numero)) {
            p.Cerrar();
        }
    }
}

qint64 ctlImpresora::EnCamino(PuertoCom& p, qint16 numero) {
    // The system's unsent count, and the bytes of the windows still open:
    // a receiver with a large buffer (a printer's TCP stack) takes them
    // long before the printer reads them.
    const qint64 ventanas = std::max<qint64>(0, d->De(numero).finVentana - AhoraMs());
    return std::max(p.PorEnviar(), ventanas * kVelocidadMinima / 1000);
}

ctlImpresora::Cierre ctlImpresora::RevisarVentana(const Ventana& ventana) {
    PuertoCom* p = d->Serie(ventana.puerto);
    if (p == nullptr) {
        return Cierre::Perdida;
    }
    Privado::Apertura& a = d->De(ventana.puerto);
    if (a.numero != ventana.conexion) {
        // Closed since, once every window on it was proven, or lost.
        const QMap<quint64, qint64>& anteriores = d->probadas[static_cast<std::size_t>(ventana.puerto - 1)];
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

bool ctlImpresora::ConfirmarRecepcion() {
    m_ventana.reset();
    if (m_esLpt || (!m_sinLinea && !m_respondioEstado)) {
        return true;
    }
    PuertoCom* p = d->Serie(m_numeroPuerto);
    if (p == nullptr) {
        return true;
    }
    const qint64 enviados = m_enviados;
    m_enviados = 0;
    const QString dispositivo = p->Dispositivo();
    // Star's own command set has no request answered in order (GS r is
    // Epson's, and a Star printer would print it as text): a Star printer is
    // asked DLE EOT 4.
    const bool star = m_modoImpresora == 3;
    // A connection kept for windows goes on with DLE EOT: a GS r 1 on it
    // could meet an answer owed to an earlier request.
    const bool callado = std::exchange(m_sondeoCallado, false);
    bool tiempoReal = star || SoloTiempoReal(dispositivo) || callado || (m_reutilizada && m_sinLinea);
    int respuesta = -1;
    const Pedido pedido = tiempoReal ? Pedido::TiempoReal : Pedido::EnOrden;
    // On a connection kept for a window, earlier jobs may still be on their
    // way too.
    const qint64 antes = enviados + EnCamino(*p, m_numeroPuerto);
    bool conectada = Preguntar(*p, pedido, antes, respuesta);
    if (conectada && m_medioCerrada) {
        // Nothing can come back on this connection. A network printer serves
        // one connection at a time, in order: asked on a new one, it answers
        // after printing what the closed one brought.
        conectada = Reconectar(*p, enviados) && Preguntar(*p, pedido, enviados, respuesta);
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
        conectada = Preguntar(*p, Pedido::TiempoReal, EnCamino(*p, m_numeroPuerto), respuesta);
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
        m_causa = QStringLiteral("se perdio la conexion: ") + p->Error();
        return false;
    }
    if (respuesta < 0) {
        m_causa = QStringLiteral("no contesto");
        return false;
    }
    const bool sinPapel = (respuesta & (tiempoReal ? 0x60 : 0x0C)) != 0;
    m_papelBajo = !sinPapel && (respuesta & (tiempoReal ? 0x0C : 0x03)) != 0;
    if (!sinPapel) {
        RegistrarPapelBajo(dispositivo, m_papelBajo, dispositivo);
    }
    if (!sinPapel && tiempoReal && m_sinLinea) {
        // The bytes arrived; they are on paper once the connection has stayed
        // up for the time it takes to print them after what is ahead of them.
        Privado::Apertura& a = d->De(m_numeroPuerto);
        const qint64 ahora = AhoraMs();
        a.comprobada = ahora;
        a.finVentana = std::max(ahora, a.finVentana) + enviados * 1000 / kVelocidadMinima;
        m_ventana = Ventana{m_numeroPuerto, a.numero, a.finVentana};
    }
    m_causa = sinPapel ? QStringLiteral("sin papel") : QString();
    return !sinPapel;
}

ctlImpresora::Llegadas ctlImpresora::Respuestas(QByteArrayView bytes) {
    return ClasificarRespuestas(bytes, m_restoAsb);
}

QList<int> ctlImpresora::Saldar(QList<int> enOrden) {
    const qint64 atrasadas = std::min<qint64>(m_sinRespuesta, enOrden.size());
    m_sinRespuesta -= atrasadas;
    enOrden.remove(0, atrasadas);
    return enOrden;
}

void ctlImpresora::GuardarTardias(const QList<int>& nuevas, const PuertoCom& p) {
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

namespace {

// A network connection still open after a failed wait for input: the
// printer closed its sending half and reads on (see TransporteTcp).
bool MedioCerrada(const PuertoCom& p, Transporte::Espera espera) {
    return espera == Transporte::Espera::Fallo && p.Tipo() == PuertoCom::Destino::Tipo::Tcp && p.PortOpen();
}

} // namespace

bool ctlImpresora::Preguntar(PuertoCom& p, Pedido pedido, qint64 bytesAntes, int& respuesta) {
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

bool ctlImpresora::Reconectar(PuertoCom& p, qint64 bytesAntes) {
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
    if (p.Dispositivo() != m_destino || !d->Abrir(m_numeroPuerto, QString())) {
        return false;
    }
    if (p.Dispositivo() != m_destino || p.Tipo() != PuertoCom::Destino::Tipo::Tcp) {
        p.Cerrar();
        return false;
    }
    return true;
}

bool ctlImpresora::LeerEstadoPapel(int& respuesta, qint64 milisegundos) {
    PuertoCom* p = d->Serie(m_numeroPuerto);
    if (p != nullptr && m_sinLinea) {
        // Ours to define: only an answer in DLE EOT's format counts.
        // A connection kept for a window may still carry earlier jobs.
        const bool conectada = Preguntar(*p, Pedido::TiempoReal, EnCamino(*p, m_numeroPuerto), respuesta);
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

bool ctlImpresora::Salida(PuertoCom& p, QByteArrayView bytes) {
    m_enviados += bytes.size();
    if (Senales::Pedida() && p.PortOpen()) {
        // A stop was asked for: a long job on a slow line would outlast the
        // service manager's patience and be killed mid-print. The rest of the
        // job fails at once and the job stays queued.
        p.Cerrar();
        m_causa = QStringLiteral("se pidio detener el servicio");
    }
    if (m_sinLinea && m_plazoTrabajo.hasExpired() && p.PortOpen()) {
        // Each write has its own limit, but a printer that takes every piece
        // just in time would hold the terminal for as long as it likes.
        p.Cerrar();
        m_causa = QStringLiteral("el trabajo no termino en %1 s").arg(kPlazoTrabajo / 1000);
    }
    return p.Output(bytes);
}

bool ctlImpresora::Enviar(QByteArrayView bytes) {
    try {
        if (m_esLpt) {
            ImprimirCadena(m_direccionLpt, bytes); // a false result is logged to PRT.ERR by the port layer
            return true;
        }
        PuertoCom* p = d->Serie(m_numeroPuerto);
        return p == nullptr || Salida(*p, bytes);
    } catch (const std::exception&) {
        return false;
    }
}

void ctlImpresora::EnviarComando(QByteArrayView bytes, std::string_view textoError) {
    if (!Enviar(bytes)) {
        Registrar(TextoRegistro(textoError, m_modoImpresora));
    }
}

bool ctlImpresora::EnviarTexto(QStringView texto, bool conFinDeLinea) {
    // Parallel: text [+ 0A 0D]. Serial: [0D +] text [+ 0A 0D].
    // Each call owns the bytes it sends until it returns: the parallel port's
    // busy wait lets events run, and one of them may print on this very
    // control meanwhile. A line of usual length is built on the stack.
    const bool serie = !m_esLpt;
    const qsizetype inicio = serie && conFinDeLinea ? 1 : 0;
    QVarLengthArray<char, 256> salida(inicio + texto.size() + (conFinDeLinea ? 2 : 0));
    char* destino = salida.data();
    if (inicio != 0) {
        *destino++ = '\x0D';
    }
    destino += Cp1252::CodificarEn(texto, destino);
    if (conFinDeLinea) {
        *destino++ = '\x0A';
        *destino++ = '\x0D';
    }
    const QByteArrayView bytes(salida.data(), destino - salida.data());
    try {
        if (m_esLpt) {
            return ImprimirCadena(m_direccionLpt, bytes);
        }
        PuertoCom* p = d->Serie(m_numeroPuerto);
        return p != nullptr && p->PortOpen() && Salida(*p, bytes);
    } catch (const std::exception&) {
        return false;
    }
}

bool ctlImpresora::Imprimirln(QString& PsCadena) {
    if (!m_esLpt) {
        PuertoCom* p = d->Serie(m_numeroPuerto);
        if (p == nullptr || !p->PortOpen()) {
            return false;
        }
        const bool ok = EnviarTexto(PsCadena, true);
        PsCadena += QStringLiteral("\n\r");
        return ok;
    }
    return EnviarTexto(PsCadena, true);
}

bool ctlImpresora::Imprimir(const QString& PsCadena) {
    return EnviarTexto(PsCadena, false);
}

QString ctlImpresora::Recibir() {
    PuertoCom& p = d->puertos[0];
    const auto fallar = [&p]() {
        p.Cerrar();
        throw ErrorRecibir();
    };
    if (!p.PortOpen()) {
        fallar();
    }
    p.DescartarEntrada();

    // A DC2 in an answer restarts the 10 seconds, but never past one minute.
    const Plazo tope(60);
    Plazo plazo = Plazo(10).Acotar(tope);
    QByteArray acumulado("0");
    QByteArray pieza("0");
    bool empezado = false;
    bool terminado = false;
    qsizetype despues = 0;
    while (!terminado && !plazo.Vencido()) {
        bool leida = false;
        if (!empezado && p.InBufferCount() >= 4) {
            pieza = p.Input();
            acumulado += pieza;
            const qsizetype etx = pieza.indexOf(kEtx);
            despues = etx < 0 ? pieza.size() : pieza.size() - (etx + 1);
            leida = true;
        }
        if (leida && pieza.contains(kDc2)) {
            plazo = Plazo(10).Acotar(tope);
        }
        if (empezado || pieza.contains(kEtx)) {
            empezado = true;
            if (p.InBufferCount() >= 4 - despues) {
                pieza = p.Input();
                acumulado += pieza;
                terminado = true;
            }
        }
        if (!terminado && p.EsperarEntrada(plazo.Tramo()) == Transporte::Espera::Fallo) {
            fallar();
        }
    }
    if (!terminado) {
        fallar();
    }
    const qsizetype etx = acumulado.indexOf(kEtx);
    acumulado.truncate(etx + 1 + 4);
    const qsizetype stx = acumulado.indexOf(kStx);
    if (stx < 0) {
        fallar();
    }
    p.Cerrar();
    return Cp1252::Decodificar(QByteArrayView(acumulado).sliced(stx));
}

void ctlImpresora::Cortar() {
    Avanzar(m_esLpt ? 5 : 12);
    EnviarComando(BytesComando(Comando::Cortar, m_modoImpresora), TextoError(Comando::Cortar));
}

bool ctlImpresora::Abrircaja() {
    const QByteArrayView bytes = BytesComando(Comando::Abrircaja, m_modoImpresora);
    if (m_esLpt) {
        EnviarComando(bytes, TextoError(Comando::Abrircaja));
    } else if (d->puertos[0].PortOpen() && !d->puertos[0].Output(bytes)) {
        // The drawer hangs on the first serial port, whatever port the printer uses.
        Registrar(TextoRegistro(TextoError(Comando::Abrircaja), m_modoImpresora));
    }
    return false;
}

void ctlImpresora::Negrita(bool active) {
    const Comando c = Segun(active, Comando::NegritaSi, Comando::NegritaNo);
    EnviarComando(BytesComando(c, m_modoImpresora), TextoError(c));
}

void ctlImpresora::Subrayado(bool active) {
    const Comando c = Segun(active, Comando::SubrayadoSi, Comando::SubrayadoNo);
    EnviarComando(BytesComando(c, m_modoImpresora), TextoError(c));
}

void ctlImpresora::Invertido(bool active) {
    const Comando c = Segun(active, Comando::InvertidoSi, Comando::InvertidoNo);
    EnviarComando(BytesComando(c, m_modoImpresora), TextoError(c));
}

void ctlImpresora::Color(bool active) {
    const Comando c = Segun(active, Comando::ColorSi, Comando::ColorNo);
    EnviarComando(BytesComando(c, m_modoImpresora), TextoError(c));
}

void ctlImpresora::Avanzar(qint16 nLines) {
    EnviarComando(BytesAvanzar(nLines), kErrorAvanzar);
}

void ctlImpresora::Expandido(bool active) {
    const Comando c = Segun(active, Comando::ExpandidoSi, Comando::ExpandidoNo);
    EnviarComando(BytesComando(c, m_modoImpresora), TextoError(c));
}

void ctlImpresora::ExtraExpandido(bool active) {
    const Comando c = Segun(active, Comando::ExtraExpandidoSi, Comando::ExtraExpandidoNo);
    EnviarComando(BytesComando(c, m_modoImpresora), TextoError(c));
}

void ctlImpresora::ResetCaracter() {
    EnviarComando(BytesComando(Comando::ResetCaracter, m_modoImpresora), TextoError(Comando::ResetCaracter));
}

void ctlImpresora::ResetPrinter() {
    EnviarComando(BytesComando(Comando::ResetPrinter, m_modoImpresora), TextoError(Comando::ResetPrinter));
}

void ctlImpresora::DocumentType(const QString& Tipo) {
    ResetPrinter();
    if (Tipo == u"P") {
        Expandido(true);
        QString linea = GetNameModo();
        Imprimirln(linea);
        Expandido(false);
        Avanzar(1);
        linea = QStringLiteral("Driver NODRA-SRP All Modes Jun-04 Rev. Jul-05");
        Imprimirln(linea);
        linea = QString(32, u'=');
        Imprimirln(linea);
        Avanzar(1);
    }
    ResetCaracter();
}

QString ctlImpresora::GetNameModo() const {
    switch (m_modoImpresora) {
    case 1:
        return QStringLiteral("Modo Epson");
    case 2:
        return QStringLiteral("Modo Citizen");
    case 3:
        return QStringLiteral("Modo Star");
    default:
        return QStringLiteral("Sin Modo Definido");
    }
}

void ctlImpresora::SetModo(qint16 nModo) {
    m_modoImpresora = nModo;
}

void ctlImpresora::Logo(QByteArrayView datos, QByteArrayView inicio) {
    EnviarComando(BytesLogo(m_modoImpresora, datos, inicio), kErrorLogo);
}

void ctlImpresora::PrintLogo() {
    const QByteArrayView inicio(kInicioBandaLogo.data(), static_cast<qsizetype>(kInicioBandaLogo.size()));
    for (int banda = 1; banda <= kBandasLogo; ++banda) {
        Logo(BandaLogo(banda), inicio);
        if (banda < kBandasLogo) {
            QString vacia;
            Imprimirln(vacia);
        }
    }
    Imprimir(QStringLiteral("."));
    Avanzar(1);
}
