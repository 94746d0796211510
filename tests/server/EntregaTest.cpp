#include "database/PruebaBaseDatos.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "impresora-virtual/ImpresoraTcp.h"
#include "platform/Ajustes.h"
#include "server/ServidorCola.h"
#include "testsupport/DatosCola.h"

#include <QElapsedTimer>
#include <QThread>

// What the printer holds once nothing has arrived for a second: every byte
// the ticks sent, a late copy among them, is in by then.
static QByteArray Callada(ImpresoraVirtual& impresora) {
    QByteArray visto = impresora.Recibidos();
    QElapsedTimer quieta;
    quieta.start();
    for (int vuelta = 0; vuelta < 600 && quieta.elapsed() < 1000; ++vuelta) {
        QThread::msleep(50);
        const QByteArray ahora = impresora.Recibidos();
        if (ahora.size() != visto.size()) {
            visto = ahora;
            quieta.restart();
        }
    }
    return visto;
}

// Terminal 1 with network printers on COM ports and a parallel printer,
// printer 2 on LPT1, that is every network printer's backup.
class EntregaRed : public PruebaBaseDatos {
protected:
    void SetUp() override {
        PruebaBaseDatos::SetUp();
        InstalarPuerto();
        InsertarTerminales({1});
        InsertarImpresora(2, 1, 0);
        m_servidor = std::make_unique<ServidorCola>(1);
        m_servidor->EstablecerActivo(true);
    }
    void TearDown() override {
        m_servidor.reset();
        PruebaBaseDatos::TearDown();
    }

    // Printer `id` on port COMn, leading to `destino`.
    void Red(int id, int n, const QString& destino) {
        InsertarImpresora(id, 1, 2, "'A'", QStringLiteral("COM%1").arg(n));
        Ajustes::Guardar("ORLAN", "Puertos", QStringLiteral("COM%1").arg(n), destino);
        Ajustes::Guardar("ORLAN", QStringLiteral("COM%1").arg(n), "Nombre", QStringLiteral("Impresora %1").arg(id));
    }

    std::unique_ptr<ServidorCola> m_servidor;
};

// One takes the connection and never reads, the other answers ready and then
// restarts at the next request (the probe for GS r 1), losing what it took:
// neither ever prints, so no job may be deleted. A job one did not confirm
// is not sent to it again, and the one that dropped its connection gets
// nothing: their jobs go to the backup at once.
TEST_F(EntregaRed, JobsAPrinterDoesNotConfirmStayQueuedThenGoToTheBackup) {
    ImpresoraTcp sorda;
    sorda.EstablecerConducta(ImpresoraTcp::Conducta::NoLee);
    sorda.Iniciar();
    ImpresoraTcp reinicia;
    reinicia.EstablecerConducta(ImpresoraTcp::Conducta::ReiniciaTrasListo);
    reinicia.Iniciar();
    Red(1, 1, sorda.Destino());
    Red(3, 2, reinicia.Destino());
    InsertarTrabajo(10, 1, {"diez"});
    InsertarTrabajo(11, 3, {"once"});
    InsertarTrabajo(12, 1, {"doce"});

    m_servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT IdTrabajo FROM ColaImpresion ORDER BY IdTrabajo"), "10,11,12");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM DetalleColaImpresion"), "3");
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora ORDER BY Id_Impresora"), "2F,2A,2P");
    // Once per printer: job 12 waited behind job 10's failure.
    EXPECT_EQ(Bitacora().count("la impresora no confirmo el trabajo 10 (1 de este trabajo, 1 seguidas"), 1);
    EXPECT_EQ(Bitacora().count("la impresora no confirmo el trabajo 11"), 0);
    EXPECT_EQ(Bitacora().count("la impresora no confirmo el trabajo 12"), 0);
    EXPECT_TRUE(
        Bitacora().contains("COLA IMPRESION: Impresora 3 (COM2 en " + reinicia.Destino() + "): se perdio la conexion"))
        << Bitacora().toStdString();
    EXPECT_FALSE(reinicia.Recibidos().contains("once"));

    // Job 10 went to a printer that took it and never confirmed it: it may
    // be on paper, and its copy on the backup says so. Jobs 11 and 12 were
    // never sent.
    m_servidor->Timer1_Timer();
    const QByteArray impreso = Tomar();
    EXPECT_EQ(impreso.count("*** COPIA: puede estar repetido ***"), 1) << impreso.toStdString();
    EXPECT_LT(impreso.indexOf("COPIA"), impreso.indexOf("diez"));
    EXPECT_TRUE(impreso.endsWith(ImpresoEpson("once") + ImpresoEpson("doce"))) << impreso.toStdString();
    EXPECT_TRUE(Bitacora().contains("trabajo 10 se imprime de nuevo marcado COPIA: la terminal 1 lo envio a una "
                                    "impresora que no confirmo haberlo impreso"))
        << Bitacora().toStdString();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");
}

// A printer that refuses the connection is failing: reported and redirected
// once, and not asked again for the rest of its queue in that tick.
TEST_F(EntregaRed, ADeadPrinterIsAskedOncePerTickWhateverItsQueue) {
    ImpresoraTcp apagada;
    const QString destino = apagada.Destino();
    apagada.Cerrar();
    Red(4, 3, destino);
    for (int id = 20; id < 25; ++id) {
        InsertarTrabajo(id, 4, {QString::number(id)});
    }
    m_servidor->Timer1_Timer();
    EXPECT_TRUE(Tomar().isEmpty());
    EXPECT_EQ(Bitacora().count("COLA IMPRESION: P 1"), 1);
    EXPECT_EQ(Bitacora().count("COLA IMPRESION: Impresora 4 (COM3 en " + destino + "): no se pudo abrir"), 1);
    EXPECT_EQ(Lista("SELECT Transaccion FROM Transacciones"),
              "UPDATE Impresora SET Redirigido = 2, Estado_Impresora='P' WHERE Id_Impresora=4");

    m_servidor->Timer1_Timer();
    EXPECT_EQ(Tomar(),
              ImpresoEpson("20") + ImpresoEpson("21") + ImpresoEpson("22") + ImpresoEpson("23") + ImpresoEpson("24"));
}

// A printer that prints but never answers, without a backup: each job is
// sent to it at most once until it shows a change; the printer is held in
// state "F" meanwhile, and prints on once it answers again.
TEST_F(EntregaRed, ASilentPrinterWithoutABackupGetsEachJobOnceUntilItAnswers) {
    ImpresoraTcp muda;
    muda.EstablecerRespuesta(ImpresoraVirtual::kSilencio);
    muda.Iniciar();
    InsertarImpresora(5, 1, 0, "'A'", "COM3");
    Ajustes::Guardar("ORLAN", "Puertos", "COM3", muda.Destino());
    InsertarTrabajo(30, 5, {"treinta"});
    InsertarTrabajo(31, 5, {"treinta y uno"});
    for (int tick = 1; tick <= 3; ++tick) {
        m_servidor->Timer1_Timer();
    }
    QByteArray impreso = Callada(muda);
    EXPECT_EQ(impreso.count("treinta"), 1) << "one copy, not one a tick";
    EXPECT_EQ(Lista("SELECT IdTrabajo FROM ColaImpresion ORDER BY IdTrabajo"), "30,31");
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora WHERE Id_Impresora = 5"), "5F");
    EXPECT_EQ(Bitacora().count("impresora 5 (COM3) sin respaldo"), 1) << Bitacora().toStdString();
    // Said once, where the panel and orlan-admin read it.
    EXPECT_TRUE(
        Lista("SELECT Falla FROM Impresora WHERE Id_Impresora = 5").startsWith("no confirmo el trabajo: no contesto"))
        << Lista("SELECT Falla FROM Impresora WHERE Id_Impresora = 5").toStdString();
    EXPECT_EQ(Bitacora().count("impresora 5 (COM3) no puede imprimir"), 1) << Bitacora().toStdString();

    // It answers again: its jobs print and it is "A" again.
    muda.EstablecerRespuesta(18);
    m_servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora WHERE Id_Impresora = 5"), "5A");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM Impresora WHERE Falla IS NOT NULL"), "0");
    EXPECT_TRUE(m_servidor->Fallas().isEmpty());
    impreso = Callada(muda);
    EXPECT_EQ(impreso.count("treinta y uno"), 1);
}

// With ConfirmarRecepcion=1, a serial printer that answered and is silent now
// was switched off behind its adapter, which still takes the bytes: its jobs
// go to the backup instead of into the void.
TEST_F(EntregaRed, ASwitchedOffSerialPrinterIsFailingWhenJobsAreConfirmed) {
    Ajustes::Guardar("ORLAN", "Cola", "ConfirmarRecepcion", "1");
    ImpresoraPty serie;
    serie.Iniciar();
    InsertarImpresora(6, 1, 2, "'A'", "COM4");
    Ajustes::Guardar("ORLAN", "Puertos", "COM4", serie.Ruta());
    InsertarTrabajo(40, 6, {"cuarenta"});
    m_servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");

    serie.EstablecerRespuesta(ImpresoraVirtual::kSilencio);
    InsertarTrabajo(41, 6, {"cuarenta y uno"});
    m_servidor->Timer1_Timer();
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora WHERE Id_Impresora = 6"), "2F");
    m_servidor->Timer1_Timer();
    EXPECT_EQ(Tomar(), ImpresoEpson("cuarenta y uno"));
    EXPECT_EQ(serie.Recibidos().count("cuarenta y uno"), 0);
    EXPECT_TRUE(Bitacora().contains("impresora 6 (COM4) respondia y ya no contesta")) << Bitacora().toStdString();
}
