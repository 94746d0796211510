#include "testsupport/EntornoPrueba.h"
#include "testsupport/Procesos.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The owner of /proc/PID/status: the process's own user while it is
// dumpable, root once it is not. -1 when there is no such process.
long DuenoProc(qint64 pid) {
    struct stat info {};
    return ::stat(QStringLiteral("/proc/%1/status").arg(pid).toLocal8Bit().constData(), &info) == 0 ? long(info.st_uid)
                                                                                                    : -1;
}

} // namespace

// The programs that hold the database password cannot be dumped: each one
// started as an ordinary user (nobody) turns its /proc entries over to root,
// and the service units forbid core files.
TEST(Volcados, ProgramsHoldingThePasswordCannotBeDumped) {
    EntornoPrueba entorno;
    struct Programa {
        const char* ruta;
        QStringList argumentos;
    };
    const Programa programas[] = {
        // Managed by a service manager that never answers: it waits for its
        // settings, which nobody cannot read.
        {ORLAN_BUILD_DIR "/src/orlan-cola", {"--servicio"}},
        {ORLAN_BUILD_DIR "/src/panel/orlan-panel", {"--escuchar", "127.0.0.1:0"}},
        // Reads the job's lines until its input ends.
        {ORLAN_BUILD_DIR "/tools/orlan-admin/orlan-admin", {"encolar", "--impresora", "1"}},
    };
    ASSERT_EQ(::geteuid(), 0u) << "the tests run as root";
    for (const Programa& p : programas) {
        SCOPED_TRACE(p.ruta);
        QProcess proceso;
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        ambiente.insert("NOTIFY_SOCKET", entorno.Datos() + "/sin-gestor");
        proceso.setProcessEnvironment(ambiente);
        proceso.setChildProcessModifier([] {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                ::_exit(127);
            }
        });
        proceso.start(p.ruta, p.argumentos);
        ASSERT_TRUE(proceso.waitForStarted());
        EXPECT_TRUE(Esperar([&] { return DuenoProc(proceso.processId()) == 0; }, 10))
            << "owner " << DuenoProc(proceso.processId()) << "; running " << (proceso.state() == QProcess::Running)
            << "; " << proceso.readAllStandardError().toStdString();
        TerminarProceso(proceso);
    }

    for (const char* unidad : {"orlan-cola@.service.in", "orlan-panel.service.in"}) {
        QFile archivo(QStringLiteral(ORLAN_TEST_DATA "/../../paquete/") + unidad);
        ASSERT_TRUE(archivo.open(QIODevice::ReadOnly)) << unidad;
        EXPECT_TRUE(archivo.readAll().split('\n').contains("LimitCORE=0")) << unidad;
    }
}
