#include "dialogs/RelojInactividad.h"
#include "dialogs/Twips.h"
#include "dialogs/VolverAlServidor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

// A watched form that can refuse to close, as the on-screen keyboard does.
class FormaVigilada : public QWidget {
public:
    FormaVigilada() {
        boton = new QPushButton(QStringLiteral("A"), this);
        boton->setGeometry(0, 0, 60, 40);
        etiqueta = new QLabel(QStringLiteral("texto"), this);
        etiqueta->setGeometry(0, 50, 60, 40);
        resize(300, 200);
        reloj = new RelojInactividad(this);
        reloj->EstablecerForma(this);
        reloj->EstablecerEnabled(true);
        reloj->EstablecerIntervalo(40000);
    }
    bool rechazarCierre = false;
    int cierresPedidos = 0;
    QPushButton* boton;
    QLabel* etiqueta;
    RelojInactividad* reloj;

protected:
    void closeEvent(QCloseEvent* evento) override {
        ++cierresPedidos;
        if (rechazarCierre) {
            evento->ignore();
        }
    }
};

void Raton(QWidget* destino, QEvent::Type tipo, QPoint punto) {
    const Qt::MouseButton boton = tipo == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent evento(tipo, punto, destino->mapToGlobal(punto), boton, boton, Qt::NoModifier);
    QApplication::sendEvent(destino, &evento);
}

} // namespace

// The server window comes back only for a form that was on screen while a
// valid login stands; a form of a login still open or failed, or a form left
// hidden, is unloaded without it.
TEST(RelojInactividad, CierraAlTercerTicYSoloTrasUnLoginValidoVuelveAlServidor) {
    bool valido = false;
    QWidget servidor;
    RegistrarVentanaPrincipal(&servidor, [&valido] { return valido; });
    const auto tresTics = [](FormaVigilada& forma) {
        for (int tic = 0; tic < 3; ++tic) {
            EXPECT_EQ(forma.cierresPedidos, 0) << tic;
            forma.reloj->TmrBloquear_Timer(); // re-arms (no activity seen yet), marks, closes
        }
        EXPECT_EQ(forma.cierresPedidos, 1);
        EXPECT_FALSE(forma.isVisible());
    };
    for (const bool visible : {true, false}) {
        FormaVigilada forma;
        forma.setVisible(visible);
        tresTics(forma);
        EXPECT_FALSE(servidor.isVisible()) << visible;
    }
    valido = true;
    FormaVigilada oculta;
    tresTics(oculta);
    EXPECT_FALSE(servidor.isVisible());
    FormaVigilada forma;
    forma.show();
    tresTics(forma);
    EXPECT_TRUE(servidor.isVisible());
    RegistrarVentanaPrincipal(nullptr);
}

TEST(RelojInactividad, SoloCuentaElRatonSobreLaSuperficieDeLaForma) {
    FormaVigilada forma;
    forma.rechazarCierre = true;
    forma.show();

    // A move over the bare form once an interval keeps it open.
    for (int i = 0; i < 5; ++i) {
        Raton(&forma, QEvent::MouseMove, QPoint(200, 150));
        forma.reloj->TmrBloquear_Timer();
    }
    EXPECT_EQ(forma.cierresPedidos, 0);
    Raton(&forma, QEvent::MouseButtonPress, QPoint(200, 150));
    forma.reloj->TmrBloquear_Timer();
    forma.reloj->TmrBloquear_Timer();
    EXPECT_EQ(forma.cierresPedidos, 0);

    // Presses and moves over the children reach the form only by propagation
    // (a label ignores them, a button without tracking passes moves on): they
    // do not count, so the form is asked to close on the next tick, and again
    // on every later idle tick while it refuses.
    Raton(forma.boton, QEvent::MouseMove, QPoint(5, 5));
    Raton(forma.boton, QEvent::MouseButtonPress, QPoint(5, 5));
    Raton(forma.etiqueta, QEvent::MouseButtonPress, QPoint(5, 5));
    Raton(forma.etiqueta, QEvent::MouseMove, QPoint(5, 5));
    forma.reloj->TmrBloquear_Timer();
    EXPECT_EQ(forma.cierresPedidos, 1);
    forma.reloj->TmrBloquear_Timer();
    forma.reloj->TmrBloquear_Timer();
    EXPECT_EQ(forma.cierresPedidos, 3);
}

TEST(RelojInactividad, ParadoPorOmisionYDeTamanoFijo) {
    RelojInactividad reloj;
    EXPECT_FALSE(reloj.Enabled());
    EXPECT_EQ(reloj.Intervalo(), 0);
    reloj.EstablecerEnabled(true); // interval 0: the timer does not run
    reloj.resize(500, 20);
    EXPECT_EQ(reloj.size(), Twips::APixeles(QSize(645, 645)));
}
