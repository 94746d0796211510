// orlan-fallas: the fault matrix. Two real `orlan-cola --servicio` terminals
// on the tests' PostgreSQL server, each with a virtual serial printer and a
// printer on the simulated parallel port, each printer the backup of the
// other terminal's printer of the same kind. A job writer (this program in
// writer mode, another process) writes a job every 100 ms, round the four
// printers, each with its number on its first line and on a closing line.
// Faults are injected while jobs print, among them terminal 1's serial
// printer replaced for a while by network printers that misbehave, a USB
// printer that stops taking bytes, a 9600-baud line and printers modelled on
// real hardware (a receive buffer, a print speed, power cuts), terminal 1
// killed in the middle of a long job, another program printing on its network
// printer, and rows that other programs could write into the shop's tables;
// for each one the program prints, in the benchmarks' line format, the jobs
// written, printed, lost, printed whole more than once and the partial
// copies, and the seconds from the end of the fault to the next job printed
// where the fault was. It ends with status 1 when a job is lost.
//
//   orlan-fallas [--repeticiones N]   each fault N times (3)
//   orlan-fallas --corto              each fault once: the ctest `fallas`
//   orlan-fallas --solo TEXT          only the faults whose name holds TEXT
//   orlan-fallas --parte K/N          only every Nth fault from the Kth (1-based),
//                                     the restore race in part 1: N runs of
//                                     the matrix side by side make one
//
// With ORLAN_FALLAS_BITACORAS=DIR the servers' event logs are copied into DIR
// at the end.

#include "../../bench/Figura.h"
#include "database/BaseDatos.h"
#include "e2e/TerminalPrueba.h"
#include "platform/Ajustes.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/DatosCola.h"
#include "testsupport/Procesos.h"
#include "testsupport/Recibos.h"
#include "testsupport/ServidorPostgres.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVariant>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace {

constexpr int kImpresoras[] = {1, 2, 3, 4}; // 1 and 2 on terminal 1, 3 and 4 on terminal 2
constexpr int kPausaEscritorMs = 100;

QString Numero(int id) {
    return QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0'));
}

// ---- The job writer (its own process, so that a hung database holds it and
// not the harness). One line on standard output per job: "W n" once its
// release is in the database, "X n" when it was taken back after a failure.

volatile std::sig_atomic_t g_parar = 0;

QList<std::optional<QString>> LineasTrabajo(int id) {
    QList<std::optional<QString>> lineas;
    lineas << QStringLiteral("Trabajo %1").arg(Numero(id)).leftJustified(42);
    for (int i = 2; i <= 5; ++i) {
        lineas << QStringLiteral("renglon %1 del trabajo %2").arg(i).arg(Numero(id)).leftJustified(42);
    }
    lineas << QStringLiteral("Fin %1").arg(Numero(id)).leftJustified(42);
    return lineas;
}

// After a failure: whether the job's release reached the database. Takes an
// unreleased job back. "W" released, "X" taken back, "?" gone from the
// queue (never inserted, or released and already printed).
char Resolver(int id) {
    const QString estado = ObtenerValor(QStringLiteral("Escribiendo"), QStringLiteral("ColaImpresion"),
                                        QStringLiteral("IdTrabajo=%1").arg(id));
    if (estado == QStringLiteral("0")) {
        return 'W';
    }
    Conexion::Instancia().Ejecutar(QStringLiteral("DELETE FROM DetalleColaImpresion WHERE IdTrabajo=%1").arg(id));
    Conexion::Instancia().Ejecutar(QStringLiteral("DELETE FROM ColaImpresion WHERE IdTrabajo=%1").arg(id));
    return estado.isEmpty() ? '?' : 'X';
}

int Escritor(int primero) {
    std::signal(SIGTERM, [](int) { g_parar = 1; });
    bool conectado = Conectar();
    int pendiente = 0; // a job whose write failed, 0 for none
    QElapsedTimer reloj;
    reloj.start();
    qint64 siguiente = 0;
    for (int id = primero; !g_parar;) {
        const qint64 espera = siguiente - reloj.elapsed();
        if (espera > 0) {
            QThread::msleep(static_cast<unsigned long>(espera));
        }
        siguiente = reloj.elapsed() + kPausaEscritorMs;
        try {
            if (!conectado && !(conectado = Conectar())) {
                continue;
            }
            if (pendiente != 0) {
                std::printf("%c %d\n", Resolver(pendiente), pendiente);
                pendiente = 0;
            }
            pendiente = id;
            InsertarTrabajo(id, kImpresoras[id % 4], LineasTrabajo(id));
            pendiente = 0;
            std::printf("W %d\n", id);
            ++id;
        } catch (const ErrorEjecucion&) {
            if (pendiente == id) {
                ++id;
            }
            conectado = false;
        }
        std::fflush(stdout);
    }
    return 0;
}

// ---- The harness.

// Reads a capture file as it grows and notes, per job number, how many times
// its first line came out and when its closing line first did.
struct Visto {
    int inicios = 0;
    int marcados = 0; // copies that began with the COPIA line
    int fines = 0;    // copies printed whole
    qint64 fin = -1;  // ms on the harness clock
    int archivo = -1;
    // Every copy: where, when its first and its closing line came out (-1:
    // not yet), and whether the COPIA line came before it.
    struct Copia {
        int archivo;
        qint64 inicio;
        qint64 fin;
        bool marcada;
    };
    QList<Copia> copias;
};

class Capturas {
public:
    void Agregar(const QString& ruta) { m_archivos.append({ruta, 0, {}, false}); }
    qsizetype Cantidad() const { return m_archivos.size(); }

    void Leer(qint64 ahora) {
        static const QRegularExpression marca(QStringLiteral("(Trabajo|Fin) (\\d{6})|\\*\\*\\* (COPIA):"));
        for (int i = 0; i < m_archivos.size(); ++i) {
            Archivo& a = m_archivos[i];
            QFile f(a.ruta);
            if (!f.open(QIODevice::ReadOnly) || f.size() <= a.posicion || !f.seek(a.posicion)) {
                continue;
            }
            const QByteArray nuevos = f.readAll();
            a.posicion += nuevos.size();
            a.resto += nuevos;
            const QString texto = QString::fromLatin1(a.resto);
            qsizetype consumido = 0;
            for (auto m = marca.globalMatch(texto); m.hasNext();) {
                const auto encontrado = m.next();
                consumido = encontrado.capturedEnd();
                if (!encontrado.captured(3).isEmpty()) {
                    a.copia = true; // the next job's first line follows it
                    continue;
                }
                Visto& v = m_vistos[encontrado.captured(2).toInt()];
                if (encontrado.captured(1) == QStringLiteral("Trabajo")) {
                    ++v.inicios;
                    const bool marcada = std::exchange(a.copia, false);
                    v.marcados += marcada ? 1 : 0;
                    v.copias.append({i, ahora, -1, marcada});
                    continue;
                }
                const auto abierta = std::find_if(v.copias.rbegin(), v.copias.rend(),
                                                  [&](const Visto::Copia& c) { return c.archivo == i && c.fin < 0; });
                if (abierta != v.copias.rend()) {
                    abierta->fin = ahora;
                }
                if (++v.fines == 1) {
                    v.fin = ahora;
                    v.archivo = i;
                }
            }
            // A mark cut in two by the read waits for its other half.
            a.resto = a.resto.mid(std::max<qsizetype>(consumido, a.resto.size() - 16));
        }
    }

    const QMap<int, Visto>& Vistos() const { return m_vistos; }

private:
    struct Archivo {
        QString ruta;
        qint64 posicion;
        QByteArray resto;
        bool copia = false; // a COPIA line was read and its job's first line not yet
    };
    QList<Archivo> m_archivos;
    QMap<int, Visto> m_vistos;
};

// orlan-impresora-virtual on a fixed link, recording to a capture file that
// survives its restarts.
class ImpresoraVirtual {
public:
    ImpresoraVirtual(QString enlace, QString captura) : m_enlace(std::move(enlace)), m_captura(std::move(captura)) {
        m_proceso.setStandardOutputFile(QProcess::nullDevice());
        m_proceso.setStandardErrorFile(QProcess::nullDevice());
    }
    ~ImpresoraVirtual() { Matar(); }

    bool Iniciar(int respuesta = 18, const QStringList& mas = {}) {
        QFile::remove(m_enlace);
        m_proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/impresora-virtual/orlan-impresora-virtual"),
                        QStringList{"--modo", "E", "--enlace", m_enlace, "--captura", m_captura, "--respuesta",
                                    QString::number(respuesta)} +
                            mas);
        return Esperar([&] { return QFileInfo::exists(m_enlace); }, 10);
    }
    void Senal(int senal) { ::kill(static_cast<pid_t>(m_proceso.processId()), senal); }
    // SIGKILL: the pseudo-terminal closes under whatever was being written,
    // and its link goes with it, as an unplugged adapter's device node does.
    // A link left behind would name a pseudo-terminal number that any other
    // program on the machine may get next, and the server would print into
    // that one.
    void Matar() {
        TerminarProceso(m_proceso);
        QFile::remove(m_enlace);
    }
    QString Enlace() const { return m_enlace; }
    QString Captura() const { return m_captura; }

private:
    QString m_enlace;
    QString m_captura;
    QProcess m_proceso;
};

// orlan-impresora-virtual as a network printer that misbehaves (--conducta),
// recording what it takes to a capture file.
class ImpresoraRed {
public:
    ImpresoraRed(const QString& conducta, const QString& captura, const QStringList& mas = {}) {
        m_proceso.setStandardErrorFile(QProcess::nullDevice());
        m_proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/impresora-virtual/orlan-impresora-virtual"),
                        QStringList{"--modo", "E", "--tcp", "0", "--conducta", conducta, "--captura", captura} + mas);
        for (int i = 0; i < 50 && !m_destino.endsWith('\n'); ++i) {
            m_proceso.waitForReadyRead(100);
            m_destino += QString::fromUtf8(m_proceso.readLine());
        }
        m_destino = m_destino.trimmed();
    }
    ~ImpresoraRed() { TerminarProceso(m_proceso); }
    const QString& Destino() const { return m_destino; }

private:
    QProcess m_proceso;
    QString m_destino;
};

// A terminal's settings file.
QString RutaAjustes(const TerminalPrueba& terminal) {
    return terminal.RaizUnidad() + QStringLiteral("/../../config/orlan/orlan.ini");
}

// Changes a running terminal's setting, as a technician editing its settings
// file does; the server reads it at its next use (COM1's: at the next opening
// of the port). The file is replaced whole, so the server never reads half of
// it.
void CambiarAjuste(const TerminalPrueba& terminal, const QString& seccion, const QString& clave, const QString& valor) {
    const QString ruta = RutaAjustes(terminal);
    QString texto = QString::fromUtf8(EntornoPrueba::Leer(ruta));
    const QString encabezado = QStringLiteral("[") + seccion + QStringLiteral("]\n");
    const QRegularExpression existente(
        QStringLiteral("(\\[%1\\][^\\[]*\n%2=)[^\n]*")
            .arg(QRegularExpression::escape(seccion), QRegularExpression::escape(clave)));
    if (texto.contains(existente)) {
        texto.replace(existente, QStringLiteral("\\1") + valor);
    } else if (texto.contains(encabezado)) {
        texto.replace(encabezado, encabezado + clave + u'=' + valor + u'\n');
    } else {
        texto += encabezado + clave + u'=' + valor + u'\n';
    }
    QSaveFile f(ruta);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(texto.toUtf8());
        f.commit();
    }
}

void CambiarCom1(const TerminalPrueba& terminal, const QString& destino) {
    CambiarAjuste(terminal, QStringLiteral("Puertos"), QStringLiteral("COM1"), destino);
}

// A free port on 127.0.0.1 where nobody listens: connections are refused.
QString PuertoCerrado() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("tcp:127.0.0.1:%1").arg(s.serverPort());
}

// Another program's receipt on a network printer, as a second till sharing
// the printer sends it: a connection, its number on two lines and a cut,
// closed. False when it could not connect or hand its bytes over in 1 s.
bool EnviarOtroEmisor(quint16 puerto, int numero) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, puerto);
    if (!s.waitForConnected(1000)) {
        return false;
    }
    s.write(QStringLiteral("Otro emisor %1\nOtro emisor %1 fin\n").arg(numero).toLatin1() +
            QByteArray::fromHex("1D5600"));
    const bool entregado = s.waitForBytesWritten(1000);
    s.disconnectFromHost();
    return entregado;
}

// ---- The restore race on two terminals: terminal 1's serial printer is
// redirected to terminal 2's, made slow (2400 baud), a burst of jobs is
// written for it, and the printer is restored while terminal 2 is in the
// middle of them, as the operator does with orlan-admin restablecer. The
// receipts that the two serial printers took meanwhile are read for the
// burst's job numbers.

// Runs the race once and prints its row; returns the jobs of the burst lost.
int CarreraRestablecer(ImpresoraVirtual& serieUno, ImpresoraVirtual& serieDos,
                       const std::function<void(qint64)>& pasar) {
    constexpr int kPrimero = 900001, kRafaga = 20;
    const QString nombre = QStringLiteral("the restore race on two terminals");
    std::fprintf(stderr, "== %s\n", qPrintable(nombre));
    const QList<ImpresoraVirtual*> impresoras{&serieUno, &serieDos};
    QList<qint64> inicio;
    for (ImpresoraVirtual* impresora : impresoras) {
        inicio << QFileInfo(impresora->Captura()).size();
    }
    const auto Leer = [&] {
        QList<QByteArray> capturas;
        for (int i = 0; i < impresoras.size(); ++i) {
            capturas << EntornoPrueba::Leer(impresoras[i]->Captura()).mid(inicio[i]);
        }
        return ContarRecibos(capturas);
    };
    const auto Pendientes = [&] {
        try {
            return Lista(QStringLiteral("SELECT COUNT(*) FROM ColaImpresion WHERE IdTrabajo >= %1 AND IdTrabajo < %2")
                             .arg(kPrimero)
                             .arg(kPrimero + kRafaga))
                .toInt();
        } catch (const ErrorEjecucion&) {
            return -1;
        }
    };

    serieDos.Matar();
    serieDos.Iniciar(18, {"--baudios", "2400"});
    Conexion& c = Conexion::Instancia();
    c.Ejecutar("UPDATE Impresora SET Redirigido = 3 WHERE Id_Impresora = 1");
    for (int id = kPrimero; id < kPrimero + kRafaga; ++id) {
        InsertarTrabajo(id, 1, LineasTrabajo(id));
    }
    QElapsedTimer espera;
    espera.start();
    while (Leer().enteros.value(kPrimero + 1) == 0 && espera.elapsed() < 60000) {
        pasar(100);
    }
    c.Ejecutar("UPDATE Impresora SET Redirigido = 1, Estado_Impresora = 'A' WHERE Id_Impresora = 1");
    espera.restart();
    while (Pendientes() != 0 && espera.elapsed() < 120000) {
        pasar(500);
    }
    // Whatever terminal 2 still had in its tick's list comes out meanwhile.
    pasar(8000);
    serieDos.Matar();
    serieDos.Iniciar();

    const Recibos r = Leer();
    int impresos = 0, perdidos = 0, repetidos = 0, parciales = 0;
    for (int id = kPrimero; id < kPrimero + kRafaga; ++id) {
        impresos += r.enteros.value(id) > 0 ? 1 : 0;
        perdidos += r.enteros.value(id) > 0 ? 0 : 1;
        repetidos += r.enteros.value(id) > 1 ? 1 : 0;
        parciales += r.parciales.value(id);
    }
    const std::string f = nombre.toStdString();
    for (const auto& [que, cuantos] : {std::pair{", jobs printed", impresos},
                                       {", jobs lost", perdidos},
                                       {", jobs printed whole more than once", repetidos},
                                       {", partial copies", parciales},
                                       {", blank receipts", r.enBlanco}}) {
        ImprimirFigura(f + que, cuantos, "jobs", "jobs written", kRafaga, "jobs");
    }
    return perdidos;
}

struct Fila {
    QString falla;
    int escritos = 0;
    int impresos = 0;
    int perdidos = 0;
    int repetidos = 0; // printed whole more than once
    int parciales = 0; // copies begun and not finished (a power cut, a printer gone mid-job)
    QList<double> recuperacion;
    // Rows of a modelled printer: its capture, and where printer 1's jobs
    // written during the row printed first (its own serial printer is
    // terminal 1's again once the row ends).
    int modelada = -1;
    int escritosUno = 0, enModelada = 0, enRespaldo = 0, enSerie = 0;
    int marcados = 0; // copies that began with the COPIA line
    int sinMarca = 0; // whole copies after a job's first without the COPIA line
};

// Whole copies after a job's first that did not begin with the COPIA line:
// repeats nobody was warned of.
int RepeticionesSinMarca(const Visto& v) {
    int enteras = 0;
    int sinMarca = 0;
    for (const Visto::Copia& c : v.copias) {
        if (c.fin >= 0 && ++enteras > 1 && !c.marcada) {
            ++sinMarca;
        }
    }
    return sinMarca;
}

// Printer 1 (terminal 1's serial printer) with or without its backup.
void Respaldo(bool con) {
    Conexion::Instancia().Ejecutar(QStringLiteral("UPDATE Impresora SET Id_Impresora_Respaldo = %1 WHERE "
                                                  "Id_Impresora = 1")
                                       .arg(con ? QStringLiteral("3") : QStringLiteral("NULL")));
}

// ---- Rows that other programs could write into the shop's tables. The
// matrix's schema declares the keys int, so a huge id is the largest value
// the column takes; a text id cannot be stored in an int column on
// PostgreSQL, so the wrong values go where its types let them: backups and
// redirections to printers that do not exist, ports that name no port, names
// too long or with control characters, a state no writer uses.

constexpr int kMenor = std::numeric_limits<int>::min();
constexpr int kMayor = std::numeric_limits<int>::max();

struct ImpresoraHostil {
    int id;
    int terminal;
    QString puerto;
    QString nombre;
    QVariant respaldo;   // null: none
    QVariant redirigido; // null: itself
};

struct TrabajoHostil {
    int id;
    int impresora;
    int terminal; // the only terminal that may print it
    int escribiendo;
    QList<int> renglones; // IdRenglon of each line, in print order
    bool imprimible;      // well-formed enough to print; the others stay queued
};

QList<ImpresoraHostil> ImpresorasHostiles() {
    const QString largo = QStringLiteral("Impresora de nombre largo ").leftJustified(4000, u'x');
    QList<ImpresoraHostil> impresoras;
    // Twenty on each terminal with 4,000-character names on ports of their
    // own: written whole, the names alone would take a settings file past
    // 64 KB. They come first, as a server reads them in the table's order.
    for (int terminal : {1, 2}) {
        for (int i = 0; i < 20; ++i) {
            const QString puerto = i < 5 ? QStringLiteral("COM%1").arg(5 + i) : QStringLiteral("DEV%1").arg(i);
            impresoras.append({2000000000 + terminal * 100 + i, terminal, puerto, largo, {}, {}});
        }
    }
    impresoras += QList<ImpresoraHostil>{
        // Prints on terminal 2's serial printer: its jobs are well-formed.
        {kMayor, 2, QStringLiteral("COM1"), largo, {}, {}},
        // A port that is a path, a backup that does not exist.
        {-7, 1, QStringLiteral("../x"), QStringLiteral("Caja\x1b@\a\t\r\n[Cola]\nDespertar=0"), kMayor - 1, {}},
        // Redirected to its own backup, which does not exist.
        {kMayor - 2, 1, QStringLiteral("LPT1"), QStringLiteral("Impresora hostil"), kMayor - 3, kMayor - 3},
        // A device name of another system.
        {kMenor, 2, QStringLiteral("PRN"), largo, -1, {}},
    };
    return impresoras;
}

QList<TrabajoHostil> TrabajosHostiles() {
    constexpr qint16 kMenorEstado = std::numeric_limits<qint16>::min();
    constexpr qint16 kMayorEstado = std::numeric_limits<qint16>::max();
    return {
        // Ids and line numbers at both ends of the column, on printers that work.
        {kMenor, kMayor, 2, 0, {kMenor, 0, kMayor}, true},
        {-1, 3, 2, 0, {1, 2, 3}, true},
        {-3, 1, 1, 0, {-5, -4, -3}, true},
        // For printers that cannot print them: a port that is a path or a
        // device name, a redirection to a printer that does not exist.
        {kMayor, -7, 1, 0, {1, 2, 3}, false},
        {kMenor + 1, kMayor - 2, 1, 0, {1, 2, 3}, false},
        {kMayor - 1, kMenor, 2, 0, {1, 2, 3}, false},
        // States no writer uses.
        {kMayor - 2, 1, 1, kMayorEstado, {1, 2, 3}, false},
        {kMenor + 2, 3, 2, kMenorEstado, {1, 2, 3}, false},
    };
}

// The first and the last line carry the job's id and a marker no job of the
// writer has, so that the captures show where each one printed.
QString RenglonHostil(const TrabajoHostil& t, int indice) {
    const QString que = indice == 0                        ? QStringLiteral("inicio")
                        : indice == t.renglones.size() - 1 ? QStringLiteral("fin")
                                                           : QStringLiteral("renglon");
    return QStringLiteral("Hostil %1 %2").arg(t.id).arg(que);
}

void InsertarImpresoraHostil(const ImpresoraHostil& i) {
    Conexion::Instancia().Ejecutar(
        QStringLiteral("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                       "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES "
                       "(?, ?, ?, 'E', ?, ?, ?, 'A', 0)"),
        {i.id, i.terminal, i.puerto, i.nombre, i.respaldo, i.redirigido.isNull() ? QVariant(i.id) : i.redirigido});
}

// Header held with Escribiendo = -1 while its lines go in, then its state.
void InsertarTrabajoHostil(const TrabajoHostil& t) {
    Conexion& c = Conexion::Instancia();
    c.Ejecutar(QStringLiteral("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                              "VALUES (?, 'R', 'hostil', -1, ?)"),
               {t.id, t.impresora});
    for (int i = 0; i < t.renglones.size(); ++i) {
        c.Ejecutar(QStringLiteral("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (?, ?, ?)"),
                   {t.id, t.renglones[i], RenglonHostil(t, i)});
    }
    c.Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = ? WHERE IdTrabajo = ?"), {t.escribiendo, t.id});
}

class Matriz {
public:
    Matriz(int repeticiones, QString solo, int parte, int partes)
        : m_repeticiones(repeticiones), m_solo(std::move(solo)), m_parte(parte), m_partes(partes) {}

    int Correr();

private:
    bool Preparar();
    // Runs one fault: `inyectar` does the fault and returns when it ends;
    // `donde` are the capture files (indexes) where its printing is watched.
    void Falla(const QString& nombre, const QList<int>& donde, const std::function<void()>& inyectar);
    // Lets `ms` pass while reading the writer and the captures.
    void Pasar(qint64 ms);
    void LeerEscritor();
    void Restablecer();
    // Terminal 1's COM1 on a network printer modelled on real hardware
    // (orlan-impresora-virtual with `opciones`) for `ms`, its backup on or
    // off; `durante` runs once the printer is in place.
    void Modelada(const QString& nombre, const QStringList& opciones, bool conRespaldo, int ms,
                  const std::function<void()>& durante = {});
    // The same under the row name `fila` as it is given.
    void EnModelada(const QString& fila, const QStringList& opciones, bool conRespaldo, int ms,
                    const std::function<void()>& durante);
    // A job of `renglones` lines for printer 1, written by the harness; its number.
    int TrabajoGrande(int renglones);
    // Terminal 1 killed in the middle of a long job (see there).
    void TerminalCaida(bool redirigida);
    // Another program printing on terminal 1's network printer (see there).
    void OtroEmisor();
    // Waits up to `ms` for a copy of job `id` begun after `desde` (the
    // harness clock) to come out whole; the first such copy.
    std::optional<Visto::Copia> CopiaDespues(int id, qint64 desde, qint64 ms);
    // The row of hostile rows in the shop's tables (see FilasHostiles).
    void FilasHostiles();
    // The row of jobs grown old behind a printer that was away (see Vencidos).
    void Vencidos();
    bool Drenar();
    void Informar();

    int m_repeticiones;
    QString m_solo; // only the faults whose name holds this text
    int m_parte;    // only the faults whose row, counted from 0, is m_parte modulo m_partes
    int m_partes;
    int m_perdidos = 0;
    int m_fallasHostiles = 0; // checks of the hostile rows' row that failed
    int m_fallasVencidos = 0; // stale jobs printed or not set aside
    QElapsedTimer m_reloj;
    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd{m_entorno, Motor::PostgreSql};
    std::unique_ptr<TerminalPrueba> m_uno, m_dos;
    std::unique_ptr<ImpresoraVirtual> m_serieUno, m_serieDos;
    QProcess m_escritor;
    QByteArray m_salidaEscritor;
    QMap<int, qint64> m_escritos; // job number -> when its release was confirmed
    QSet<int> m_dudosos;          // gone from the queue after a failed write
    Capturas m_capturas;
    QList<Fila> m_filas;
    int m_grandes = 0;
    // The modelled printer of the row that runs: the text for COM1, and its capture file.
    QString m_destinoModelada, m_capturaModelada;
    struct Tramo {
        int fila;
        qint64 desde, hasta;
    };
    QList<Tramo> m_tramos;
};

bool Matriz::Preparar() {
    Ajustes::Guardar("ORLAN", "Configuracion", "TiempoConexion", "5");
    Ajustes::Guardar("ORLAN", "Configuracion", "TiempoConsulta", "5");
    if (!m_bd.Preparar()) {
        std::fprintf(stderr, "base de datos: %s\n", qPrintable(m_bd.Error()));
        return false;
    }
    Conexion& c = Conexion::Instancia();
    for (int t : {1, 2}) {
        c.Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(t));
    }
    c.Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    InsertarImpresora(1, 1, 3, "'A'", "COM1");
    InsertarImpresora(2, 1, 4, "'A'", "LPT1");
    InsertarImpresora(3, 2, 1, "'A'", "COM1");
    InsertarImpresora(4, 2, 2, "'A'", "LPT1");

    m_uno = std::make_unique<TerminalPrueba>(1, Motor::PostgreSql);
    m_dos = std::make_unique<TerminalPrueba>(2, Motor::PostgreSql);
    m_serieUno = std::make_unique<ImpresoraVirtual>(m_entorno.Raiz() + "/com1-t1", m_entorno.Raiz() + "/com1-t1.bin");
    m_serieDos = std::make_unique<ImpresoraVirtual>(m_entorno.Raiz() + "/com1-t2", m_entorno.Raiz() + "/com1-t2.bin");
    for (auto [terminal, serie] :
         {std::pair{m_uno.get(), m_serieUno.get()}, std::pair{m_dos.get(), m_serieDos.get()}}) {
        terminal->Ajuste("Puertos", "COM1", serie->Enlace());
        terminal->Ajuste("Configuracion", "TiempoConexion", "5");
        terminal->Ajuste("Configuracion", "TiempoConsulta", "5");
        terminal->Ajuste("Cola", "ConfirmarRecepcion", "1");
        // Terminal 2 is also woken by the database (LISTEN on PostgreSQL).
        terminal->Ajuste("Cola", "Despertar", terminal == m_dos.get() ? "1" : "0");
        if (!serie->Iniciar()) {
            std::fprintf(stderr, "orlan-impresora-virtual no arranco\n");
            return false;
        }
        terminal->Iniciar();
    }
    // Capture files: 0 and 1 terminal 1's serial and parallel printers, 2
    // and 3 terminal 2's.
    m_capturas.Agregar(m_serieUno->Captura());
    m_capturas.Agregar(m_uno->RaizUnidad() + "/lpt/378.bin");
    m_capturas.Agregar(m_serieDos->Captura());
    m_capturas.Agregar(m_dos->RaizUnidad() + "/lpt/378.bin");

    m_escritor.setProcessChannelMode(QProcess::SeparateChannels);
    m_escritor.setStandardErrorFile(QProcess::nullDevice());
    m_escritor.start(QCoreApplication::applicationFilePath(), {"--escritor", "1"});
    return m_escritor.waitForStarted(5000);
}

void Matriz::LeerEscritor() {
    m_salidaEscritor += m_escritor.readAllStandardOutput();
    qsizetype fin;
    while ((fin = m_salidaEscritor.indexOf('\n')) >= 0) {
        const QByteArray linea = m_salidaEscritor.left(fin);
        m_salidaEscritor.remove(0, fin + 1);
        const int id = linea.mid(2).toInt();
        if (linea.startsWith("W ")) {
            m_escritos.insert(id, m_reloj.elapsed());
        } else if (linea.startsWith("? ")) {
            m_dudosos.insert(id);
        }
    }
}

void Matriz::Pasar(qint64 ms) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_escritor.waitForReadyRead(50);
        LeerEscritor();
        m_capturas.Leer(m_reloj.elapsed());
        m_uno->Salida();
        m_dos->Salida();
    } while (t.elapsed() < ms);
}

// Every printer serves its own jobs again, as the operator does with
// orlan-admin restablecer once a printer is back. Retried: the database may
// still be coming back.
void Matriz::Restablecer() {
    for (int intento = 0; intento < 60; ++intento) {
        try {
            if (!Conexion::Instancia().Abierta() && !Conectar()) {
                throw ErrorEjecucion(ErrorEjecucion::kErrorBaseDatos, "sin conexion");
            }
            Conexion::Instancia().Ejecutar("UPDATE Impresora SET Redirigido = Id_Impresora, Estado_Impresora = 'A'");
            return;
        } catch (const ErrorEjecucion&) {
            Conexion::Instancia().Cerrar();
            Pasar(500);
        }
    }
}

void Matriz::Falla(const QString& nombre, const QList<int>& donde, const std::function<void()>& inyectar) {
    const int indice = static_cast<int>(
        std::find_if(m_filas.cbegin(), m_filas.cend(), [&](const Fila& f) { return f.falla == nombre; }) -
        m_filas.cbegin());
    if (indice == m_filas.size()) {
        m_filas.append(Fila{nombre, 0, 0, 0, 0, 0, {}});
    }
    if ((!m_solo.isEmpty() && !nombre.contains(m_solo)) || indice % m_partes != m_parte) {
        return;
    }
    std::fprintf(stderr, "== %s\n", qPrintable(nombre));
    const qint64 desde = m_reloj.elapsed();
    Pasar(3000);
    const qint64 inicioFalla = m_reloj.elapsed();
    inyectar();
    const qint64 finFalla = m_reloj.elapsed();
    std::fprintf(stderr, "   falla de %.1f s a %.1f s\n", inicioFalla / 1000.0, finFalla / 1000.0);
    Restablecer();
    // The next job out of a watched printer after the fault, for at most 90 s.
    std::optional<qint64> siguiente;
    QElapsedTimer espera;
    espera.start();
    for (int vuelta = 1; !siguiente && espera.elapsed() < 90000; ++vuelta) {
        Pasar(100);
        if (vuelta % 20 == 0) {
            // A tick that was still waiting on the failed printer may redirect
            // it after the fault ended: set it back again, as the operator
            // would on seeing it.
            Restablecer();
        }
        for (const Visto& v : m_capturas.Vistos()) {
            if (v.fin > finFalla && donde.contains(v.archivo) && (!siguiente || v.fin < *siguiente)) {
                siguiente = v.fin;
            }
        }
    }
    if (siguiente) {
        m_filas[indice].recuperacion << (*siguiente - finFalla) / 1000.0;
    } else {
        m_filas[indice].recuperacion << -1;
        std::fprintf(stderr, "nada salio despues de la falla; bitacoras:\n%s\n%s\n",
                     qPrintable(m_uno->Bitacora().right(3000)), qPrintable(m_dos->Bitacora().right(1500)));
    }
    Pasar(3000);
    m_tramos.append({indice, desde, m_reloj.elapsed()});
}

void Matriz::Modelada(const QString& nombre, const QStringList& opciones, bool conRespaldo, int ms,
                      const std::function<void()>& durante) {
    EnModelada(nombre + (conRespaldo ? QStringLiteral(", with backup") : QStringLiteral(", without backup")), opciones,
               conRespaldo, ms, durante);
}

void Matriz::EnModelada(const QString& fila, const QStringList& opciones, bool conRespaldo, int ms,
                        const std::function<void()>& durante) {
    const QString captura = m_entorno.Raiz() + QStringLiteral("/modelada-%1.bin").arg(m_capturas.Cantidad());
    m_capturas.Agregar(captura);
    const int indice = static_cast<int>(m_capturas.Cantidad()) - 1;
    Falla(fila, {0, 2, indice}, [&] {
        ImpresoraRed red(QStringLiteral("normal"), captura, opciones);
        m_destinoModelada = red.Destino();
        m_capturaModelada = captura;
        Respaldo(conRespaldo);
        CambiarCom1(*m_uno, red.Destino());
        if (durante) {
            durante();
        }
        Pasar(ms);
        CambiarCom1(*m_uno, m_serieUno->Enlace());
        Respaldo(true);
    });
    for (Fila& f : m_filas) {
        f.modelada = f.falla == fila ? indice : f.modelada;
    }
}

int Matriz::TrabajoGrande(int renglones) {
    // Numbered down from 900000: the restore race's jobs are the numbers above it.
    const int id = 900000 - m_grandes++;
    QList<std::optional<QString>> lineas = LineasTrabajo(id);
    const std::optional<QString> fin = lineas.takeLast();
    for (int i = lineas.size(); i < renglones; ++i) {
        lineas << QStringLiteral("renglon %1 del trabajo grande %2").arg(i).arg(Numero(id)).leftJustified(42);
    }
    lineas << fin;
    InsertarTrabajo(id, 1, lineas);
    m_escritos.insert(id, m_reloj.elapsed());
    return id;
}

std::optional<Visto::Copia> Matriz::CopiaDespues(int id, qint64 desde, qint64 ms) {
    QElapsedTimer espera;
    espera.start();
    for (;;) {
        for (const Visto::Copia& c : m_capturas.Vistos().value(id).copias) {
            if (c.inicio > desde && c.fin >= 0) {
                return c;
            }
        }
        if (espera.elapsed() >= ms) {
            return std::nullopt;
        }
        Pasar(100);
    }
}

// Terminal 1 killed (SIGKILL) about 3 s into a 10 KB job on a network printer
// at 1,000 B/s, its claim on the job left standing. Started again 5 s later,
// it takes its own claims back at once and prints the job again; left dead,
// with its printer redirected to terminal 2's as the operator would, terminal
// 2 takes the job over once the claim expired. The row says when the job's
// next copy (the first begun after the kill) came out whole, counted from the
// kill, whether it was marked COPIA and, redirected, whether it came out on
// terminal 2's printer. Terminal 1 runs again when the row ends.
void Matriz::TerminalCaida(bool redirigida) {
    const QString nombre = redirigida
                               ? QStringLiteral("terminal 1 killed (SIGKILL) holding a claim on a long job, left "
                                                "dead, its printer redirected to terminal 2's")
                               : QStringLiteral("terminal 1 killed (SIGKILL) holding a claim on a long job, "
                                                "restarted after 5 s");
    EnModelada(nombre, {"--velocidad", "1000", "--escuchar", "127.0.0.1:0"}, true, 0, [&] {
        // The row before may have ended with printer 1 on its backup (its
        // printer went away mid-job): the long job is terminal 1's.
        Restablecer();
        const int id = TrabajoGrande(240);
        QElapsedTimer espera;
        espera.start();
        while (m_capturas.Vistos().value(id).inicios == 0 && espera.elapsed() < 60000) {
            Pasar(100);
        }
        Pasar(3000);
        m_uno->Matar();
        const qint64 muerte = m_reloj.elapsed();
        if (redirigida) {
            Conexion::Instancia().Ejecutar("UPDATE Impresora SET Redirigido = 3 WHERE Id_Impresora = 1");
        } else {
            Pasar(5000);
            // Started on the settings it died with; later starts use the serial printer again.
            m_uno->Ajuste("Puertos", "COM1", m_destinoModelada);
            m_uno->Iniciar();
            m_uno->Ajuste("Puertos", "COM1", m_serieUno->Enlace());
        }
        const std::optional<Visto::Copia> copia = CopiaDespues(id, muerte, redirigida ? 90000 : 60000);
        const double segundos = copia ? (copia->fin - muerte) / 1000.0 : -1;
        std::fprintf(stderr, "   trabajo %d: copia siguiente entera a los %.1f s de la muerte%s, captura %d\n", id,
                     segundos, copia && copia->marcada ? ", marcada COPIA" : "", copia ? copia->archivo : -1);
        const std::string f = nombre.toStdString();
        ImprimirFigura(f + ", seconds from the kill to the end of the long job's next copy on paper", segundos, "s",
                       redirigida ? "claim expiry (VenceReclamo)" : "time dead", redirigida ? 20 : 5, "s",
                       MenosEsMejor::Si);
        ImprimirFigura(f + ", the long job's next copy marked COPIA", copia && copia->marcada ? 1 : 0, "copies",
                       "copies", 1, "copies");
        if (redirigida) {
            ImprimirFigura(f + ", the long job's next copy on terminal 2's printer",
                           copia && copia->archivo == 2 ? 1 : 0, "copies", "copies", 1, "copies");
            m_uno->Iniciar();
        }
    });
}

// Another program prints on terminal 1's network printer while the server's
// jobs flow to it, as a second till sharing a kitchen printer does: every
// 1.5 s one receipt on a connection of its own (EnviarOtroEmisor). The printer
// serves one connection at a time. A server that keeps its connection
// between jobs starves the other program; one whose connect finds the
// printer taken waits for it, its jobs neither failed nor sent to the backup.
// The row says how many of the other program's receipts could not connect and
// how many did not come out within 10 s.
void Matriz::OtroEmisor() {
    const QString nombre = QStringLiteral("a second sender printing on the network printer between the server's jobs");
    EnModelada(nombre, {"--velocidad", "5000", "--escuchar", "127.0.0.1:0"}, true, 0, [&] {
        constexpr int kRecibos = 8;
        constexpr qint64 kPlazo = 10000;
        const auto puerto = static_cast<quint16>(m_destinoModelada.section(u':', 2).toUInt());
        QMap<int, qint64> enviados, impresos;
        int rechazados = 0;
        const auto esperar = [&](qint64 ms) {
            static const QRegularExpression fin(QStringLiteral("Otro emisor (\\d+) fin"));
            QElapsedTimer t;
            t.start();
            do {
                Pasar(100);
                const QString texto = QString::fromLatin1(EntornoPrueba::Leer(m_capturaModelada));
                for (auto m = fin.globalMatch(texto); m.hasNext();) {
                    const int n = m.next().captured(1).toInt();
                    if (!impresos.contains(n)) {
                        impresos.insert(n, m_reloj.elapsed());
                    }
                }
            } while (t.elapsed() < ms);
        };
        for (int n = 1; n <= kRecibos; ++n) {
            if (EnviarOtroEmisor(puerto, n)) {
                enviados.insert(n, m_reloj.elapsed());
            } else {
                ++rechazados;
            }
            esperar(1500);
        }
        QElapsedTimer espera;
        espera.start();
        while (impresos.size() < enviados.size() && espera.elapsed() < kPlazo) {
            esperar(100);
        }
        int tarde = 0;
        double peor = 0; // the longest wait of a receipt that printed
        for (auto it = enviados.cbegin(); it != enviados.cend(); ++it) {
            const qint64 impreso = impresos.value(it.key(), -1);
            tarde += impreso < 0 || impreso - it.value() > kPlazo ? 1 : 0;
            peor = impreso < 0 ? peor : std::max(peor, (impreso - it.value()) / 1000.0);
        }
        std::fprintf(stderr,
                     "   otro emisor: %d recibos, %d sin conexion, %d sin imprimir en 10 s, espera mayor %.1f s\n",
                     kRecibos, rechazados, tarde, peor);
        const std::string f = nombre.toStdString();
        ImprimirFigura(f + ", other sender's receipts that could not connect", rechazados, "receipts",
                       "other sender's receipts", kRecibos, "receipts");
        ImprimirFigura(f + ", other sender's receipts not printed within 10 s", tarde, "receipts",
                       "other sender's receipts", kRecibos, "receipts");
        ImprimirFigura(f + ", longest wait of an other sender's receipt that printed", peor, "s", "limit",
                       kPlazo / 1000.0, "s", MenosEsMejor::Si);
    });
}

// Hostile rows written while the terminals serve and the writer writes:
// the printers first, then both servers restarted (a shop's servers start
// every morning, and they read their printers then), then the hostile jobs.
// Passes when every hostile job printed once on its own terminal or is still
// queued as it should, both servers served and kept running as the same
// processes, and each settings file stayed under 64 KB; the writer's jobs are
// counted as in every row.
void Matriz::FilasHostiles() {
    const QString nombre = QStringLiteral("hostile rows in the shop's tables (negative and huge ids, bad ports, "
                                          "backups and names)");
    Falla(nombre, {0, 1, 2, 3}, [&] {
        const QList<ImpresoraHostil> impresoras = ImpresorasHostiles();
        const QList<TrabajoHostil> trabajos = TrabajosHostiles();
        // Capture files 0 and 1 are terminal 1's, 2 and 3 terminal 2's.
        const QStringList capturas{m_serieUno->Captura(), m_uno->RaizUnidad() + "/lpt/378.bin", m_serieDos->Captura(),
                                   m_dos->RaizUnidad() + "/lpt/378.bin"};
        QList<qint64> inicio;
        for (const QString& captura : capturas) {
            inicio << QFileInfo(captura).size();
        }
        Conexion& c = Conexion::Instancia();
        // A shop's own table may declare the name wider than ours; it stays
        // so for the rows after this one, which never read it.
        c.Ejecutar("ALTER TABLE Impresora ALTER COLUMN Nombre_Impresora TYPE varchar(4000)");
        for (const ImpresoraHostil& i : impresoras) {
            InsertarImpresoraHostil(i);
        }
        // Lines without a header.
        c.Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (?, ?, 'Hostil suelto')",
                   {-2, kMayor});
        c.Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (?, ?, 'Hostil suelto')",
                   {kMayor - 3, kMenor});
        // What each server says from its start on: "sirviendo la cola" once
        // it has read its printers and serves.
        qsizetype salidaPrevia[2];
        for (TerminalPrueba* terminal : {m_uno.get(), m_dos.get()}) {
            terminal->Detener();
            salidaPrevia[terminal == m_uno.get() ? 0 : 1] = terminal->Salida().size();
            terminal->Iniciar();
        }
        const qint64 pids[] = {m_uno->Pid(), m_dos->Pid()};
        // The row before may have left printer 1 on its backup (a tick that
        // failed it after that row's last reset): a job printed on the other
        // terminal must mean a hostile row misread, not a redirection. The
        // hostile printers keep the routes they were written with.
        c.Ejecutar("UPDATE Impresora SET Redirigido = Id_Impresora, Estado_Impresora = 'A' "
                   "WHERE Id_Impresora BETWEEN 1 AND 4");
        for (const TrabajoHostil& t : trabajos) {
            InsertarTrabajoHostil(t);
            Pasar(500);
        }
        Pasar(12000);

        // Where each hostile job printed whole, by terminal.
        static const QRegularExpression marca(QStringLiteral("Hostil (-?\\d+) fin"));
        QMap<int, int> impresos[2];
        for (int i = 0; i < capturas.size(); ++i) {
            const QString texto = QString::fromLatin1(EntornoPrueba::Leer(capturas[i]).mid(inicio[i]));
            for (auto m = marca.globalMatch(texto); m.hasNext();) {
                ++impresos[i / 2][m.next().captured(1).toInt()];
            }
        }
        int bien = 0, ajenos = 0, repetidos = 0, desaparecidos = 0, sinImprimir = 0;
        QSet<int> terminalesConFalla;
        for (const TrabajoHostil& t : trabajos) {
            const int propios = impresos[t.terminal - 1].value(t.id);
            const int otros = impresos[2 - t.terminal].value(t.id);
            const bool enCola =
                Lista(QStringLiteral("SELECT COUNT(*) FROM ColaImpresion WHERE IdTrabajo = %1").arg(t.id)) != "0";
            // Printed once on its own terminal and gone, or not printed and
            // still queued: nothing else is right.
            const char* falla = otros > 0                      ? "impreso en la otra terminal"
                                : propios > 1                  ? "impreso mas de una vez"
                                : propios == 0 && !enCola      ? "borrado de la cola sin imprimirse"
                                : propios == 1 && enCola       ? "impreso y sigue en la cola"
                                : t.imprimible && propios == 0 ? "no se imprimio"
                                : !t.imprimible && propios > 0 ? "impreso en una impresora que no puede"
                                                               : nullptr;
            ajenos += otros > 0 ? 1 : 0;
            repetidos += propios + otros > 1 ? 1 : 0;
            desaparecidos += propios + otros == 0 && !enCola ? 1 : 0;
            sinImprimir += t.imprimible && propios + otros == 0 ? 1 : 0;
            bien += falla ? 0 : 1;
            if (falla) {
                terminalesConFalla.insert(t.terminal);
                // Its printer's route now says whether it was sent to its backup.
                const QString ruta =
                    Lista(QStringLiteral("SELECT Redirigido FROM Impresora WHERE Id_Impresora = %1").arg(t.impresora));
                std::fprintf(stderr,
                             "trabajo hostil %d (impresora %d, terminal %d, redirigida a %s): %s (%d veces en la suya, "
                             "%d en la otra)\n",
                             t.id, t.impresora, t.terminal, qPrintable(ruta), falla, propios, otros);
            }
        }
        int caidos = 0;
        bool sirve[2];
        qint64 mayorAjustes = 0;
        for (int n = 0; n < 2; ++n) {
            TerminalPrueba& terminal = n == 0 ? *m_uno : *m_dos;
            const QString salida = terminal.Salida().mid(salidaPrevia[n]);
            sirve[n] = salida.contains(QStringLiteral("sirviendo la cola"));
            if (!terminal.Corriendo() || terminal.Pid() != pids[n]) {
                ++caidos;
                std::fprintf(stderr, "la terminal %d termino (pid %lld):\n%s\n", n + 1, static_cast<long long>(pids[n]),
                             qPrintable(salida.right(2000)));
            } else if (!sirve[n]) {
                ++caidos;
                std::fprintf(stderr, "la terminal %d sigue viva pero no sirve la cola:\n%s\n", n + 1,
                             qPrintable(salida.right(2000)));
            }
            const qint64 tamano = QFileInfo(RutaAjustes(terminal)).size();
            mayorAjustes = std::max(mayorAjustes, tamano);
            if (tamano >= 64 * 1024) {
                std::fprintf(stderr, "orlan.ini de la terminal %d: %lld bytes\n", n + 1,
                             static_cast<long long>(tamano));
            }
        }
        for (int n : terminalesConFalla) {
            // Its last lines, each cut short: they quote the long names.
            const QStringList lineas = (n == 1 ? m_uno : m_dos)->Bitacora().split(u'\n');
            std::fprintf(stderr, "bitacora de la terminal %d:\n", n);
            for (const QString& linea : lineas.mid(std::max<qsizetype>(0, lineas.size() - 15))) {
                std::fprintf(stderr, "%s\n", qPrintable(linea.left(160)));
            }
            // And every line of the run that moved or failed one of its
            // printers: what sent a job to the other terminal.
            static const QRegularExpression ruta(QStringLiteral("Redirigido|no confirmo|no puede imprimir|fallo"));
            for (const QString& linea : lineas) {
                if (linea.contains(ruta) && !linea.contains(QStringLiteral("Impresora de nombre largo"))) {
                    std::fprintf(stderr, "  %s\n", qPrintable(linea.left(200)));
                }
            }
        }
        const std::string f = nombre.toStdString();
        const auto total = static_cast<double>(trabajos.size());
        ImprimirFigura(f + ", hostile jobs as they should be (well-formed ones printed once on their terminal, the "
                           "rest left queued)",
                       bien, "jobs", "hostile jobs written", total, "jobs");
        for (const auto& [que, cuantos] : {std::pair{", well-formed hostile jobs not printed", sinImprimir},
                                           {", hostile jobs printed on the other terminal", ajenos},
                                           {", hostile jobs printed whole more than once", repetidos},
                                           {", hostile jobs gone from the queue unprinted", desaparecidos}}) {
            ImprimirFigura(f + que, cuantos, "jobs", "hostile jobs written", total, "jobs");
        }
        ImprimirFigura(f + ", servers that ended, restarted or never served", caidos, "servers", "servers", 2,
                       "servers");
        ImprimirFigura(f + ", largest settings file (orlan.ini)", mayorAjustes / 1024.0, "KB", "limit", 64, "KB",
                       MenosEsMejor::Si);
        m_fallasHostiles += (bien < trabajos.size() ? 1 : 0) + caidos + (mayorAjustes >= 64 * 1024 ? 1 : 0);

        // The hostile rows gone, and a server that ended or does not serve
        // started again, so that the rows after this one run on two terminals.
        for (const TrabajoHostil& t : trabajos) {
            c.Ejecutar("DELETE FROM DetalleColaImpresion WHERE IdTrabajo = ?", {t.id});
            c.Ejecutar("DELETE FROM ColaImpresion WHERE IdTrabajo = ?", {t.id});
        }
        c.Ejecutar("DELETE FROM DetalleColaImpresion WHERE Datos = 'Hostil suelto'");
        for (const ImpresoraHostil& i : impresoras) {
            c.Ejecutar("DELETE FROM Impresora WHERE Id_Impresora = ?", {i.id});
        }
        for (int n = 0; n < 2; ++n) {
            TerminalPrueba& terminal = n == 0 ? *m_uno : *m_dos;
            if (!terminal.Corriendo() || !sirve[n]) {
                terminal.Detener();
                terminal.Iniciar();
            }
        }
    });
}

// [Cola] EdadMaxima=1 on terminal 1, whose serial printer, without its
// backup, goes away for 10 s while the writer writes and a few jobs written
// two minutes ago (their FechaHora set so, not waited for) are queued for it,
// then comes back. The old jobs must be set aside unprinted: they are counted
// apart, not as lost, and taken out of the queue afterwards. The writer's
// jobs, all young, must print once, counted as in every row.
void Matriz::Vencidos() {
    constexpr int kPrimero = 910001, kViejos = 5;
    const QString nombre = QStringLiteral("stale jobs behind a printer that comes back after 10 s (EdadMaxima=1)");
    Falla(nombre, {0}, [&] {
        Conexion& c = Conexion::Instancia();
        const auto Apartados = [&] {
            return Lista(QStringLiteral("SELECT COUNT(*) FROM ColaImpresion WHERE IdTrabajo >= %1 AND IdTrabajo < %2 "
                                        "AND Escribiendo = 2")
                             .arg(kPrimero)
                             .arg(kPrimero + kViejos))
                .toInt();
        };
        CambiarAjuste(*m_uno, QStringLiteral("Cola"), QStringLiteral("EdadMaxima"), QStringLiteral("1"));
        Respaldo(false);
        m_serieUno->Matar();
        for (int id = kPrimero; id < kPrimero + kViejos; ++id) {
            InsertarTrabajo(id, 1, LineasTrabajo(id), true);
            c.Ejecutar("UPDATE ColaImpresion SET FechaHora = LOCALTIMESTAMP - interval '2 minutes', Escribiendo = 0 "
                       "WHERE IdTrabajo = ?",
                       {id});
        }
        Pasar(10000);
        m_serieUno->Iniciar();
        QElapsedTimer espera;
        espera.start();
        while (Apartados() < kViejos && espera.elapsed() < 30000) {
            Pasar(500);
        }
        const int apartados = Apartados();
        int impresos = 0;
        for (int id = kPrimero; id < kPrimero + kViejos; ++id) {
            impresos += m_capturas.Vistos().value(id).inicios > 0 ? 1 : 0;
        }
        const std::string f = nombre.toStdString();
        ImprimirFigura(f + ", stale jobs set aside unprinted", apartados, "jobs", "stale jobs written", kViejos,
                       "jobs");
        ImprimirFigura(f + ", stale jobs printed", impresos, "jobs", "stale jobs written", kViejos, "jobs");
        if (apartados != kViejos || impresos > 0) {
            ++m_fallasVencidos;
            std::fprintf(stderr, "trabajos viejos: %d apartados, %d impresos de %d; bitacora:\n%s\n", apartados,
                         impresos, kViejos, qPrintable(m_uno->Bitacora().right(3000)));
        }
        for (int id = kPrimero; id < kPrimero + kViejos; ++id) {
            c.Ejecutar("DELETE FROM DetalleColaImpresion WHERE IdTrabajo = ?", {id});
            c.Ejecutar("DELETE FROM ColaImpresion WHERE IdTrabajo = ?", {id});
        }
        CambiarAjuste(*m_uno, QStringLiteral("Cola"), QStringLiteral("EdadMaxima"), QStringLiteral("0"));
        Respaldo(true);
    });
}

// Stops the writer and waits until the queue is empty and the captures stop
// growing.
bool Matriz::Drenar() {
    ::kill(static_cast<pid_t>(m_escritor.processId()), SIGTERM);
    while (!m_escritor.waitForFinished(100)) {
        LeerEscritor();
    }
    LeerEscritor();
    QElapsedTimer espera;
    espera.start();
    while (espera.elapsed() < 180000) {
        Pasar(1000);
        try {
            // A write the writer gave up on while the database hung can land
            // after it looked: the server, resumed, runs the INSERT still in
            // its socket and the rest never comes. Such a job was never
            // released, no server may print it, and a till that crashed
            // mid-write leaves the same; it is not the servers' to drain.
            for (const QString& id :
                 Lista("SELECT IdTrabajo FROM ColaImpresion WHERE Escribiendo = -1").split(u',', Qt::SkipEmptyParts)) {
                if (!m_escritos.contains(id.toInt())) {
                    std::fprintf(stderr, "trabajo %s a medio escribir, abandonado por el escritor: se borra\n",
                                 qPrintable(id));
                    Conexion::Instancia().Ejecutar(
                        QStringLiteral("DELETE FROM DetalleColaImpresion WHERE IdTrabajo=%1").arg(id));
                    Conexion::Instancia().Ejecutar(
                        QStringLiteral("DELETE FROM ColaImpresion WHERE IdTrabajo=%1").arg(id));
                }
            }
            if (Lista("SELECT COUNT(*) FROM ColaImpresion") == QStringLiteral("0")) {
                Pasar(3000);
                return true;
            }
        } catch (const ErrorEjecucion&) {
            Conexion::Instancia().Cerrar();
            Conectar();
        }
    }
    return false;
}

void Matriz::Informar() {
    const QMap<int, Visto>& vistos = m_capturas.Vistos();
    for (const Tramo& tramo : m_tramos) {
        Fila& fila = m_filas[tramo.fila];
        QSet<int> trabajos;
        for (auto it = m_escritos.cbegin(); it != m_escritos.cend(); ++it) {
            if (it.value() >= tramo.desde && it.value() < tramo.hasta) {
                trabajos.insert(it.key());
            }
        }
        for (int id : m_dudosos) {
            // Released and printed before the writer could tell: written.
            if (vistos.contains(id) && vistos[id].fin >= tramo.desde && vistos[id].fin < tramo.hasta) {
                trabajos.insert(id);
            }
        }
        for (int id : trabajos) {
            ++fila.escritos;
            const Visto v = vistos.value(id);
            if (fila.modelada >= 0 && kImpresoras[id % 4] == 1) {
                ++fila.escritosUno;
                fila.enModelada += v.archivo == fila.modelada ? 1 : 0;
                fila.enRespaldo += v.archivo == 2 ? 1 : 0;
                fila.enSerie += v.archivo == 0 ? 1 : 0;
            }
            fila.parciales += std::max(0, v.inicios - v.fines);
            fila.marcados += v.marcados;
            fila.sinMarca += RepeticionesSinMarca(v);
            if (v.fin >= 0) {
                ++fila.impresos;
                fila.repetidos += v.fines > 1 ? 1 : 0;
            } else {
                ++fila.perdidos;
                std::fprintf(stderr,
                             "perdido el trabajo %d de la impresora %d (primer renglon impreso %d veces), "
                             "escrito a los %.1f s\n",
                             id, kImpresoras[id % 4], v.inicios, m_escritos.value(id) / 1000.0);
            }
        }
    }
    // Every job of the run, those written between the faults included.
    Fila todo{QStringLiteral("whole run"), 0, 0, 0, 0, 0, {}};
    for (auto it = m_escritos.cbegin(); it != m_escritos.cend(); ++it) {
        ++todo.escritos;
        const Visto v = vistos.value(it.key());
        todo.impresos += v.fin >= 0 ? 1 : 0;
        todo.perdidos += v.fin >= 0 ? 0 : 1;
        todo.repetidos += v.fines > 1 ? 1 : 0;
        todo.parciales += std::max(0, v.inicios - v.fines);
        todo.marcados += v.marcados;
        todo.sinMarca += RepeticionesSinMarca(v);
    }
    for (int id : m_dudosos) {
        if (vistos.value(id).fin >= 0) {
            ++todo.escritos;
            ++todo.impresos;
        }
    }
    m_perdidos = todo.perdidos;
    const auto Conteos = [](const Fila& fila) {
        for (const auto& [que, cuantos] : {std::pair{", jobs printed", fila.impresos},
                                           {", jobs lost", fila.perdidos},
                                           {", jobs printed whole more than once", fila.repetidos},
                                           {", partial copies", fila.parciales},
                                           {", copies marked COPIA", fila.marcados},
                                           {", whole repeats not marked COPIA", fila.sinMarca}}) {
            ImprimirFigura(fila.falla.toStdString() + que, cuantos, "jobs", "jobs written", fila.escritos, "jobs");
        }
    };
    for (const Fila& fila : m_filas) {
        if (fila.recuperacion.isEmpty()) {
            continue;
        }
        const std::string f = fila.falla.toStdString();
        Conteos(fila);
        if (fila.modelada >= 0) {
            for (const auto& [donde, cuantos] : {std::pair{"the modelled printer", fila.enModelada},
                                                 {"its backup", fila.enRespaldo},
                                                 {"its own serial printer after the row", fila.enSerie}}) {
                ImprimirFigura(f + ", printer 1's jobs printed first on " + donde, cuantos, "jobs",
                               "printer 1's jobs written", fila.escritosUno, "jobs");
            }
        }
        double peor = 0;
        for (double s : fila.recuperacion) {
            peor = s < 0 || peor < 0 ? -1 : std::max(peor, s);
        }
        // The poll interval: the fastest a job can be noticed at all.
        ImprimirFigura(f + ", seconds from the end of the fault to the next printed job (worst of " +
                           std::to_string(fila.recuperacion.size()) + ")",
                       peor, "s", "poll interval", 2.0, "s", MenosEsMejor::Si);
    }
    Conteos(todo);
}

int Matriz::Correr() {
    m_reloj.start();
    ServidorPostgres& pg = ServidorPostgres::Compartido();
    if (!pg.Activo() || !Preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(pg.Error()));
        return 2;
    }
    Pasar(5000);
    const QString lptUno = m_uno->RaizUnidad() + "/lpt/378.estado";
    const QString nodra = m_uno->RaizUnidad() + "/nodra";
    for (int r = 0; r < m_repeticiones; ++r) {
        Falla("database server restarted", {0, 1, 2, 3}, [&] {
            pg.Detener();
            Pasar(5000);
            pg.Iniciar();
        });
        Falla("database server hung 20 s (SIGSTOP, SIGCONT)", {0, 1, 2, 3}, [&] {
            pg.Suspender();
            Pasar(20000);
            pg.Reanudar();
        });
        Falla("serial printer's pseudo-terminal closed and reopened", {0}, [&] {
            m_serieUno->Matar();
            Pasar(3000);
            m_serieUno->Iniciar();
        });
        Falla("serial printer out of paper, backup on terminal 2", {0}, [&] {
            m_serieUno->Matar();
            m_serieUno->Iniciar(114);
            Pasar(8000);
            m_serieUno->Matar();
            m_serieUno->Iniciar();
        });
        Falla("parallel printer out of paper, backup on terminal 2", {1}, [&] {
            m_entorno.Escribir(lptUno, "sin-papel\n");
            Pasar(30000);
            m_entorno.Escribir(lptUno, "listo\n");
        });
        Falla("listening connection of terminal 2 killed (pg_terminate_backend)", {2, 3}, [&] {
            Lista("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'orlan-cola "
                  "escucha'");
            Pasar(3000);
        });
        Falla("server killed (SIGKILL) and started again", {0, 1}, [&] {
            m_uno->Matar();
            Pasar(2000);
            m_uno->Iniciar();
        });
        // Root may write anywhere, so the log's directory is replaced by a
        // file; the server is restarted under it so that it has to log.
        Falla("event log's directory replaced by a file, server restarted", {0, 1}, [&] {
            QDir(nodra).rename(nodra, nodra + ".aparte");
            m_entorno.Escribir(nodra, "no es un directorio\n");
            m_uno->Detener();
            m_uno->Iniciar();
            Pasar(10000);
            QFile::remove(nodra);
            QDir().rename(nodra + ".aparte", nodra);
        });
        // Terminal 1's COM1 moved for 15 s to a network printer that
        // misbehaves (its jobs must reach the backup on terminal 2 unprinted
        // or printed once), then back to the serial printer.
        for (const char* conducta : {"no-lee", "reinicia", "inunda", "acepta-lento", "tarda"}) {
            const QString captura = m_entorno.Raiz() + QStringLiteral("/red-%1-%2.bin").arg(conducta).arg(r);
            m_capturas.Agregar(captura);
            const int indice = static_cast<int>(m_capturas.Cantidad()) - 1;
            Falla(QStringLiteral("network printer on terminal 1 that is %1 (--conducta %1)").arg(conducta),
                  {0, 2, indice}, [&] {
                      ImpresoraRed red(QString::fromLatin1(conducta), captura);
                      CambiarCom1(*m_uno, red.Destino());
                      Pasar(15000);
                      CambiarCom1(*m_uno, m_serieUno->Enlace());
                  });
        }
        Falla("network printer on terminal 1 that refuses the connection", {0, 2}, [&] {
            CambiarCom1(*m_uno, PuertoCerrado());
            Pasar(15000);
            CambiarCom1(*m_uno, m_serieUno->Enlace());
        });
        // A USB printer that stops taking bytes: the serial printer's
        // pseudo-terminal as a USB device, its printer stopped (SIGSTOP).
        Falla("USB printer on terminal 1 that stops taking bytes", {0, 2}, [&] {
            CambiarCom1(*m_uno, QStringLiteral("usb:") + m_serieUno->Enlace());
            m_serieUno->Senal(SIGSTOP);
            Pasar(15000);
            m_serieUno->Senal(SIGCONT);
            CambiarCom1(*m_uno, m_serieUno->Enlace());
        });
        Falla("9600-baud serial printer with ConfirmarRecepcion=1 (--baudios 9600)", {0}, [&] {
            m_serieUno->Matar();
            m_serieUno->Iniciar(18, {"--baudios", "9600"});
            Pasar(20000);
            m_serieUno->Matar();
            m_serieUno->Iniciar();
        });
        // Printers modelled on real hardware (4 KB receive buffer, a print
        // speed, DLE EOT answered on arrival, GS r after printing) in place
        // of terminal 1's serial printer; fast speeds and short faults keep
        // the run short where the point survives.
        for (bool respaldo : {true, false}) {
            Modelada("modelled network printer losing power every 4 s (--cortes 4:1.5)",
                     {"--velocidad", "2500", "--cortes", "4:1.5"}, respaldo, 15000);
            Modelada("modelled network printer that prints and never answers (--respuesta ninguna)",
                     {"--velocidad", "5000", "--respuesta", "ninguna"}, respaldo, 10000);
        }
        Modelada("modelled network printer at 600 B/s taking bursts (--velocidad 600)", {"--velocidad", "600"}, true,
                 15000);
        Modelada("modelled network printer at 2,500 B/s with one 20 KB job", {"--velocidad", "2500"}, false, 15000,
                 [&] { TrabajoGrande(480); });
        Modelada("modelled network printer with paper near its end (--estado papel-bajo)",
                 {"--velocidad", "5000", "--estado", "papel-bajo"}, false, 10000);
        Modelada("modelled network printer sending status unasked (--asb)", {"--velocidad", "5000", "--asb"}, false,
                 10000);
        // A printer that closes its sending half (FIN) still prints what
        // comes: the jobs print on it once each, and the printer that can
        // never answer prints the one job it is sent, as the silent one.
        for (bool respaldo : {true, false}) {
            Modelada("modelled network printer that half-closes each connection (--conducta medio-cierre)",
                     {"--velocidad", "5000", "--conducta", "medio-cierre"}, respaldo, 10000);
        }
        Modelada("modelled network printer that half-closes each connection after its first answer (--conducta "
                 "medio-cierre-tarde)",
                 {"--velocidad", "5000", "--conducta", "medio-cierre-tarde"}, false, 10000);
        // With ConfirmarRecepcionRed=0 its jobs are not confirmed: each prints
        // once on it. Unconfirmed, the job in its buffer would be lost when
        // the row ends by killing it: COM1 goes back to the serial printer
        // first, and the modelled printer is given the time to print it.
        const auto sinConfirmar = [&](const char* valor) {
            CambiarAjuste(*m_uno, QStringLiteral("Cola"), QStringLiteral("ConfirmarRecepcionRed"),
                          QLatin1StringView(valor));
        };
        Modelada("modelled network printer that half-closes each connection (--conducta medio-cierre) with "
                 "ConfirmarRecepcionRed=0",
                 {"--velocidad", "5000", "--conducta", "medio-cierre"}, false, 0, [&] {
                     sinConfirmar("0");
                     Pasar(10000);
                     CambiarCom1(*m_uno, m_serieUno->Enlace());
                     Pasar(3000);
                 });
        sinConfirmar("1");
        // Terminal 1's printer as a USB printer at 1,000 B/s whose device
        // goes away in the middle of its jobs, with no backup, and comes back.
        Falla("modelled USB printer gone mid-job, without backup", {0}, [&] {
            Respaldo(false);
            m_serieUno->Matar();
            m_serieUno->Iniciar(18, {"--velocidad", "1000"});
            CambiarCom1(*m_uno, QStringLiteral("usb:") + m_serieUno->Enlace());
            Pasar(6000);
            m_serieUno->Matar();
            Pasar(4000);
            m_serieUno->Iniciar();
            CambiarCom1(*m_uno, m_serieUno->Enlace());
            Respaldo(true);
        });
        // A serial printer switched off behind its adapter: the line takes
        // the bytes and nothing answers. ConfirmarRecepcion=1 on both terminals.
        for (bool respaldo : {true, false}) {
            Falla(QStringLiteral("modelled serial printer switched off, ") +
                      (respaldo ? QStringLiteral("with backup") : QStringLiteral("without backup")),
                  {0, 2}, [&] {
                      Respaldo(respaldo);
                      m_serieUno->Matar();
                      m_serieUno->Iniciar(18, {"--apagada"});
                      Pasar(10000);
                      m_serieUno->Matar();
                      m_serieUno->Iniciar();
                      Respaldo(true);
                  });
        }
        // Terminal 1 dies holding a claim; another program shares its network
        // printer; printers that confirm late once, or only by DLE EOT, lose
        // power. These printers serve one connection at a time, as network
        // printers do.
        TerminalCaida(false);
        TerminalCaida(true);
        OtroEmisor();
        const QStringList unaALaVez{"--escuchar", "127.0.0.1:0"};
        // The first GS r 1 is asked as the printer is put in place; the power
        // cuts come after its late answer.
        Modelada("modelled network printer whose GS r answer comes 15 s late once, then loses power (--gsr-tarde 15 "
                 "--cortes 20:1.5)",
                 QStringList{"--velocidad", "2500", "--gsr-tarde", "15", "--cortes", "20:1.5"} + unaALaVez, false,
                 42000);
        Modelada("modelled DLE-EOT-only network printer losing power every 4 s (--sin-orden --cortes 4:1.5)",
                 QStringList{"--velocidad", "2500", "--sin-orden", "--cortes", "4:1.5"} + unaALaVez, false, 15000);
        // Terminal 1's COM1 in Star mode while the row runs: the job lines
        // are the same text, Star's commands around them.
        const auto modoCom1 = [&](const char* modo) {
            CambiarAjuste(*m_uno, QStringLiteral("COM1"), QStringLiteral("Modo"), QLatin1StringView(modo));
        };
        Modelada("modelled Star network printer losing power every 4 s (--modo S --cortes 4:1.5)",
                 QStringList{"--modo", "S", "--velocidad", "2500", "--cortes", "4:1.5"} + unaALaVez, false, 0, [&] {
                     modoCom1("S");
                     Pasar(15000);
                     CambiarCom1(*m_uno, m_serieUno->Enlace());
                     modoCom1("E");
                 });
        FilasHostiles();
        Vencidos();
        // The restore race on two terminals goes here.
    }
    const bool carrera =
        m_parte == 0 && (m_solo.isEmpty() || QStringLiteral("the restore race on two terminals").contains(m_solo));
    const int perdidosCarrera =
        carrera ? CarreraRestablecer(*m_serieUno, *m_serieDos, [this](qint64 ms) { Pasar(ms); }) : 0;
    const bool drenada = Drenar();
    Informar();
    const QString bitacoras = m_uno->Bitacora() + m_dos->Bitacora();
    if (const QString destino = qEnvironmentVariable("ORLAN_FALLAS_BITACORAS"); !destino.isEmpty()) {
        // Kept for whoever explains a row: the run's folder goes with it.
        for (const auto& [nombre, terminal] : {std::pair{"uno", m_uno.get()}, std::pair{"dos", m_dos.get()}}) {
            QFile archivo(destino + QStringLiteral("/bitacora-%1.txt").arg(QLatin1StringView(nombre)));
            if (archivo.open(QIODevice::WriteOnly)) {
                archivo.write(terminal->Bitacora().toUtf8());
            }
        }
    }
    std::fprintf(stderr, "en las bitacoras: %lld ticks terminados por tiempo agotado, %lld conexiones fallidas\n",
                 static_cast<long long>(bitacoras.count("Cola Impresion, Tiempo de espera agotado")),
                 static_cast<long long>(bitacoras.count("Cola Impresion, sin conexion con la base de datos")));
    const bool vivos = m_uno->Corriendo() && m_dos->Corriendo();
    m_uno->Detener();
    m_dos->Detener();
    int perdidos = m_perdidos + perdidosCarrera;
    for (const Fila& f : m_filas) {
        perdidos += f.perdidos;
    }
    if (perdidos > 0) {
        // What the servers said of confirmations: how a job could leave the
        // queue without being printed.
        for (const QString& linea : bitacoras.split(u'\n')) {
            if (linea.contains(QStringLiteral("GS r 1")) || linea.contains(QStringLiteral("no confirmo"))) {
                std::fprintf(stderr, "%s\n", qPrintable(linea));
            }
        }
    }
    if (!drenada) {
        std::fprintf(stderr, "la cola no se vacio: %s\n", qPrintable(Lista("SELECT IdTrabajo FROM ColaImpresion")));
    }
    if (!vivos) {
        std::fprintf(stderr, "un servidor termino solo:\n%s\n%s\n", qPrintable(m_uno->Salida()),
                     qPrintable(m_dos->Salida()));
    }
    return perdidos == 0 && drenada && vivos && m_fallasHostiles == 0 && m_fallasVencidos == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QStringLiteral("--escritor")) {
        return Escritor(args.value(2).toInt());
    }
    int repeticiones = 3;
    if (args.contains(QStringLiteral("--corto"))) {
        repeticiones = 1;
    } else if (const qsizetype i = args.indexOf(QStringLiteral("--repeticiones")); i > 0) {
        repeticiones = std::max(1, args.value(i + 1).toInt());
    }
    const qsizetype solo = args.indexOf(QStringLiteral("--solo"));
    int parte = 1;
    int partes = 1;
    if (const qsizetype i = args.indexOf(QStringLiteral("--parte")); i > 0) {
        const QStringList kn = args.value(i + 1).split(u'/');
        parte = kn.value(0).toInt();
        partes = kn.value(1).toInt();
        if (kn.size() != 2 || partes < 1 || parte < 1 || parte > partes) {
            std::fprintf(stderr, "--parte K/N: 1 <= K <= N\n");
            return 2;
        }
    }
    return Matriz(repeticiones, solo > 0 ? args.value(solo + 1) : QString(), parte - 1, partes).Correr();
}
