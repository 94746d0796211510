#include "PruebaCola.h"
#include "testsupport/Recibos.h"
#include "testsupport/TiendaPropia.h"

#include <QProcess>

namespace {

// orlan-admin on this test's settings; its exit status.
int Admin(const QStringList& argumentos) {
    QProcess proceso;
    proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/orlan-admin/orlan-admin"), argumentos);
    proceso.waitForFinished(60000);
    return proceso.exitStatus() == QProcess::NormalExit ? proceso.exitCode() : -1;
}

// A FechaHora `minutos` from the database's now, in the form its default
// writes it (UTC text on SQLite, the session's local time on PostgreSQL).
QString Hace(int minutos) {
    return kMotor == Motor::Sqlite ? QStringLiteral("datetime('now', '%1 minutes')").arg(-minutos)
                                   : QStringLiteral("LOCALTIMESTAMP - interval '%1 minutes'").arg(minutos);
}

} // namespace

// [Cola] EdadMaxima=1 on a printer that takes every job: the job written two
// minutes ago is set aside unprinted and logged, the fresh one, the one
// without a time, the one written in the future and the one whose time
// cannot be read print. Put back with orlan-admin reintentar, the old job
// prints once and is not set aside again.
TEST_F(PruebaCola, JobsOlderThanEdadMaximaAreSetAsideAndPrintOncePutBack) {
    const bool sqlite = kMotor == Motor::Sqlite;
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 0);
    for (int id = 1; id <= (sqlite ? 5 : 4); ++id) {
        InsertarTrabajo(id, 1, Marcado(id));
    }
    Ejecutar("UPDATE ColaImpresion SET FechaHora = " + Hace(2) + " WHERE IdTrabajo = 1");
    Ejecutar("UPDATE ColaImpresion SET FechaHora = NULL WHERE IdTrabajo = 3");
    Ejecutar("UPDATE ColaImpresion SET FechaHora = " + Hace(-10) + " WHERE IdTrabajo = 4");
    if (sqlite) {
        Ejecutar("UPDATE ColaImpresion SET FechaHora = 'ayer' WHERE IdTrabajo = 5");
    }

    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Ajuste("Cola", "EdadMaxima", "1");
    terminal.Iniciar();
    EXPECT_TRUE(Esperar([&] { return Trabajos() == "1"; }, 30)) << terminal.Bitacora().toStdString();
    EXPECT_EQ(Lista("SELECT Escribiendo FROM ColaImpresion WHERE IdTrabajo = 1"), "2");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM DetalleColaImpresion WHERE IdTrabajo = 1"), "4");
    EXPECT_FALSE(terminal.CapturaLpt().contains("Trabajo 000001"));
    const QString apartado = "Cola Impresion, trabajo 1 de la impresora 1 (LPT1) apartado sin imprimir: espero 2 "
                             "minutos, mas que EdadMaxima (1)";
    EXPECT_EQ(terminal.Bitacora().count(apartado), 1) << terminal.Bitacora().toStdString();

    ASSERT_EQ(Admin({"reintentar", "1"}), 0);
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 30)) << terminal.Bitacora().toStdString();
    EXPECT_EQ(terminal.Detener(), 0) << terminal.Salida().toStdString();

    const Recibos recibos = ContarRecibos({terminal.CapturaLpt()});
    QMap<int, int> esperados{{1, 1}, {2, 1}, {3, 1}, {4, 1}};
    if (sqlite) {
        esperados.insert(5, 1);
    }
    EXPECT_EQ(recibos.enteros, esperados);
    EXPECT_TRUE(recibos.parciales.isEmpty());
    const QString bitacora = terminal.Bitacora();
    EXPECT_EQ(bitacora.count(apartado), 1) << bitacora.toStdString();
    EXPECT_EQ(bitacora.count("apartado sin imprimir"), 1) << bitacora.toStdString();
    if (sqlite) {
        EXPECT_EQ(bitacora.count("Cola Impresion, fila no valida en ColaImpresion ('5'): FechaHora 'ayer' no es una "
                                 "fecha y hora; se imprime sin mirar su edad"),
                  1)
            << bitacora.toStdString();
    }
}

// A shop's own table without FechaHora: EdadMaxima says once that it cannot
// work and sets nothing aside, and a job set aside otherwise still goes back
// with orlan-admin reintentar and prints.
class PruebaColaSinFecha : public PruebaCola {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bd.Preparar(false)) << m_bd.Error().toStdString();
        ASSERT_TRUE(Conectar());
        CrearTablasTienda(kMotor);
        Ejecutar("ALTER TABLE ColaImpresion DROP COLUMN FechaHora");
    }
};

TEST_F(PruebaColaSinFecha, EdadMaximaSaysOnceItCannotWorkAndJobsStillPrint) {
    InsertarTerminales({1});
    Ejecutar("INSERT INTO Impresora VALUES (1, 1, 'LPT1', 'E', 'Caja', NULL, 1, 'A', 0)");
    InsertarTrabajo(1, 1, Marcado(1));
    InsertarTrabajo(2, 1, Marcado(2));
    Ejecutar("UPDATE ColaImpresion SET Escribiendo = 2 WHERE IdTrabajo = 2");

    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Ajuste("Cola", "EdadMaxima", "1");
    terminal.Iniciar();
    EXPECT_TRUE(Esperar([&] { return Trabajos() == "2"; }, 30)) << terminal.Bitacora().toStdString();
    ASSERT_EQ(Admin({"reintentar", "2"}), 0);
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 30)) << terminal.Bitacora().toStdString();
    EXPECT_EQ(terminal.Detener(), 0) << terminal.Salida().toStdString();

    EXPECT_EQ(ContarRecibos({terminal.CapturaLpt()}).enteros, (QMap<int, int>{{1, 1}, {2, 1}}));
    const QString bitacora = terminal.Bitacora();
    EXPECT_EQ(bitacora.count("Cola Impresion, la tabla ColaImpresion no tiene la columna FechaHora: EdadMaxima no "
                             "aparta ningun trabajo"),
              1)
        << bitacora.toStdString();
    EXPECT_FALSE(bitacora.contains("Cola Impresion, no se pudo")) << bitacora.toStdString();
}
