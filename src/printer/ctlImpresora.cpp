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
#include <QSet>
#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <optional>

using namespace ComandosImpresora;

namespace {

const QString kLectura = QStringLiteral("orlan");
const QString kEscritura = QStringLiteral("ORLAN");

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
        return static_cast<int>(std::clamp<qint64>(resto, 0, Confirmacion::kTramoEspera));
    }

private:
    QDateTime m_fin;
    QDeadlineTimer m_real;
};

QString TextoRegistro(std::string_view texto, qint16 modo) {
    return QLatin1StringView(texto.data(), static_cast<qsizetype>(texto.size())) + QString::number(modo);
}

// "Cocina (COM1 en tcp:10.0.0.5:9100)": the name the printer was loaded
// with, then its port and where that leads.
QString NombreImpresora(const QString& impresora, const QString& destino) {
    const QString nombre = Ajustes::Leer(kLectura, impresora, QStringLiteral("Nombre"), QString());
    return (nombre.isEmpty() ? QStringLiteral("impresora") : nombre) + QStringLiteral(" (") + destino + u')';
}

// Serial ports that answered once, remembered for the life of the program,
// whatever binding comes and goes.
QSet<QString>& Respondieron() {
    static QSet<QString> dispositivos;
    return dispositivos;
}
// Network and USB printers that answered a status request in this process.
QSet<QString>& Contestaron() {
    static QSet<QString> dispositivos;
    return dispositivos;
}

} // namespace

struct ctlImpresora::Privado {
    std::array<PuertoCom, 4> puertos; // Puerto, Puerto2, Puerto3, Puerto4
};

ctlImpresora::ctlImpresora() : d(new Privado), m_confirmacion(d->puertos) {}

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
    PuertoCom* p = m_confirmacion.Serie(NumberPort);
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
    const bool reutilizada =
        serie && m_confirmacion.Serie(m_numeroPuerto) != nullptr && m_confirmacion.ConVentana(m_numeroPuerto);
    if (!reutilizada) {
        CerrarPuerto(m_numeroPuerto);
    }

    EstadoImpresora estado = EstadoImpresora::Desconocido;
    m_confirmacion.Vincular(reutilizada);
    m_plazoTrabajo.setRemainingTime(kPlazoTrabajo);
    m_papelBajo = false;
    m_calloTrasResponder = false;
    m_ocupada = false;
    QString causa;
    if (serie) {
        estado = EstadoImpresora::NoImprime;
        int respuesta = 0;
        PuertoCom* p = m_confirmacion.Serie(m_numeroPuerto);
        bool abierto = false;
        bool consultada = false;
        // The kept connection may have been lost (a printer that restarted
        // resets it): the printer is then asked on a new one.
        for (int vez = 0; vez < (reutilizada ? 2 : 1) && !consultada; ++vez) {
            if (vez > 0) {
                p->Cerrar();
            }
            abierto = p != nullptr && m_confirmacion.Abrir(m_numeroPuerto, SettingsSerie(settings));
            m_confirmacion.EstablecerSinLinea(p != nullptr && p->Tipo() != PuertoCom::Destino::Tipo::Serie);
            consultada =
                abierto && m_confirmacion.LeerEstadoPapel(m_numeroPuerto, respuesta, Confirmacion::kEsperaEstado);
        }
        m_confirmacion.AnotarDestino(abierto ? p->Dispositivo() : QString());
        const bool sinLinea = m_confirmacion.SinLinea();
        if (p != nullptr && sinLinea && (!consultada || respuesta == 0)) {
            // Whatever it is found to be when it answers again is asked anew.
            Confirmacion::SondearDeNuevo(p->Dispositivo());
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
            if (sinLinea) {
                // Only a DLE EOT answer comes here: paper out (0x60) cannot
                // print, paper near its end (0x0C) still prints.
                const QString dispositivo = p->Dispositivo();
                estado = respuesta == 0            ? EstadoImpresora::NoContesta
                         : (respuesta & 0x60) != 0 ? EstadoImpresora::NoImprime
                                                   : EstadoImpresora::Lista;
                m_papelBajo = estado == EstadoImpresora::Lista && (respuesta & 0x0C) != 0;
                Confirmacion::RegistrarPapelBajo(
                    dispositivo, m_papelBajo,
                    NombreImpresora(impresora, impresora.left(4).toUpper() + QStringLiteral(" en ") + dispositivo));
                if (respuesta != 0) {
                    Contestaron().insert(dispositivo);
                } else if (p->Tipo() == PuertoCom::Destino::Tipo::Tcp &&
                           (Contestaron().contains(dispositivo) ||
                            Confirmacion::VeredictoGuardado(impresora, dispositivo))) {
                    // A network printer takes the next connection into its
                    // backlog while it serves another: one that answered
                    // before and is silent on a connection it took is busy.
                    m_ocupada = true;
                }
                if (estado == EstadoImpresora::Lista) {
                    m_confirmacion.AnotarLista(m_numeroPuerto);
                    // Star's command set has no GS r: such a printer is never
                    // asked it.
                    const bool star =
                        modo == u"S" || Ajustes::Leer(kLectura, impresora, QStringLiteral("Modo")) == u"S";
                    if (!star && !m_confirmacion.Sondear(*p, impresora)) {
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
            const bool respondio = estado == EstadoImpresora::Lista || estado == EstadoImpresora::Respuesta16;
            m_confirmacion.AnotarRespuestaEstado(respondio);
            if (respondio && !sinLinea) {
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
        if (const PuertoCom* p = serie ? m_confirmacion.Serie(m_numeroPuerto) : nullptr) {
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
    return Confirmacion::SoloTiempoReal(dispositivo);
}

void ctlImpresora::LiberarPuertos() {
    for (qint16 numero = 1; numero <= 4; ++numero) {
        PuertoCom& p = *m_confirmacion.Serie(numero);
        if (p.PortOpen() && p.Tipo() != PuertoCom::Destino::Tipo::Serie && !m_confirmacion.ConVentana(numero)) {
            p.Cerrar();
        }
    }
}

ctlImpresora::Cierre ctlImpresora::RevisarVentana(const Ventana& ventana) {
    return m_confirmacion.RevisarVentana(ventana);
}

bool ctlImpresora::ConfirmarRecepcion() {
    // A parallel port is not asked.
    return m_confirmacion.Confirmar(m_esLpt ? nullptr : m_confirmacion.Serie(m_numeroPuerto), m_numeroPuerto,
                                    m_modoImpresora, m_causa, m_papelBajo);
}

bool ctlImpresora::Salida(PuertoCom& p, QByteArrayView bytes) {
    m_confirmacion.ContarEnviados(bytes.size());
    if (Senales::Pedida() && p.PortOpen()) {
        // A stop was asked for: a long job on a slow line would outlast the
        // service manager's patience and be killed mid-print. The rest of the
        // job fails at once and the job stays queued.
        p.Cerrar();
        m_causa = QStringLiteral("se pidio detener el servicio");
    }
    if (m_confirmacion.SinLinea() && m_plazoTrabajo.hasExpired() && p.PortOpen()) {
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
        PuertoCom* p = m_confirmacion.Serie(m_numeroPuerto);
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
        PuertoCom* p = m_confirmacion.Serie(m_numeroPuerto);
        return p != nullptr && p->PortOpen() && Salida(*p, bytes);
    } catch (const std::exception&) {
        return false;
    }
}

bool ctlImpresora::Imprimirln(QString& PsCadena) {
    if (!m_esLpt) {
        PuertoCom* p = m_confirmacion.Serie(m_numeroPuerto);
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
