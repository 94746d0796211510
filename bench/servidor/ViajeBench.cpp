#include "Figura.h"
#include "TerminalBench.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "ports/PuertoES.h"
#include "ports/PuertoSimulado.h"
#include "server/ServidorCola.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/CajaDirecta.h"
#include "testsupport/EnlaceLento.h"
#include "testsupport/ServidorPostgres.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <vector>

// A database far away (a VPN to a central server, a cloud database): the
// terminal's connections, the queries' and the listening one, go through a
// proxy that delays each direction by half the round trip. The till that
// writes the jobs sits next to the database. With [Cola] Despertar=1, at
// each round-trip time: statements a job, a 100-job burst, release to first
// byte, and (at 50 ms) the statements an idle terminal sends in a minute.

namespace {

constexpr int kRafaga = 100;
constexpr int kMuestras = 20;
constexpr int kRtts[] = {0, 10, 50, 100};
const QStringList kRenglones{"Ticket", "1 Tacos al pastor       45.00", "<B>TOTAL 45.00</B>"};

// The simulated parallel port, and when its data register was first written
// since the last Reiniciar: the moment the printer gets the job's first byte,
// which the tick's later statements do not delay.
class PuertoCronometrado final : public PuertoES {
public:
    explicit PuertoCronometrado(std::unique_ptr<PuertoSimulado> puerto) : m_puerto(std::move(puerto)) {}
    int read8(quint16 direccion) override { return m_puerto->read8(direccion); }
    bool write8(quint16 direccion, quint8 valor) override {
        if (direccion == m_puerto->Base() && !m_primero.isValid()) {
            m_primero.start();
        }
        return m_puerto->write8(direccion, valor);
    }
    QString Error() const override { return m_puerto->Error(); }
    void Vaciar() override { m_puerto->Vaciar(); }

    void Reiniciar() { m_primero.invalidate(); }
    bool Escrito() const { return m_primero.isValid(); }
    // Nanoseconds since the first byte.
    qint64 Desde() const { return m_primero.nsecsElapsed(); }

private:
    std::unique_ptr<PuertoSimulado> m_puerto;
    QElapsedTimer m_primero;
};

// Runs the event loop until `condicion` holds or `ms` pass; whether it held.
template <typename F> bool Girar(F&& condicion, qint64 ms) {
    QElapsedTimer reloj;
    reloj.start();
    while (!condicion()) {
        if (reloj.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::usleep(200);
    }
    return true;
}

int Medir(TerminalBench& terminal) {
    terminal.AltaImpresoras();
    Ajustes::Guardar("ORLAN", "Cola", "Despertar", "1");
    PuertoSimulado::Opciones opciones;
    opciones.archivos = false;
    opciones.memoria = false;
    auto propio = std::make_unique<PuertoCronometrado>(std::make_unique<PuertoSimulado>(opciones));
    PuertoCronometrado& puerto = *propio;
    PuertoES::Establecer(std::move(propio));
    CajaDirecta caja(terminal.BaseDatos());
    if (!caja.Lista()) {
        std::fprintf(stderr, "la caja no se conecto\n");
        return 1;
    }
    EnlaceLento enlace(ServidorPostgres::Compartido().DirectorioSocket() + "/.s.PGSQL.5432", 0);
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "127.0.0.1");
    Ajustes::Guardar("ORLAN", "Configuracion", "Puerto", QString::number(enlace.Puerto()));
    if (enlace.Puerto() == 0 || !Conectar()) {
        std::fprintf(stderr, "sin conexion por el enlace\n");
        return 1;
    }
    ServidorCola servidor(1);
    if (!servidor.Cargar()) {
        std::fprintf(stderr, "Cargar fallo\n");
        return 1;
    }
    Girar([] { return false; }, 500); // the listening connection
    int siguiente = 1;
    for (const int rtt : kRtts) {
        enlace.EstablecerRetardo(rtt / 2);
        const std::string donde = " (PostgreSQL, " + std::to_string(rtt) + " ms round trip)";

        // A burst released at once, served by one tick.
        servidor.Timer1().stop();
        for (int i = 0; i < kRafaga; ++i) {
            caja.Liberar(siguiente++, kRenglones);
        }
        const qint64 viajes = enlace.Viajes();
        QElapsedTimer reloj;
        reloj.start();
        servidor.Timer1_Timer();
        const double segundos = reloj.nsecsElapsed() / 1e9;
        const double porTrabajo = static_cast<double>(enlace.Viajes() - viajes) / kRafaga;
        // Two a job, and the tick's job query and header sweep.
        ImprimirFigura("round trips a job in a 100-job burst" + donde, porTrabajo, "round trips", "goal",
                       2.0 + 2.0 / kRafaga, "round trips", MenosEsMejor::Si);
        ImprimirFigura("a 100-job burst" + donde, segundos, "s", "goal at 50 ms", 15.0, "s", MenosEsMejor::Si);

        // One job at a time: release to its first byte.
        servidor.Timer1().start(2000);
        Girar([] { return false; }, 300);
        std::vector<double> ms;
        for (int i = 0; i < kMuestras; ++i) {
            puerto.Reiniciar();
            caja.Liberar(siguiente++, kRenglones);
            QElapsedTimer desde;
            desde.start();
            if (!Girar([&] { return puerto.Escrito(); }, 35000)) {
                std::fprintf(stderr, "un trabajo no se imprimio\n");
                return 1;
            }
            ms.push_back((desde.nsecsElapsed() - puerto.Desde()) / 1e6);
            Girar([] { return false; }, 100 + rtt * 4); // its tick ends
        }
        ImprimirFigura("release to first byte, Despertar=1, p50" + donde, Mediana(ms), "ms", "goal at 50 ms", 150.0,
                       "ms", MenosEsMejor::Si);
        ImprimirFigura("release to first byte, Despertar=1, p99" + donde, Percentil(ms, 0.99), "ms",
                       "the 2-s poll alone", 2000.0, "ms", MenosEsMejor::Si);

        if (rtt == 50) {
            const qint64 antes = enlace.Viajes();
            Girar([] { return false; }, 60000);
            ImprimirFigura("idle round trips in a minute, Despertar=1" + donde,
                           static_cast<double>(enlace.Viajes() - antes), "round trips", "goal", 3.0, "round trips",
                           MenosEsMejor::Si);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return TerminalBench::Correr(Motor::PostgreSql, Medir);
}
