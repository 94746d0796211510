#include "dialogs/frmMsg.h"
#include "dialogs/Twips.h"
#include "support/Estado.h"
#include "testsupport/gui/AlAparecer.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

// Captions of the visible buttons, left to right.
QStringList Visibles(const frmMsg& forma) {
    QList<QPushButton*> botones;
    for (QPushButton* boton : forma.cmdBotones) {
        if (!boton->isHidden()) {
            botones << boton;
        }
    }
    std::sort(botones.begin(), botones.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
    QStringList titulos;
    for (const QPushButton* boton : botones) {
        titulos << boton->text();
    }
    return titulos;
}

} // namespace

TEST(frmMsg, CadaCodigoMuestraSusBotonesCentradosYSiALaIzquierda) {
    const std::pair<int, QStringList> casos[] = {
        {0, {"Aceptar"}},  {1, {"Aceptar"}},  {2, {"Aceptar"}},  {16, {"Aceptar"}},
        {3, {"Si", "No"}}, {4, {"Si", "No"}}, {7, {"Si", "No"}}, {4 + 16, {"Si", "No"}},
    };
    for (const auto& [codigo, esperados] : casos) {
        frmMsg forma;
        forma.MsTexto = QStringLiteral("Texto");
        forma.MnBotones = codigo;
        forma.Disponer();
        forma.Disponer(); // the layout runs on every activation and gives the same result
        EXPECT_EQ(Visibles(forma), esperados) << codigo;

        int izquierda = forma.width();
        int derecha = 0;
        for (const QPushButton* boton : forma.cmdBotones) {
            if (!boton->isHidden()) {
                izquierda = std::min(izquierda, boton->x());
                derecha = std::max(derecha, boton->geometry().right() + 1);
                EXPECT_EQ(boton->size(), Twips::APixeles(QSize(1575, 735)));
            }
        }
        EXPECT_NEAR(izquierda, forma.width() - derecha, 1) << codigo;
        EXPECT_FALSE(std::any_of(forma.cmdBotones.begin(), forma.cmdBotones.end(),
                                 [](const QPushButton* b) { return b->isDefault() || b->autoDefault(); }));
    }
}

TEST(frmMsg, CreceConLasLineasDelTextoYElContornoLaSigue) {
    const auto disponer = [](frmMsg& forma, const QString& texto) {
        forma.MsTexto = texto;
        forma.Disponer();
    };
    frmMsg una;
    disponer(una, QStringLiteral("Error de instalación, faltan parametros"));
    frmMsg tres;
    disponer(tres, QStringLiteral("En verdad quiere detener el servidor de impresion? Esto detendra las trabajos "
                                  "de impresion, desea continuar?"));

    EXPECT_GT(una.AltoTexto(), 10.5);
    EXPECT_NEAR(tres.AltoTexto(), 3 * una.AltoTexto(), 0.01);
    EXPECT_NEAR(tres.height() - una.height(), 2 * una.sslabel->height(), 2);
    for (const frmMsg* forma : {&una, &tres}) {
        EXPECT_EQ(forma->sslabel->pos(), QPoint(Twips::APixeles(240), Twips::APixeles(480)));
        const QRect boton = forma->cmdBotones[0]->geometry();
        EXPECT_NEAR(boton.top() - forma->sslabel->geometry().bottom() - 1, Twips::APixeles(300), 1);
        EXPECT_NEAR(forma->height() - boton.bottom() - 1, forma->sslabel->y(), 1); // bottom margin = top margin
        EXPECT_EQ(forma->shaBorde->geometry(), forma->rect());
    }

    // An empty text measures nothing: the text area has no height.
    frmMsg vacia;
    disponer(vacia, QString());
    EXPECT_EQ(vacia.AltoTexto(), 0);
    EXPECT_EQ(vacia.sslabel->height(), 0);

    // Thousands of characters, with and without spaces, are laid out and
    // wrapped at the text area's width: the box grows past any screen.
    frmMsg larga;
    disponer(larga, QStringLiteral("palabra ").repeated(600));
    frmMsg sinEspacios;
    disponer(sinEspacios, QString(3000, u'M'));
    EXPECT_GT(larga.AltoTexto(), 50 * una.AltoTexto());
    EXPECT_GT(sinEspacios.AltoTexto(), 50 * una.AltoTexto());
}

TEST(frmMsg, DevuelveElBotonPulsadoYAlCerrarSinBotonLaRespuestaAnterior) {
    const quint8 anterior = MnRespuesta;
    AlAparecer<frmMsg>([](frmMsg& forma) { forma.close(); });
    EXPECT_EQ(frmMsg::Mostrar(QStringLiteral("Sin respuesta"), 0), anterior);

    AlAparecer<frmMsg>([](frmMsg& forma) {
        EXPECT_EQ(forma.sslabel->Texto(), QStringLiteral("En verdad quiere detener el servidor de impresion?"));
        EXPECT_EQ(Visibles(forma), QStringList({"Si", "No"}));
        // Neither Esc nor Enter answers: the box stays open.
        for (const Qt::Key tecla : {Qt::Key_Escape, Qt::Key_Return}) {
            QKeyEvent pulsacion(QEvent::KeyPress, tecla, Qt::NoModifier);
            QApplication::sendEvent(forma.focusWidget() ? forma.focusWidget() : &forma, &pulsacion);
            EXPECT_TRUE(forma.isVisible()) << tecla;
        }
        forma.cmdBotones[5]->click();
    });
    EXPECT_EQ(frmMsg::Mostrar(QStringLiteral("En verdad quiere detener el servidor de impresion?"), 4), 6);

    AlAparecer<frmMsg>([](frmMsg& forma) { forma.cmdBotones[6]->click(); });
    EXPECT_EQ(frmMsg::Mostrar(QStringLiteral("Esto detendra las trabajos de impresion, desea continuar?"), 4), 7);
    AlAparecer<frmMsg>([](frmMsg& forma) { forma.close(); });
    EXPECT_EQ(frmMsg::Mostrar(QStringLiteral("Cerrada"), 4), 7);

    // A painted box with a text far taller than the screen.
    AlAparecer<frmMsg>([](frmMsg& forma) {
        forma.grab();
        forma.cmdBotones[0]->click();
    });
    EXPECT_EQ(frmMsg::Mostrar(QString(5000, u'x'), 16), 1);
}

namespace {

// Whether a dark pixel lies within a few pixels of each of the four edges,
// half-way along: the focus frame that the operator sees.
bool MarcoOscuro(const QImage& boton) {
    const int ancho = boton.width();
    const int alto = boton.height();
    const auto oscuro = [&](int x, int y) { return qGray(boton.pixel(x, y)) < 64; };
    bool izquierda = false, derecha = false, arriba = false, abajo = false;
    for (int d = 1; d < 8; ++d) {
        izquierda = izquierda || oscuro(d, alto / 2);
        derecha = derecha || oscuro(ancho - 1 - d, alto / 2);
        arriba = arriba || oscuro(ancho / 4, d);
        abajo = abajo || oscuro(ancho / 4, alto - 1 - d);
    }
    return izquierda && derecha && arriba && abajo;
}

} // namespace

// The question starts on "No", the focused button is plainly framed, and a
// stray Space answers "No"; a box with "Aceptar" alone starts on it.
TEST(frmMsg, ElFocoSeVeYEmpiezaEnNo) {
    const auto espacio = [](QWidget* destino) {
        for (const QEvent::Type tipo : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent tecla(tipo, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QApplication::sendEvent(destino, &tecla);
        }
    };
    AlAparecer<frmMsg>([&](frmMsg& forma) {
        ProcesarEventos();
        EXPECT_EQ(QApplication::focusWidget(), forma.cmdBotones[6]);
        EXPECT_TRUE(MarcoOscuro(forma.cmdBotones[6]->grab().toImage()));
        EXPECT_FALSE(MarcoOscuro(forma.cmdBotones[5]->grab().toImage()));
        espacio(forma.focusWidget() ? forma.focusWidget() : &forma);
    });
    EXPECT_EQ(frmMsg::Mostrar(QStringLiteral("En verdad quiere detener el servidor de impresion?"), 4), 7);

    AlAparecer<frmMsg>([&](frmMsg& forma) {
        ProcesarEventos();
        EXPECT_EQ(QApplication::focusWidget(), forma.cmdBotones[0]);
        EXPECT_TRUE(MarcoOscuro(forma.cmdBotones[0]->grab().toImage()));
        espacio(forma.focusWidget() ? forma.focusWidget() : &forma);
    });
    EXPECT_EQ(frmMsg::Mostrar(QStringLiteral("La contraseña es incorrecta"), 0), 1);
}

TEST(Fuentes, ArialYGaramondSeSirvenConSusSustitutas) {
    // Without the substitution Garamond falls back to an unrelated serif font
    // and the forms' texts wrap elsewhere.
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("Arial"))).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("Garamond"))).family(), QStringLiteral("EB Garamond"));
}
