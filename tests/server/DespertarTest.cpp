#include "database/PruebaBaseDatos.h"
#include "platform/Ajustes.h"
#include "server/ServidorCola.h"
#include "testsupport/DatosCola.h"

#include "testsupport/Procesos.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// [Cola] Despertar=1 on a real backend. The 2-s timer is stopped, so a job
// that prints was brought by the database's own notice.
class Despertar : public PruebaBaseDatos {
protected:
    void SetUp() override {
        PruebaBaseDatos::SetUp();
        InstalarPuerto();
        InsertarTerminales({1, 2});
        InsertarImpresora(1, 1, 2);
        InsertarImpresora(2, 2, 1);
        Ajustes::Guardar("ORLAN", "Cola", "Despertar", "1");
        m_servidor = std::make_unique<ServidorCola>(1);
        m_servidor->Timer1().stop();
        ASSERT_TRUE(m_servidor->Cargar());
        m_servidor->Timer1().stop();
    }
    void TearDown() override {
        m_servidor.reset();
        PruebaBaseDatos::TearDown();
    }
    // Lets the event loop run until the printer got `esperado` (a few seconds
    // at most); what it got.
    QByteArray Recibir(const QByteArray& esperado) {
        QByteArray recibido;
        ::Esperar(
            [&] {
                recibido += Tomar();
                return recibido.size() >= esperado.size();
            },
            8);
        Pausa(0.05);
        return recibido + Tomar();
    }
    // Until the server listens: on PostgreSQL its connection has run LISTEN.
    static void EsperarEscucha() {
        if (kMotor == Motor::PostgreSql) {
            ::Esperar(
                [] {
                    return Lista("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = 'orlan-cola escucha' "
                                 "AND state = 'idle' AND query LIKE 'LISTEN%' AND datname = current_database()") == "1";
                },
                8);
        }
    }
    static void Pausa(double segundos) {
        ::Esperar([] { return false; }, segundos);
    }
    std::unique_ptr<ServidorCola> m_servidor;
};

TEST_F(Despertar, AReleasedJobPrintsWithoutWaitingForThePoll) {
    EsperarEscucha();
    // Written as a till does: header being written, lines, then released.
    InsertarTrabajo(1, 1, {"uno"});
    EXPECT_EQ(Recibir(ImpresoEpson("uno")), ImpresoEpson("uno"));
    InsertarTrabajo(2, 1, {"dos"}, true);
    Pausa(0.2);
    EXPECT_TRUE(Tomar().isEmpty()); // still being written
    Ejecutar("UPDATE ColaImpresion SET Escribiendo = 0 WHERE IdTrabajo = 2");
    EXPECT_EQ(Recibir(ImpresoEpson("dos")), ImpresoEpson("dos"));

    // Terminal 2's printer fails over to ours: its job comes at once.
    InsertarTrabajo(3, 2, {"tres"});
    Pausa(0.2);
    EXPECT_TRUE(Tomar().isEmpty());
    Ejecutar("UPDATE Impresora SET Redirigido = 1 WHERE Id_Impresora = 2");
    EXPECT_EQ(Recibir(ImpresoEpson("tres")), ImpresoEpson("tres"));
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
}

// While every change is reported and nothing waits, the poll is a safety net
// run every 30 s; a job left waiting, or notifications that stop, bring the
// 2-s poll back.
TEST_F(Despertar, WhileChangesAreReportedThePollStretches) {
    EsperarEscucha();
    QTimer& timer = m_servidor->Timer1();
    timer.start(2000);
    // Once this end has read its LISTEN's answer.
    EXPECT_TRUE(::Esperar(
        [&] {
            m_servidor->Timer1_Timer();
            return timer.interval() == 30000;
        },
        8));
    InsertarTrabajo(1, 1, {"<S>abierta"}); // ends every tick that reaches it
    m_servidor->Timer1_Timer();
    EXPECT_EQ(timer.interval(), 2000);
    Ejecutar("DELETE FROM DetalleColaImpresion");
    Ejecutar("DELETE FROM ColaImpresion");
    m_servidor->Timer1_Timer();
    EXPECT_EQ(timer.interval(), 30000);
    if (kMotor == Motor::PostgreSql) {
        EXPECT_EQ(Lista("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
                        "'orlan-cola escucha' AND datname = current_database()"),
                  "1");
        EXPECT_TRUE(::Esperar([&] { return timer.interval() == 2000; }, 8));

        // A database without the notifying triggers reports nothing: polled
        // every 2 s, as the log says.
        Ejecutar("DROP TRIGGER orlan_trabajo_liberado ON ColaImpresion");
        m_servidor = std::make_unique<ServidorCola>(1);
        ASSERT_TRUE(m_servidor->Cargar());
        EsperarEscucha();
        for (int i = 0; i < 5; ++i) {
            Pausa(0.1);
            m_servidor->Timer1_Timer();
        }
        EXPECT_EQ(m_servidor->Timer1().interval(), 2000);
        EXPECT_TRUE(Bitacora().contains("no tiene los disparadores de Despertar")) << Bitacora().toStdString();
        for (const QString& sentencia : SentenciasDespertar(Motor::PostgreSql)) {
            Ejecutar(sentencia);
        }
    }
    Tomar();
}

#ifdef ORLAN_PRUEBA_POSTGRESQL
// A printer's backlog does not hold another printer's job: released while
// the tick works through the backlog, the other job prints next, and each
// printer's jobs keep their order. A job for another terminal's printer
// costs the tick nothing: two statements a job, the job query taken again
// once, and the header sweep.
TEST_F(Despertar, AJobForAnIdlePrinterIsNotHeldBehindAnothersBacklog) {
    InsertarImpresora(3, 1, 0);
    m_servidor = std::make_unique<ServidorCola>(1);
    ASSERT_TRUE(m_servidor->Cargar());
    m_servidor->Timer1().stop();
    EsperarEscucha();
    InsertarTrabajo(90, 3, {"primero"});
    m_servidor->Timer1_Timer(); // the first job also asks which of the server's own tables exist
    for (int id = 1; id <= 20; ++id) {
        InsertarTrabajo(id, 1, {QString("cola %1").arg(id)});
    }
    QList<qint64> orden;
    qint64 ajenas = 0; // the statements of the writes below
    QObject::connect(m_servidor.get(), &ServidorCola::TrabajoImpreso, [&](qint64 id) {
        orden << id;
        const qint64 antes = Conexion::Instancia().Sentencias();
        if (id == 2) {
            InsertarTrabajo(100, 3, {"otra impresora"});
        } else if (id == 5) {
            InsertarTrabajo(101, 2, {"de la terminal 2"});
        }
        ajenas += Conexion::Instancia().Sentencias() - antes;
        if (id == 2 || id == 5) {
            QThread::msleep(500); // the notice reaches the listening connection
        }
    });
    const qint64 antes = Conexion::Instancia().Sentencias();
    m_servidor->Timer1_Timer();
    EXPECT_EQ(Conexion::Instancia().Sentencias() - antes - ajenas, 2 * orden.size() + 3);
    QList<qint64> esperado{1, 2, 100};
    for (int id = 3; id <= 20; ++id) {
        esperado << id;
    }
    EXPECT_EQ(orden, esperado);
    Tomar();
}

// The listening connection is killed while jobs flow: that is logged once, the
// connection comes back by itself, and no job is lost or printed twice.
// Any role may send the notice in a loop: the server runs a few ticks a
// second, not one per notice, and a job released meanwhile still prints.
TEST_F(Despertar, AFloodOfWakeUpsRunsAFewTicks) {
    const qint64 antes = m_servidor->Ticks();
    QElapsedTimer reloj;
    reloj.start();
    int avisos = 0;
    while (!reloj.hasExpired(1000)) {
        m_servidor->Despertar();
        ++avisos;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    const qint64 ticks = m_servidor->Ticks() - antes;
    EXPECT_GE(ticks, 1);
    EXPECT_LE(ticks, 30) << avisos << " avisos";
    InsertarTrabajo(70, 1, {"tras la rafaga"});
    m_servidor->Despertar();
    EXPECT_EQ(Recibir(ImpresoEpson("tras la rafaga")), ImpresoEpson("tras la rafaga"));
}

TEST_F(Despertar, AKilledListenerComesBackAndLosesNothing) {
    EsperarEscucha();
    const QString matar = "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                          "WHERE application_name = 'orlan-cola escucha' AND datname = current_database()";
    QByteArray esperado;
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(Lista(matar), "1");
        InsertarTrabajo(i, 1, {QString("trabajo %1").arg(i)});
        esperado += ImpresoEpson(QString("trabajo %1").arg(i).toUtf8());
        ::Esperar([&] { return Bitacora().count("restablecida") == i; }, 8);
        EsperarEscucha();
    }
    // Each reconnection runs a tick for what came meanwhile.
    EXPECT_EQ(Recibir(esperado), esperado);
    EXPECT_EQ(Bitacora().count("Cola Impresion, sin escucha de avisos de la base de datos"), 3)
        << Bitacora().toStdString();
    // And the notices flow again.
    InsertarTrabajo(9, 1, {"nueve"});
    EXPECT_EQ(Recibir(ImpresoEpson("nueve")), ImpresoEpson("nueve"));

    // The triggers can be added again to a database that has them; a writer
    // sees no difference.
    for (const QString& s : SentenciasDespertar(Motor::PostgreSql)) {
        Ejecutar(s);
    }
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM pg_trigger WHERE tgname LIKE 'orlan_%'"), "3");
}
#endif
