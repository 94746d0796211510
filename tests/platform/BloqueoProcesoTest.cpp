#include "platform/BloqueoProceso.h"

#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

// Another process holds the lock until it dies, SIGKILL included; this one
// then takes it, and taking it again here is no conflict with itself.
TEST(BloqueoProceso, OneProcessAtATimeAndTheKernelDropsItWithTheProcess) {
    QTemporaryDir dir;
    const QString ruta = dir.path() + QStringLiteral("/datos/orlan-cola.bloqueo");
    int tubo[2];
    ASSERT_EQ(::pipe(tubo), 0);
    const pid_t hijo = ::fork();
    ASSERT_GE(hijo, 0);
    if (hijo == 0) {
        const char r = BloqueoProceso::Tomar(ruta) == BloqueoProceso::Resultado::Tomado ? 't' : 'f';
        (void)::write(tubo[1], &r, 1);
        ::pause();
        ::_exit(0);
    }
    char r = 0;
    ASSERT_EQ(::read(tubo[0], &r, 1), 1);
    EXPECT_EQ(r, 't');
    EXPECT_EQ(BloqueoProceso::Tomar(ruta), BloqueoProceso::Resultado::Ajeno);
    ::kill(hijo, SIGKILL);
    ::waitpid(hijo, nullptr, 0);
    EXPECT_EQ(BloqueoProceso::Tomar(ruta), BloqueoProceso::Resultado::Tomado);
    EXPECT_EQ(BloqueoProceso::Tomar(ruta), BloqueoProceso::Resultado::YaPropio);
    QString error;
    EXPECT_EQ(BloqueoProceso::Tomar(QStringLiteral("/proc/no/se/puede"), &error), BloqueoProceso::Resultado::Error);
    EXPECT_FALSE(error.isEmpty());
}
