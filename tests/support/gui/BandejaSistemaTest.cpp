#include "support/gui/BandejaSistema.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

class Ventana : public QWidget {
    Q_OBJECT
public:
    int llamadas = 0;
public slots:
    void SysTrayMouseEventHandler() { ++llamadas; }
};

} // namespace

TEST(Bandeja, ARightButtonPressReachesTheHookedWindowAndNothingElseDoes) {
    Ventana primera;
    Ventana segunda;
    EXPECT_EQ(ProcVentana(QSystemTrayIcon::Context), 0); // nothing hooked yet

    Enganchar(&primera);
    Enganchar(&segunda); // the first hook stays
    EXPECT_EQ(VentanaEnganchada(), &primera);

    AgregarIconoBandeja(&primera, 7, QIcon(), QStringLiteral("Cola de Impresion Orlan 1.1"));
    AgregarIconoBandeja(&segunda, 8, QIcon(), QStringLiteral("otra")); // refused: one icon
    QSystemTrayIcon* icono = IconoBandeja();
    ASSERT_NE(icono, nullptr);
    EXPECT_EQ(icono->toolTip(), QStringLiteral("Cola de Impresion Orlan 1.1"));

    // Through the icon's own signal, as the desktop delivers clicks.
    for (auto motivo : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick}) {
        emit icono->activated(motivo);
    }
    EXPECT_EQ(primera.llamadas, 0);
    emit icono->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(ProcVentana(QSystemTrayIcon::Context), -1);
    EXPECT_EQ(primera.llamadas, 2);
    EXPECT_EQ(segunda.llamadas, 0);
}

#include "BandejaSistemaTest.moc"
