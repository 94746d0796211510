#include "database/AvisoCambios.h"
#include "database/PruebaBaseDatos.h"
#include "platform/Ajustes.h"
#include "server/ServidorCola.h"
#include "testsupport/CajaDirecta.h"
#include "testsupport/DatosCola.h"
#include "testsupport/EnlaceLento.h"
#include "testsupport/Procesos.h"
#include "testsupport/ServidorPostgres.h"

#include <QElapsedTimer>
#include <QProcess>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

// The database on the other side of a network link that drops: the test's
// thread works in a network namespace of its own ("the till"), joined by a
// veth pair to another ("the back office") where a proxy forwards to the
// database's socket. Taking the back office's end down drops every packet
// in flight without a word, as a cable pulled or a VPN that stalls does.
namespace {

class Red {
public:
    Red() {
        m_propia = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const QString n = QString::number(getpid());
        m_caja = "orlan-caja-" + n;
        m_oficina = "orlan-oficina-" + n;
        m_vCaja = "oc" + n;
        m_vOficina = "oo" + n;
        m_lista =
            Ip({"netns", "add", m_caja}) && Ip({"netns", "add", m_oficina}) &&
            Ip({"link", "add", m_vCaja, "type", "veth", "peer", "name", m_vOficina}) &&
            Ip({"link", "set", m_vCaja, "netns", m_caja}) && Ip({"link", "set", m_vOficina, "netns", m_oficina}) &&
            Ip({"-n", m_caja, "addr", "add", "10.199.0.2/24", "dev", m_vCaja}) &&
            Ip({"-n", m_oficina, "addr", "add", "10.199.0.1/24", "dev", m_vOficina}) &&
            Ip({"-n", m_caja, "link", "set", m_vCaja, "up"}) && Ip({"-n", m_oficina, "link", "set", m_vOficina, "up"});
    }
    ~Red() {
        if (m_propia >= 0) {
            setns(m_propia, CLONE_NEWNET);
            close(m_propia);
        }
        Ip({"netns", "del", m_caja});
        Ip({"netns", "del", m_oficina});
    }
    bool Lista() const { return m_lista; }
    // This thread, and the threads it starts from now on, work in the till's
    // namespace or the back office's.
    bool EntrarCaja() { return Entrar(m_caja); }
    bool EntrarOficina() { return Entrar(m_oficina); }
    bool Cortar() { return Ip({"-n", m_oficina, "link", "set", m_vOficina, "down"}); }
    // Brings the link back after `segundos`, from a process of its own: the
    // test's thread may be held by the server's login then.
    bool ReanudarEn(int segundos) {
        return QProcess::startDetached(
            "sh", {"-c", QString("sleep %1; ip -n %2 link set %3 up").arg(segundos).arg(m_oficina, m_vOficina)});
    }

private:
    static bool Ip(const QStringList& argumentos) {
        QProcess ip;
        ip.start("ip", argumentos);
        return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
    }
    static bool Entrar(const QString& nombre) {
        const int fd = open(("/run/netns/" + nombre).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        const bool bien = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) {
            close(fd);
        }
        return bien;
    }

    int m_propia = -1;
    QString m_caja, m_oficina, m_vCaja, m_vOficina;
    bool m_lista = false;
};

} // namespace

class Enlace : public PruebaBaseDatos {};

// The link drops for 30 s while the terminal polls: the lost connection is
// noticed by the connection itself within seconds, not when the 30-s
// statement time-out runs out; a job released meanwhile prints once the link
// is back, once.
TEST_F(Enlace, ADroppedLinkIsNoticedInSecondsAndPrintingResumesWhenItReturns) {
    InstalarPuerto();
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 0);
    CajaDirecta escritor(ValorCadenaConexion(Conexion::Instancia().Cadena(), "database"));
    ASSERT_TRUE(escritor.Lista());

    Red red;
    ASSERT_TRUE(red.Lista());
    ASSERT_TRUE(red.EntrarOficina());
    EnlaceLento enlace(ServidorPostgres::Compartido().DirectorioSocket() + "/.s.PGSQL.5432", 0, "10.199.0.1");
    ASSERT_TRUE(red.EntrarCaja());
    ASSERT_NE(enlace.Puerto(), 0);
    // A statement time-out longer than the drop: only the link's own
    // detection can end the statement while the link is down.
    Ajustes::Guardar("ORLAN", "Configuracion", "TiempoConsulta", "120");
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "10.199.0.1");
    Ajustes::Guardar("ORLAN", "Configuracion", "Puerto", QString::number(enlace.Puerto()));
    ASSERT_TRUE(Conectar());
    ServidorCola servidor(1);
    ASSERT_TRUE(servidor.Cargar());

    escritor.Liberar(1, {"antes"});
    EXPECT_TRUE(Esperar([&] { return escritor.Valor("SELECT COUNT(*) FROM ColaImpresion") == "0"; }, 10));
    EXPECT_EQ(Tomar(), ImpresoEpson("antes"));

    const qsizetype fallas = Bitacora().count("Cola Impresion, ");
    ASSERT_TRUE(red.Cortar());
    ASSERT_TRUE(red.ReanudarEn(30));
    escritor.Liberar(2, {"durante"});
    // The tick's statement fails because the link is gone, not because the
    // statement time-out ran out.
    EXPECT_TRUE(Esperar([&] { return Bitacora().count("Cola Impresion, ") > fallas; }, 30)) << Bitacora().toStdString();
    EXPECT_FALSE(Bitacora().contains("Tiempo de espera agotado")) << Bitacora().toStdString();
    EXPECT_TRUE(Esperar([&] { return escritor.Valor("SELECT COUNT(*) FROM ColaImpresion") == "0"; }, 60));
    Esperar([] { return false; }, 2);
    EXPECT_EQ(Tomar(), ImpresoEpson("durante"));
    EXPECT_TRUE(Bitacora().contains("conexion con la base de datos restablecida"));
}
