#include "Figura.h"
#include "Pisos.h"
#include "TerminalBench.h"
#include "database/BaseDatos.h"
#include "ports/PuertoES.h"
#include "ports/PuertoSimulado.h"
#include "server/ServidorCola.h"
#include "support/ErrorEjecucion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <algorithm>
#include <vector>

// The whole queue pipeline of one terminal (select, render, port, delete) on
// printers that take every byte at once: the simulated parallel port, bytes
// kept in memory only.

namespace {

constexpr int kTrabajos = 500;
constexpr int kRenglones = 30;
constexpr int kRondas = 5;
constexpr int kTicksVacios = 200;

// A serial printer at 9600 baud, 8N1: every byte is a start bit, 8 data bits
// and a stop bit, so the line carries 9600 / 10 = 960 bytes a second.
constexpr double kBytesPorSegundoSerie = 9600.0 / 10.0;

struct Platillo {
    const char* nombre;
    double precio;
};

const Platillo kCarta[] = {
    {"Tacos al pastor", 45.00},   {"Sopa de tortilla", 68.50}, {"Enchiladas suizas", 112.00},
    {"Chiles en nogada", 189.00}, {"Pozole rojo", 98.00},      {"Agua de jamaica", 32.00},
    {"Cafe de olla", 28.00},      {"Flan napolitano", 55.00},  {"Arrachera", 245.00},
    {"Quesadilla", 38.00},        {"Guacamole", 72.00},        {"Cerveza", 48.00},
    {"Mole poblano", 165.00},     {"Churros", 42.00},
};
constexpr int kPlatillos = sizeof(kCarta) / sizeof(kCarta[0]);

const char* const kMeseros[] = {"Juan Perez", "Ana Lopez", "Luis Garcia", "Maria Ruiz"};
const char* const kNotas[] = {"   sin cebolla", "   <B>SIN CHILE</B>", "   termino medio", "   para llevar"};

QString Separador() {
    return QString(40, u'-');
}

QString Columna(const QString& izquierda, double importe) {
    const QString derecha = QString::number(importe, 'f', 2);
    return izquierda.leftJustified(40 - derecha.size(), u' ', true) + derecha;
}

// A kitchen order: a heading, twelve dishes in double width each with a note,
// and a count.
QStringList Comanda(int numero) {
    QStringList r;
    r << QStringLiteral("<XH>COCINA</XH>")
      << QStringLiteral("<B>Orden %1</B>   Mesa %2").arg(numero).arg(numero % 30 + 1)
      << QStringLiteral("Mesero: %1   %2:%3")
             .arg(QString::fromLatin1(kMeseros[numero % 4]))
             .arg(12 + numero % 10)
             .arg(numero % 60, 2, 10, QChar(u'0'))
      << Separador();
    int platillos = 0;
    for (int i = 0; i < 12; ++i) {
        const int cantidad = 1 + (numero + i) % 3;
        platillos += cantidad;
        r << QStringLiteral("<H>%1 x %2</H>")
                 .arg(cantidad)
                 .arg(QString::fromLatin1(kCarta[(numero + i) % kPlatillos].nombre))
          << QString::fromLatin1(kNotas[(numero + i) % 4]);
    }
    r << Separador() << QStringLiteral("<B>Total platillos: %1</B>").arg(platillos);
    return r;
}

// A receipt: the shop's heading, fourteen items, the totals.
QStringList Ticket(int numero) {
    QStringList r;
    r << QStringLiteral("<H>RESTAURANTE LA PARROQUIA</H>") << QStringLiteral("Av. Juarez 123, Centro")
      << QStringLiteral("RFC PAR010101AB1") << QStringLiteral("Tel. 55 5555 0101") << Separador()
      << QStringLiteral("Ticket %1    Mesa %2").arg(numero, 6, 10, QChar(u'0')).arg(numero % 30 + 1)
      << QStringLiteral("Mesero: %1   05/12/2026").arg(QString::fromLatin1(kMeseros[numero % 4])) << Separador();
    double subtotal = 0;
    for (int i = 0; i < 14; ++i) {
        const Platillo& p = kCarta[(numero + i) % kPlatillos];
        const int cantidad = 1 + (numero + i) % 3;
        subtotal += cantidad * p.precio;
        r << Columna(QStringLiteral("%1 %2").arg(cantidad, 2).arg(QString::fromLatin1(p.nombre)), cantidad * p.precio);
    }
    const double total = subtotal * 1.16;
    const double efectivo = (static_cast<int>(total / 100) + 1) * 100.0;
    r << Separador() << Columna(QStringLiteral("Subtotal"), subtotal)
      << Columna(QStringLiteral("IVA 16%"), subtotal * 0.16)
      << QStringLiteral("<B>") + Columna(QStringLiteral("TOTAL"), total) + QStringLiteral("</B>")
      << Columna(QStringLiteral("Efectivo"), efectivo) << Columna(QStringLiteral("Cambio"), efectivo - total)
      << Separador() << QStringLiteral("<B>Gracias por su visita</B>");
    return r;
}

// Writes a job as a point-of-sale terminal does: the header with Escribiendo
// = -1, its lines, then Escribiendo = 0. Odd numbers are receipts for the
// cashier's printer, even numbers kitchen orders. The header and the lines go
// in one transaction (on SQLite every commit is a sync of the file, and the
// writing is not what is measured); the job is released by a statement of its
// own, as ever.
void Encolar(Conexion& conexion, int numero) {
    const bool ticket = numero % 2 != 0;
    const QString id = QString::number(numero);
    conexion.Ejecutar(QStringLiteral("BEGIN"));
    conexion.Ejecutar(QStringLiteral("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, "
                                     "id_impresora) VALUES (") +
                      id +
                      (ticket ? QStringLiteral(", 'R', 'caja', -1, 1)") : QStringLiteral(", 'C', 'caja', -1, 2)")));
    const QStringList renglones = ticket ? Ticket(numero) : Comanda(numero);
    for (int i = 0; i < renglones.size(); ++i) {
        conexion.Ejecutar(QStringLiteral("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (") +
                          id + u',' + QString::number(i + 1) + QStringLiteral(", '") + DuplicarComillas(renglones[i]) +
                          QStringLiteral("')"));
    }
    conexion.Ejecutar(QStringLiteral("COMMIT"));
    conexion.Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = 0 WHERE IDTrabajo=") + id);
}

qint64 Contar(Conexion& conexion, const char* tabla) {
    return conexion.Consultar(QStringLiteral("SELECT COUNT(*) FROM ") + QString::fromLatin1(tabla))
        ->Campo(0)
        .toLongLong();
}

int Medir(TerminalBench& terminal) {
    Conexion& conexion = Conexion::Instancia();
    terminal.AltaImpresoras();

    PuertoSimulado::Opciones opciones;
    opciones.archivos = false;
    PuertoSimulado& puerto = PuertoSimulado::Instalar(opciones);
    ServidorCola servidor(1);
    servidor.Timer1().stop(); // the ticks are driven from here
    if (!servidor.Cargar()) {
        std::fprintf(stderr, "Cargar fallo\n");
        return 1;
    }
    servidor.EstablecerActivo(true);

    qint64 bytes = 0;
    int ticks = 0;
    qint64 sentencias = 0; // sent by the ticks
    int siguiente = 1;
    // Rounds of kTrabajos jobs served by `cola`: the median jobs a second,
    // or a negative number when a round went wrong.
    const auto Rondas = [&](ServidorCola& cola) -> double {
        std::vector<double> porSegundo;
        for (int ronda = 0; ronda < kRondas; ++ronda) {
            for (int i = 0; i < kTrabajos; ++i) {
                Encolar(conexion, siguiente++);
            }
            if (Contar(conexion, "DetalleColaImpresion") != kTrabajos * kRenglones) {
                std::fprintf(stderr, "ronda %d: no se encolaron %d renglones\n", ronda + 1, kTrabajos * kRenglones);
                return -1;
            }
            puerto.LimpiarCaptura();
            qint64 ns = 0;
            // One tick serves every pending job; a second one is only needed if
            // the first left any behind.
            for (int intento = 0; intento < 3 && Contar(conexion, "ColaImpresion") > 0; ++intento) {
                QElapsedTimer reloj;
                const qint64 enviadas = conexion.Sentencias();
                reloj.start();
                cola.Timer1_Timer();
                ns += reloj.nsecsElapsed();
                sentencias += conexion.Sentencias() - enviadas;
                ++ticks;
            }
            if (Contar(conexion, "ColaImpresion") != 0 || Contar(conexion, "DetalleColaImpresion") != 0) {
                std::fprintf(stderr, "ronda %d: la cola no quedo vacia\n", ronda + 1);
                return -1;
            }
            bytes += puerto.Capturado().size();
            porSegundo.push_back(kTrabajos / (ns / 1e9));
        }
        return Mediana(porSegundo);
    };
    const double trabajosPorSegundo = Rondas(servidor);
    if (trabajosPorSegundo < 0) {
        return 1;
    }
    const double bytesPorTrabajo = static_cast<double>(bytes) / (kRondas * kTrabajos);
    bytes = 0;
    // Each statement is a round trip to a database on the network. Before
    // claims a job cost four: the printer's row, the lines, their delete and
    // the header cleanup.
    ImprimirFigura("statements a job (" + std::string(ORLAN_BENCH_MOTOR) + ", claims table)",
                   static_cast<double>(sentencias) / (kRondas * kTrabajos), "statements",
                   "a job served without claims, one cleanup a job", 4.0, "statements", MenosEsMejor::Si);
    sentencias = 0;
    const std::string motor = ORLAN_BENCH_MOTOR;
    const std::string figura = "jobs served per second (" + motor + ", median of " + std::to_string(kRondas) +
                               " rounds of " + std::to_string(kTrabajos) + " jobs x " + std::to_string(kRenglones) +
                               " lines, " + std::to_string(ticks) + " ticks in all)";
    ImprimirFigura(figura, trabajosPorSegundo, "jobs/s",
                   "9600-baud serial printer at " + std::to_string(static_cast<int>(bytesPorTrabajo + 0.5)) +
                       " bytes a job",
                   kBytesPorSegundoSerie / bytesPorTrabajo, "jobs/s");
    ImprimirFigura(figura, trabajosPorSegundo, "jobs/s", "floor", kPisoTrabajosPorSegundo, "jobs/s");
    ImprimirFigura(figura, trabajosPorSegundo, "jobs/s", "the pipeline before claims",
                   motor == "postgresql" ? kPisoSinReclamosPostgresql : kPisoSinReclamosSqlite, "jobs/s");

    // The same rounds on a shop's database without the claims table, where
    // each job is only checked: the claim's own cost is the difference.
    conexion.Ejecutar(QStringLiteral("DROP TABLE ReclamoTrabajo"));
    ServidorCola sinReclamos(1);
    sinReclamos.Timer1().stop();
    sinReclamos.EstablecerActivo(true);
    const double sinTabla = Rondas(sinReclamos);
    if (sinTabla < 0) {
        return 1;
    }
    ImprimirFigura("a job served and claimed in ReclamoTrabajo (" + motor + ")", 1000 / trabajosPorSegundo, "ms/job",
                   "the same job served with the check alone, no claims table", 1000 / sinTabla, "ms/job",
                   MenosEsMejor::Si);

    puerto.LimpiarCaptura();
    for (int i = 0; i < 20; ++i) {
        servidor.Timer1_Timer();
    }
    std::vector<double> ms;
    for (int i = 0; i < kTicksVacios; ++i) {
        QElapsedTimer reloj;
        reloj.start();
        servidor.Timer1_Timer();
        ms.push_back(reloj.nsecsElapsed() / 1e6);
    }
    if (!puerto.Capturado().isEmpty()) {
        std::fprintf(stderr, "un tick sobre la cola vacia imprimio algo\n");
        return 1;
    }
    ImprimirFigura("empty-queue tick (" + motor + ", median of " + std::to_string(kTicksVacios) + ")", Mediana(ms),
                   "ms", "floor", kPisoTickMs, "ms", MenosEsMejor::Si);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return TerminalBench::Correr(*MotorPorNombre(ORLAN_BENCH_MOTOR), Medir);
}
