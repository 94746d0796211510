#include "dialogs/frmTecladoLibre.h"
#include "dialogs/RelojInactividad.h"
#include "dialogs/Twips.h"
#include "startup/gui/VolverAlServidor.h"
#include "testsupport/gui/AlAparecer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

namespace {

QString Captions(const QList<TeclaDispuesta>& teclas) {
    QString todas;
    for (const TeclaDispuesta& t : teclas) {
        todas += t.Caption.size() == 1 ? t.Caption : u'[' + t.Caption + u']';
    }
    return todas;
}

void Activar(QWidget* ventana) {
    ventana->activateWindow();
    ProcesarEventos();
}

void Teclear(frmTecladoLibre& teclado, const QStringList& captions) {
    for (const QString& caption : captions) {
        bool hallada = false;
        for (QPushButton* tecla : teclado.cmdLetra + teclado.cmdDigito) {
            if (!hallada && tecla->text() == caption && tecla->isVisible()) {
                tecla->click();
                hallada = true;
            }
        }
        EXPECT_TRUE(hallada) << caption.toStdString();
    }
}

} // namespace

// Figures worked out by hand for a 12000 × 9000-twip screen and the design
// form (9990 wide, letter key 0 at 600, 2280).
TEST(frmTecladoLibre, GeometriaDeLasDosDisposiciones) {
    const DisposicionTeclado q = DisponerQWERTY({12000, 9000}, 9990, {600, 2280, 740, 740}, {600, 1560, 8775, 555});
    EXPECT_EQ(Captions(q.Letras), "1234567890QWERTYUIOPASDFGHJKLÑZXCVBNM,.-[Espacio][BORRAR][Borrar todo]");
    EXPECT_TRUE(q.Digitos.isEmpty());
    EXPECT_EQ(*q.Texto, QRectF(600, 1560, 9080, 555)); // (740 + 20) × 10 + 2 × 740
    const QList<std::pair<int, QRectF>> qwerty = {
        {0, {600, 2280, 740, 555}},    {9, {7440, 2280, 740, 555}},   {10, {930, 2855, 740, 555}},
        {20, {1230, 3430, 740, 555}},  {30, {1530, 4005, 740, 555}},  {39, {8370, 4005, 740, 555}},
        {40, {2820, 4580, 3795, 555}}, {41, {8200, 2280, 1480, 555}}, {42, {8530, 2855, 1110, 555}}};
    for (const auto& [i, rect] : qwerty) {
        EXPECT_EQ(q.Letras[i].Rect, rect) << "QWERTY " << i;
    }
    // A larger screen, larger keys; the text box follows the previous key width.
    const DisposicionTeclado g = DisponerQWERTY({19200, 14400}, 9990, q.Letras[0].Rect, *q.Texto);
    EXPECT_EQ(g.Letras[10].Rect, QRectF(930, 3188, 1184, 888));
    EXPECT_EQ(g.Letras[42].Rect, QRectF(12970, 3188, 1776, 888));
    EXPECT_EQ(DisponerQWERTY({19200, 14400}, 9990, g.Letras[0].Rect, *g.Texto).Texto->width(), 14408);

    const DisposicionTeclado a = DisponerAlfabetico(9990, q.Letras[0].Rect, {8640, 2280, 740, 740});
    EXPECT_EQ(Captions(a.Letras), "ABCDEFGHIJKLMNÑOPQRSTUVWXYZ,.-[Espacio][Borrar][Borrar todo]");
    EXPECT_EQ(Captions(a.Digitos), "1234567890");
    EXPECT_FALSE(a.Texto);
    const QList<std::pair<int, QRectF>> alfabetico = {
        {7, {5920, 2280, 740, 555}},   {8, {600, 2855, 740, 555}},      {29, {4400, 4005, 740, 555}},
        {30, {600, 4580, 3795, 555}},  {31, {5595, 4580, 1897.5, 555}}, {32, {7492.5, 4580, 1897.5, 555}},
        {100, {6960, 2280, 740, 740}}, {102, {8440, 2280, 740, 740}},   {103, {6960, 2855, 740, 740}},
        {108, {8440, 3430, 740, 740}}, {109, {7700, 4005, 740, 740}}};
    for (const auto& [i, rect] : alfabetico) {
        EXPECT_EQ(i < 100 ? a.Letras[i].Rect : a.Digitos[i - 100].Rect, rect) << "ABC " << i;
    }
}

TEST(frmTecladoLibre, CadaActivacionYElBotonCambianLaDisposicion) {
    ASSERT_EQ(Twips::Pantalla(), QSize(12000, 9000)); // ctest gives the program an 800 × 600 screen
    frmTecladoLibre teclado;
    EXPECT_TRUE(teclado.UsrInactivo->Enabled());
    EXPECT_EQ(teclado.UsrInactivo->Intervalo(), 40000);
    teclado.MsTitulo = QStringLiteral("Ingresar usuario");
    teclado.show();
    Activar(&teclado);
    EXPECT_EQ(teclado.windowTitle(), "Ingresar usuario");
    EXPECT_EQ(teclado.cmdLetra.size(), 43);
    EXPECT_FALSE(teclado.cmdDigito[0]->isVisible());
    EXPECT_EQ(teclado.cmdTipoTeclado->text(), "ABCDEF...");
    EXPECT_EQ(teclado.cmdLetra[41]->geometry(), QRect(547, 152, 98, 37)); // 8200..9680 × 2280..2835 twips
    EXPECT_EQ(teclado.txtTexto->x(), 40);

    teclado.cmdTipoTeclado->click();
    EXPECT_EQ(teclado.cmdLetra.size(), 33);
    EXPECT_EQ(teclado.cmdDigito.size(), 10);
    EXPECT_TRUE(teclado.cmdDigito[0]->isVisible());
    EXPECT_EQ(teclado.cmdDigito[0]->size(), QSize(49, 49)); // digit keys keep 740 × 740
    EXPECT_EQ(teclado.cmdLetra[1]->font(), teclado.cmdLetra[0]->font());
    EXPECT_EQ(teclado.cmdTipoTeclado->text(), "QWERTY...");
    EXPECT_EQ(QApplication::focusWidget(), teclado.txtTexto);

    // Another window takes the focus; coming back flips the layout again.
    QWidget otra;
    otra.show();
    Activar(&otra);
    ASSERT_TRUE(otra.isActiveWindow());
    Activar(&teclado);
    EXPECT_EQ(teclado.cmdLetra.size(), 43);
}

TEST(frmTecladoLibre, TeclasEspecialesCursorYMascara) {
    frmTecladoLibre teclado;
    EstablecerPasswordChar(teclado.txtTexto, QStringLiteral("*"));
    teclado.show();
    Activar(&teclado); // QWERTY
    Teclear(teclado, {"Ñ", ",", ".", "-", "Espacio", "1", "Q"});
    EXPECT_EQ(teclado.txtTexto->displayText(), "*******");
    teclado.txtTexto->setSelection(0, 2);
    Teclear(teclado, {"BORRAR"});
    EXPECT_EQ(teclado.txtTexto->cursorPosition(), 6);
    EXPECT_FALSE(teclado.txtTexto->hasSelectedText());
    EXPECT_EQ(QApplication::focusWidget(), teclado.txtTexto);
    EXPECT_EQ(teclado.txtTexto->text(), "Ñ,.- 1");

    teclado.cmdTipoTeclado->click(); // alphabetical: "Borrar" and the keypad
    Teclear(teclado, {"Borrar todo", "Borrar", "A", "7", "0", "Borrar", "Espacio"});
    EXPECT_EQ(teclado.txtTexto->displayText(), "***");
    EstablecerPasswordChar(teclado.txtTexto, QString());
    EXPECT_EQ(teclado.txtTexto->displayText(), "A7 ");
    teclado.cmdAceptar->click();
    EXPECT_EQ(teclado.MsResultado, "A7 ");
    EXPECT_FALSE(teclado.isVisible());
    teclado.show();
    teclado.cmdCancelar->click();
    EXPECT_EQ(teclado.MsResultado, "");

    // Escape in a modal showing presses "Cancelar"; Enter presses "Aceptar".
    EXPECT_TRUE(teclado.cmdAceptar->isDefault());
    teclado.MsResultado = QStringLiteral("x");
    QTimer::singleShot(0, &teclado, [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(teclado.txtTexto, &escape);
    });
    teclado.exec();
    EXPECT_EQ(teclado.MsResultado, "");
}

TEST(frmTecladoLibre, ReglasDeCierre) {
    QWidget servidor;
    RegistrarVentanaPrincipal(&servidor);
    {
        frmTecladoLibre teclado;
        teclado.show();
        Activar(&teclado);
        Teclear(teclado, {"A"});
        QCloseEvent casilla; // the close box: a request from the window system
        QSpontaneKeyEvent::setSpontaneous(&casilla);
        QApplication::instance()->notify(&teclado, &casilla); // sendEvent would clear the flag
        EXPECT_EQ(teclado.MsResultado, "");
        EXPECT_FALSE(teclado.isVisible());
        EXPECT_TRUE(teclado.bActivo);

        // The first unload by code cancels too and clears bActivo; the next one unloads.
        teclado.show();
        Teclear(teclado, {"A"});
        teclado.close();
        EXPECT_EQ(teclado.MsResultado, "");
        EXPECT_FALSE(teclado.bActivo);
        EXPECT_FALSE(teclado.Descargado());
        teclado.close();
        EXPECT_TRUE(teclado.Descargado());
        EXPECT_FALSE(teclado.UsrInactivo->Enabled());
    }

    // The shared instance after "Aceptar": the caller's unload is refused and
    // the hidden form stays loaded until its own clock unloads it, bringing
    // the server window back.
    QPointer<frmTecladoLibre> teclado = frmTecladoLibre::Cargar();
    QTimer::singleShot(0, teclado, [&] {
        Activar(teclado);
        Teclear(*teclado, {"O", "K"});
        teclado->cmdAceptar->click();
    });
    teclado->exec();
    EXPECT_EQ(teclado->MsResultado, "OK");
    teclado->close();
    EXPECT_EQ(frmTecladoLibre::Cargar(), teclado.data());
    for (int tic = 0; tic < 3; ++tic) {
        teclado->UsrInactivo->TmrBloquear_Timer();
    }
    EXPECT_TRUE(servidor.isVisible());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(teclado);

    // An idle keyboard answers its caller with the empty text.
    teclado = frmTecladoLibre::Cargar();
    QTimer::singleShot(0, teclado, [&] {
        Activar(teclado);
        Teclear(*teclado, {"Z"});
        for (int tic = 0; tic < 3; ++tic) {
            teclado->UsrInactivo->TmrBloquear_Timer();
        }
    });
    teclado->exec();
    EXPECT_EQ(teclado->MsResultado, "");
    RegistrarVentanaPrincipal(nullptr);
}
