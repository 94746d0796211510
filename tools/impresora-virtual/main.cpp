// orlan-impresora-virtual: a receipt printer for trying the queue server
// without hardware. It either plays a serial printer on a pseudo-terminal or a
// network printer on a local port, or reads the capture file of the simulated
// parallel port, and shows every receipt as text and, with --png, as a picture.

#include "impresora-virtual/Decodificador.h"
#include "impresora-virtual/DibujoRecibo.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "impresora-virtual/ImpresoraTcp.h"
#include "platform/Ajustes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <string_view>
#include <unistd.h>

namespace {

const char* const kAyuda = R"(Uso: orlan-impresora-virtual [opciones]

Sin --leer ni --seguir hace de impresora serie: abre un pseudo-terminal,
escribe en la primera línea la ruta del dispositivo (la que va en el ajuste
ORLAN/Puertos/COMn), responde al pedido de estado del papel (10 04 04) y
muestra cada recibo que le llega. Con --tcp hace de impresora de red.

  --modo E|C|S          dialecto con que se leen los bytes: Epson, Citizen o
                        Star (E)
  --respuesta R         respuesta al pedido de estado: 18 lista, 114 sin papel,
                        16, 0, cualquier byte 0-255, o "ninguna" para callar (18)
  --enlace RUTA         crea el enlace simbólico RUTA hacia el dispositivo y
                        escribe RUTA en lugar de la ruta del dispositivo
  --tcp PUERTO          hace de impresora de red: escucha en 127.0.0.1:PUERTO
                        (0: uno libre) y escribe en la primera línea
                        tcp:127.0.0.1:PUERTO, lo que va en el ajuste
                        ORLAN/Puertos/COMn; responde al pedido de estado por la
                        misma conexión
  --escuchar DIR:PUERTO hace de impresora de red en la dirección DIR (0.0.0.0:
                        todas), para una caja o una tableta de la red local;
                        atiende cada conexión según llega, cada una con su
                        papel, y cierra la que pasa 5 s sin enviar nada; con
                        el modelo, una conexión a la vez, como una impresora
  --baudios N           toma los bytes a la velocidad de una línea serie de N
                        baudios (N/10 bytes por segundo), y responde al pedido
                        de estado después de los bytes anteriores (0: sin
                        límite, lo predeterminado)
  --conducta C          con --tcp, se porta como una impresora de red que
                        falla: no-lee (acepta la conexión y nunca lee),
                        reinicia (responde lista y reinicia la conexión en el
                        pedido siguiente, sin imprimir lo que llegó entre
                        ambos), inunda (envía bytes sin pausa), acepta-lento
                        (acepta cada conexión 2,5 s tarde) o tarda (responde
                        1,5 s tarde), medio-cierre (cierra su mitad de la
                        conexión al aceptarla y sigue imprimiendo) o
                        medio-cierre-tarde (lo mismo tras su primera
                        respuesta); normal es lo predeterminado
  --bufer N             con el modelo de impresora real: búfer de recepción de
                        N bytes; lleno, deja de leer (4096). Con el modelo, la
                        impresora de red atiende una conexión a la vez
  --velocidad N         con el modelo: imprime N bytes por segundo (2500; 0:
                        al instante). DLE EOT se responde al llegar, GS r,
                        GS ( H y GS I después de imprimir lo anterior
  --sin-orden           con el modelo: nunca responde GS r, GS ( H ni GS I
  --gsr-tarde SEG       con el modelo: su primera respuesta a GS r 1 sale SEG
                        segundos tarde; las siguientes, a su tiempo (un corte
                        de energía antes la pierde)
  --estado E            con el modelo: lista, papel-bajo, sin-papel,
                        tapa-abierta o fuera-de-linea (lista)
  --asb                 con el modelo: envía el estado automático (4 bytes)
                        sin que se lo pidan al empezar cada conexión
  --apagada             con el modelo: empieza apagada (con --cortes, el primer
                        cambio la enciende)
  --cortes E:A          con el modelo: se apaga tras E segundos encendida y
                        vuelve tras A segundos, una y otra vez; apagada pierde
                        el búfer y rechaza las conexiones
  --puerto N            guarda la ruta en el ajuste ORLAN/Puertos/COMN
  --captura ARCHIVO     añade al ARCHIVO cada byte recibido
  --leer ARCHIVO        muestra los recibos de un archivo de captura (o de una
                        tubería) según los lee, y termina
  --seguir ARCHIVO      sigue un archivo de captura que crece (el del puerto
                        paralelo simulado, <raíz>/lpt/378.bin) y muestra los
                        recibos según llegan; empieza por el final del archivo
  --todo                con --seguir, empieza por el principio del archivo
  --ancho N             ancho del papel en caracteres de la fuente A (48 en un
                        rollo de 80 mm, 32 en uno de 58 mm): el carácter que
                        ya no cabe sigue en otra línea, como en el papel (0:
                        sin cortar líneas, lo predeterminado; 48 o 32 con
                        --png)
  --papel 80|58         rollo de 80 mm (576 puntos, lo predeterminado) o de
                        58 mm (384 puntos)
  --tabla N             tabla de caracteres con que arranca la impresora, el
                        número que le da ESC t: 0 PC437 (la predeterminada),
                        2 PC850, 16 Windows-1252, 17 PC866, 18 PC852, 19 PC858...
  --png DIRECTORIO      dibuja cada recibo (hasta cada corte, o hasta que se
                        cierra su conexión) como papel térmico en
                        DIRECTORIO/recibo-0001.png, recibo-0002.png... (sigue
                        la numeración que haya: el más nuevo es el de número
                        mayor) y escribe la ruta de cada archivo al crearlo
  --registro ARCHIVO    añade al ARCHIVO cada comando que la impresora no
                        conoce (en hexadecimal), uno por línea
  --inactividad SEG     termina tras SEG segundos sin bytes nuevos (0: nunca)
  --help                esta ayuda
  --version             muestra la versión

Termina con SIGINT o SIGTERM (Ctrl-C); con --leer, deja enteros los dibujos
ya escritos.
Con --modo E lee ESC/POS como una impresora Epson: estilos, tamaños,
alineación, posiciones, tablas de caracteres (ESC t, ESC R, UTF-8), imágenes
(ESC *, GS v 0, GS ( L, GS 8 L), códigos de barras (GS k) y QR y PDF417
(GS ( k); todas las formas de corte (GS V, ESC i, ESC m) terminan un recibo.
Con --modo S lee el modo de línea de Star: negrita (ESC E/F), subrayado
(ESC -), tamaños (ESC i, ESC W, ESC h, SO/DC4), alineación (ESC GS a),
interlineado (ESC z, ESC 0, ESC A), tablas (ESC GS t, ESC R), códigos de
barras (ESC b), QR (ESC GS y), PDF417 (ESC GS x), imágenes (ESC GS S, ESC * r,
ESC K, ESC k), cortes (ESC d) y cajón (BEL, FS). Con --modo C solo lee los comandos de la
tabla de Orlan. En todos los modos, un comando desconocido va a --registro.
Marcas: [B] negrita, [U] subrayado, [I] invertido, [C] color, [E] expandido,
[X] extra expandido; el corte es una línea de guiones con tijeras, la apertura
de cajón una línea "==== abre cajón ====", el logo un bloque de puntos y un
código "[código TIPO: datos]".
)";

// Seconds after which --escuchar closes a connection that sends nothing.
constexpr int kInactividadConexion = 5;

volatile std::sig_atomic_t g_terminar = 0; // the signal that came

void AlTerminar(int senal) {
    g_terminar = senal;
}

void Mostrar(const QStringList& lineas) {
    for (const QString& linea : lineas) {
        std::printf("%s\n", linea.toUtf8().constData());
    }
    std::fflush(stdout);
}

int Fallo(const QString& texto) {
    std::fprintf(stderr, "orlan-impresora-virtual: %s\n", texto.toUtf8().constData());
    return 2;
}

// Shows the decoded lines as text and, with a picture directory, draws each
// receipt into recibo-NNNN.png there, numbered on from the files already in
// it: the newest receipt is the highest number. A picture is written under a
// temporary name and renamed, so a program that watches the directory never
// reads half a file. Each connection (0 for a pseudo-terminal or a file) has
// its own paper: a receipt is never drawn into another's picture.
class Salida {
public:
    // Fast zlib levels: a picture is on disk a few milliseconds after its
    // cut, at a file size close to the default's (paper is mostly blank).
    static constexpr int kCalidadPng = 80;

    Salida(const QString& directorio, int columnas, int puntos, const QString& registro)
        : m_directorio(directorio), m_columnas(columnas), m_puntos(puntos), m_registro(registro) {}

    bool Preparar(Decodificador& d) {
        if (m_directorio.isEmpty()) {
            return true;
        }
        d.ConservarRenglones();
        if (!QDir().mkpath(m_directorio)) {
            return false;
        }
        static const QRegularExpression kNombre(QStringLiteral("^recibo-(\\d+)\\.png$"));
        for (const QString& nombre : QDir(m_directorio).entryList({QStringLiteral("recibo-*.png")}, QDir::Files)) {
            const auto m = kNombre.match(nombre);
            if (m.hasMatch()) {
                m_numero = std::max(m_numero, m.captured(1).toInt());
            }
        }
        return true;
    }

    void Tomar(Decodificador& d, int conexion = 0) {
        Mostrar(d.TomarLineas());
        Registrar(d);
        Dibujar(conexion, d.TomarRenglones(), false);
    }

    // The end of a stream or a connection: the paper still in the printer is
    // a receipt of its own.
    void Terminar(Decodificador& d, int conexion = 0) {
        Mostrar(d.Terminar());
        Registrar(d);
        Dibujar(conexion, d.TomarRenglones(), true);
        m_papeles.erase(conexion);
    }

private:
    // Commands the printer would not know go to the side log, one a line.
    void Registrar(Decodificador& d) {
        const QStringList desconocidos = d.TomarDesconocidos();
        if (m_registro.isEmpty() || desconocidos.isEmpty()) {
            return;
        }
        QFile f(m_registro);
        if (f.open(QIODevice::WriteOnly | QIODevice::Append)) {
            f.write((desconocidos.join(u'\n') + u'\n').toUtf8());
        }
    }

    void Dibujar(int conexion, const QList<Renglon>& renglones, bool final) {
        if (m_directorio.isEmpty()) {
            return;
        }
        DibujoRecibo& dibujo = m_papeles.try_emplace(conexion, m_columnas, m_puntos).first->second;
        // Line by line, so that each receipt is on disk and out of memory
        // before the next one is drawn.
        for (const Renglon& renglon : renglones) {
            dibujo.Agregar({renglon});
            Guardar(dibujo.TomarRecibos());
        }
        if (final) {
            Guardar(dibujo.Terminar());
        }
    }

    void Guardar(const QList<QImage>& recibos) {
        for (const QImage& recibo : recibos) {
            const QString ruta =
                QDir(m_directorio).filePath(QStringLiteral("recibo-%1.png").arg(++m_numero, 4, 10, QLatin1Char('0')));
            const QString temporal = ruta + QStringLiteral(".tmp");
            QFile::remove(temporal);
            if (recibo.save(temporal, "PNG", kCalidadPng) && QFile::rename(temporal, ruta)) {
                Mostrar({ruta});
            } else {
                QFile::remove(temporal);
                std::fprintf(stderr, "orlan-impresora-virtual: no se pudo escribir %s\n", ruta.toUtf8().constData());
            }
        }
    }

    QString m_directorio;
    int m_columnas;
    int m_puntos;
    QString m_registro;
    std::map<int, DibujoRecibo> m_papeles;
    int m_numero = 0;
};

struct Opciones {
    qint16 modo = 1;
    int respuesta = 18;
    QString enlace;
    int puerto = 0;
    int tcp = -1; // -1: on a pseudo-terminal
    int baudios = 0;
    ImpresoraTcp::Conducta conducta = ImpresoraTcp::Conducta::Normal;
    QString captura;
    QString leer;
    QString seguir;
    bool todo = false;
    int inactividad = 0;
    int ancho = 0;
    int puntos = Decodificador::kPapel80;
    int tabla = 0;
    QString png;
    QString registro;
    QString escuchar; // ADDR of --escuchar ADDR:PORT
    // The hardware model, used when any of its options is given.
    bool modelo = false;
    ModeloImpresora::Opciones real;
    ModeloImpresora::Estado estado = ModeloImpresora::Estado::Lista;
    double encendida = 0, apagada = 0; // --cortes, seconds
    bool sinEnergia = false;
};

// Ends when a signal came or nothing arrived for the idle time.
class Vigilante {
public:
    explicit Vigilante(int inactividad) : m_inactividad(inactividad) { m_reloj.start(); }
    void Llegaron() { m_reloj.restart(); }
    bool Terminar() const {
        return g_terminar != 0 || (m_inactividad > 0 && m_reloj.elapsed() >= qint64(m_inactividad) * 1000);
    }

private:
    int m_inactividad;
    QElapsedTimer m_reloj;
};

Decodificador NuevoDecodificador(const Opciones& o) {
    Decodificador d(o.modo, o.ancho, o.puntos);
    d.EstablecerTabla(o.tabla);
    return d;
}

Salida NuevaSalida(const Opciones& o) {
    return Salida(o.png, o.ancho, o.puntos, o.registro);
}

// Reads the capture a piece at a time, each receipt shown and drawn as its
// bytes are read, so that memory stays flat however long the file is. A
// pipe works too. A signal ends the read at once: the pictures written so far
// are whole, the receipt being read is left out, and the exit status is
// 128 plus the signal's number.
int Leer(const Opciones& o) {
    const int fd = open(o.leer.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Fallo(o.leer + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
    }
    Decodificador d = NuevoDecodificador(o);
    Salida salida = NuevaSalida(o);
    if (!salida.Preparar(d)) {
        close(fd);
        return Fallo(QStringLiteral("no se pudo crear ") + o.png);
    }
    // Small pieces: a receipt is a few hundred bytes.
    char trozo[4096];
    for (;;) {
        if (g_terminar != 0) {
            close(fd);
            return 128 + g_terminar;
        }
        // A pipe with nothing to read must not hold off a signal.
        pollfd pf{fd, POLLIN, 0};
        if (poll(&pf, 1, 200) <= 0) {
            continue;
        }
        const ssize_t n = read(fd, trozo, sizeof trozo);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const QString error = QString::fromLocal8Bit(std::strerror(errno));
            close(fd);
            return Fallo(o.leer + QStringLiteral(": ") + error);
        }
        if (n == 0) {
            break;
        }
        d.Alimentar(QByteArrayView(trozo, n));
        salida.Tomar(d);
    }
    close(fd);
    salida.Terminar(d);
    return 0;
}

int Seguir(const Opciones& o) {
    Decodificador d = NuevoDecodificador(o);
    Salida salida = NuevaSalida(o);
    if (!salida.Preparar(d)) {
        return Fallo(QStringLiteral("no se pudo crear ") + o.png);
    }
    Vigilante vigilante(o.inactividad);
    qint64 posicion = o.todo ? 0 : QFileInfo(o.seguir).size();
    std::fprintf(stderr, "siguiendo %s desde el byte %lld\n", o.seguir.toUtf8().constData(),
                 static_cast<long long>(posicion));
    while (!vigilante.Terminar()) {
        QFile f(o.seguir);
        if (f.open(QIODevice::ReadOnly)) {
            if (f.size() < posicion) {
                posicion = 0; // the file was started again
            }
            if (f.size() > posicion && f.seek(posicion)) {
                const QByteArray nuevos = f.readAll();
                posicion += nuevos.size();
                d.Alimentar(nuevos);
                salida.Tomar(d);
                vigilante.Llegaron();
            }
        }
        // A capture file gives no signal when it grows: look again shortly.
        usleep(200 * 1000);
    }
    salida.Terminar(d);
    return 0;
}

int Servir(const Opciones& o) {
    std::unique_ptr<ImpresoraVirtual> impresora;
    QString ruta;
    if (o.tcp >= 0) {
        auto red = std::make_unique<ImpresoraTcp>(static_cast<quint16>(o.tcp), o.escuchar);
        if (!red->Abierta()) {
            return Fallo(QStringLiteral("no se pudo escuchar en el puerto %1: %2").arg(o.tcp).arg(red->Error()));
        }
        red->EstablecerConducta(o.conducta);
        // Modelled on a real printer: one connection at a time, as network
        // receipt printers serve them. Otherwise every connection is read as
        // it comes, so that a burst of receipts is never turned away.
        red->EstablecerUnaALaVez(o.modelo);
        if (!o.escuchar.isEmpty() && !o.modelo && o.conducta == ImpresoraTcp::Conducta::Normal) {
            // A till that went quiet holds nothing for long, as on a printer.
            red->EstablecerInactividad(kInactividadConexion * 1000);
        }
        ruta = red->Destino();
        impresora = std::move(red);
    } else {
        auto pty = std::make_unique<ImpresoraPty>();
        if (!pty->Abierta()) {
            return Fallo(QStringLiteral("no hay pseudo-terminal: ") + pty->Error());
        }
        ruta = pty->Ruta();
        impresora = std::move(pty);
    }
    impresora->EstablecerRespuesta(o.respuesta);
    impresora->EstablecerBaudios(o.baudios);
    if (o.modelo) {
        ModeloImpresora::Opciones real = o.real;
        real.respondeTiempoReal = o.respuesta != ImpresoraVirtual::kSilencio;
        real.respondeEnOrden = real.respondeEnOrden && real.respondeTiempoReal;
        impresora->UsarModelo(real);
        impresora->EstablecerEstado(o.estado);
        impresora->EstablecerCortes(static_cast<int>(o.encendida * 1000), static_cast<int>(o.apagada * 1000));
        if (o.sinEnergia) {
            impresora->Apagar();
        }
    }
    if (!o.enlace.isEmpty()) {
        if (QFileInfo(o.enlace).isSymLink()) {
            QFile::remove(o.enlace);
        }
        if (!QFile::link(ruta, o.enlace)) {
            return Fallo(QStringLiteral("no se pudo crear el enlace ") + o.enlace);
        }
        ruta = o.enlace;
    }
    if (o.puerto > 0 && !Ajustes::Guardar(QStringLiteral("ORLAN"), QStringLiteral("Puertos"),
                                          QStringLiteral("COM%1").arg(o.puerto), ruta)) {
        return Fallo(QStringLiteral("no se pudo guardar el ajuste Puertos/COM%1").arg(o.puerto));
    }
    std::printf("%s\n", ruta.toUtf8().constData());
    std::fflush(stdout);

    QFile captura(o.captura);
    if (!o.captura.isEmpty() && !captura.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return Fallo(o.captura + QStringLiteral(": ") + captura.errorString());
    }
    // Every connection starts from a clean decoder: a command one program
    // left unfinished holds nothing of the next one's receipts.
    std::map<int, Decodificador> decodificadores;
    Salida salida = NuevaSalida(o);
    const auto decodificador = [&](int conexion) -> Decodificador& {
        auto [it, nuevo] = decodificadores.try_emplace(conexion, NuevoDecodificador(o));
        if (nuevo) {
            salida.Preparar(it->second);
        }
        return it->second;
    };
    if (!salida.Preparar(decodificador(0))) {
        return Fallo(QStringLiteral("no se pudo crear ") + o.png);
    }
    Vigilante vigilante(o.inactividad);
    while (!vigilante.Terminar()) {
        for (const ImpresoraVirtual::Pieza& pieza : impresora->AtenderPiezas(200)) {
            vigilante.Llegaron();
            if (captura.isOpen() && !pieza.bytes.isEmpty()) {
                captura.write(pieza.bytes);
                captura.flush();
            }
            Decodificador& d = decodificador(pieza.conexion);
            d.Alimentar(pieza.bytes);
            salida.Tomar(d, pieza.conexion);
            if (pieza.fin) {
                salida.Terminar(d, pieza.conexion);
                decodificadores.erase(pieza.conexion);
            }
        }
    }
    for (auto& [conexion, d] : decodificadores) {
        salida.Terminar(d, conexion);
    }
    if (!o.enlace.isEmpty()) {
        QFile::remove(o.enlace);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Drawing text needs a QGuiApplication; the offscreen platform draws
    // without an X server.
    bool dibujar = false;
    for (int i = 1; i < argc; ++i) {
        dibujar = dibujar || std::string_view(argv[i]) == "--png";
    }
    std::unique_ptr<QCoreApplication> app;
    if (dibujar) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    const QStringList args = app->arguments();
    Opciones o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto valor = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        bool ok = true;
        if (a == u"--help" || a == u"-h") {
            std::fputs(kAyuda, stdout);
            return 0;
        } else if (a == u"--version") {
            std::printf("orlan-impresora-virtual %s\n", ORLAN_VERSION);
            return 0;
        } else if (a == u"--modo") {
            const QString v = valor();
            o.modo = v.size() == 1 ? Decodificador::ModoDeLetra(v[0]) : 0;
            ok = o.modo != 0;
        } else if (a == u"--respuesta") {
            const QString v = valor();
            if (v == u"ninguna") {
                o.respuesta = ImpresoraVirtual::kSilencio;
            } else {
                o.respuesta = v.toInt(&ok);
                ok = ok && o.respuesta >= 0 && o.respuesta <= 255;
            }
        } else if (a == u"--enlace") {
            o.enlace = valor();
            ok = !o.enlace.isEmpty();
        } else if (a == u"--tcp") {
            o.tcp = valor().toInt(&ok);
            ok = ok && o.tcp >= 0 && o.tcp <= 65535;
        } else if (a == u"--escuchar") {
            // ADDR:PORT, for a till or tablet on the LAN
            const QString v = valor();
            const qsizetype dos = v.lastIndexOf(u':');
            o.escuchar = v.first(std::max<qsizetype>(0, dos));
            o.tcp = dos > 0 ? v.sliced(dos + 1).toInt(&ok) : -1;
            ok = ok && dos > 0 && o.tcp >= 0 && o.tcp <= 65535 && ImpresoraTcp::DireccionValida(o.escuchar);
        } else if (a == u"--papel") {
            const QString v = valor();
            ok = v == u"80" || v == u"58";
            o.puntos = v == u"58" ? 384 : Decodificador::kPapel80;
        } else if (a == u"--tabla") {
            o.tabla = valor().toInt(&ok);
            ok = ok && Decodificador::TablaConocida(o.tabla);
        } else if (a == u"--registro") {
            o.registro = valor();
            ok = !o.registro.isEmpty();
        } else if (a == u"--baudios") {
            o.baudios = valor().toInt(&ok);
            ok = ok && o.baudios >= 0;
        } else if (a == u"--conducta") {
            const auto c = ImpresoraTcp::ConductaDeNombre(valor());
            ok = c.has_value();
            o.conducta = c.value_or(ImpresoraTcp::Conducta::Normal);
        } else if (a == u"--bufer") {
            o.real.bufer = valor().toInt(&ok);
            ok = ok && o.real.bufer >= 0;
            o.modelo = true;
        } else if (a == u"--velocidad") {
            o.real.velocidad = valor().toInt(&ok);
            ok = ok && o.real.velocidad >= 0;
            o.modelo = true;
        } else if (a == u"--sin-orden") {
            o.real.respondeEnOrden = false;
            o.modelo = true;
        } else if (a == u"--gsr-tarde") {
            const double segundos = valor().toDouble(&ok);
            ok = ok && segundos > 0 && segundos <= 3600;
            o.real.gsrTardeMs = static_cast<int>(segundos * 1000);
            o.modelo = true;
        } else if (a == u"--apagada") {
            o.sinEnergia = true;
            o.modelo = true;
        } else if (a == u"--asb") {
            o.real.asb = true;
            o.modelo = true;
        } else if (a == u"--estado") {
            const auto e = ModeloImpresora::EstadoDeNombre(valor());
            ok = e.has_value();
            o.estado = e.value_or(ModeloImpresora::Estado::Lista);
            o.modelo = true;
        } else if (a == u"--cortes") {
            const QStringList partes = valor().split(u':');
            bool ok2 = false;
            o.encendida = partes.value(0).toDouble(&ok);
            o.apagada = partes.value(1).toDouble(&ok2);
            ok = ok && ok2 && partes.size() == 2 && o.encendida > 0 && o.apagada > 0;
            o.modelo = true;
        } else if (a == u"--puerto") {
            o.puerto = valor().toInt(&ok);
            ok = ok && o.puerto >= 1 && o.puerto <= 9;
        } else if (a == u"--captura") {
            o.captura = valor();
            ok = !o.captura.isEmpty();
        } else if (a == u"--leer") {
            o.leer = valor();
            ok = !o.leer.isEmpty();
        } else if (a == u"--seguir") {
            o.seguir = valor();
            ok = !o.seguir.isEmpty();
        } else if (a == u"--todo") {
            o.todo = true;
        } else if (a == u"--ancho") {
            o.ancho = valor().toInt(&ok);
            ok = ok && o.ancho >= 0;
        } else if (a == u"--png") {
            o.png = valor();
            ok = !o.png.isEmpty();
        } else if (a == u"--inactividad") {
            o.inactividad = valor().toInt(&ok);
            ok = ok && o.inactividad >= 0;
        } else {
            ok = false;
        }
        if (!ok) {
            return Fallo(QStringLiteral("opción no válida: %1 (vea --help)").arg(a));
        }
    }
    if (o.tcp >= 0 && !o.enlace.isEmpty()) {
        return Fallo(QStringLiteral("--enlace es para el pseudo-terminal, no para --tcp"));
    }
    if (!o.png.isEmpty() && o.ancho == 0) {
        o.ancho = o.puntos / 12; // paper has a width: Font A is 12 dots wide
    }
    std::signal(SIGINT, AlTerminar);
    std::signal(SIGTERM, AlTerminar);
    if (!o.leer.isEmpty()) {
        return Leer(o);
    }
    if (!o.seguir.isEmpty()) {
        return Seguir(o);
    }
    return Servir(o);
}
