#include "dialogs/frmTecladoLibre.h"
#include "dialogs/RelojInactividad.h"
#include "dialogs/Twips.h"
#include "startup/gui/VolverAlServidor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

namespace {

const QRectF kLetra0(600, 2280, 740, 740);
const QRectF kDigito0(8640, 2280, 740, 740);
const QRectF kTexto(600, 1560, 8775, 555);

QString Captions(const QList<TeclaDispuesta>& teclas) {
    QString todas;
    for (const TeclaDispuesta& t : teclas) {
        todas += t.Caption.size() == 1 ? t.Caption : u'[' + t.Caption + u']';
    }
    return todas;
}

// The close box: a close request that comes from the window system.
void CasillaCerrar(QWidget* ventana) {
    QCloseEvent cierre;
    QSpontaneKeyEvent::setSpontaneous(&cierre);
    QApplication::instance()->notify(ventana, &cierre); // sendEvent would clear the flag
}

void Activar(QWidget* ventana) {
    ventana->activateWindow();
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

QPushButton* Tecla(frmTecladoLibre& teclado, const QString& caption) {
    for (QPushButton* tecla : teclado.cmdLetra + teclado.cmdDigito) {
        if (tecla->text() == caption && tecla->isVisible()) {
            return tecla;
        }
    }
    ADD_FAILURE() << "sin tecla " << caption.toStdString();
    return teclado.cmdLetra[0];
}

void Teclear(frmTecladoLibre& teclado, const QStringList& captions) {
    for (const QString& caption : captions) {
        Tecla(teclado, caption)->click();
    }
}

} // namespace

TEST(frmTecladoLibre, LaDisposicionQWERTYSaleDeLaTecla0YDeLaPantalla) {
    const DisposicionTeclado d = DisponerQWERTY(QSizeF(12000, 9000), 9990, kLetra0, kTexto);
    EXPECT_EQ(Captions(d.Letras), "1234567890QWERTYUIOPASDFGHJKLÑZXCVBNM,.-[Espacio][BORRAR][Borrar todo]");
    EXPECT_TRUE(d.Digitos.isEmpty());
    ASSERT_TRUE(d.Texto);
    EXPECT_EQ(*d.Texto, QRectF(600, 1560, 9080, 555)); // (740 + 20) × 10 + 2 × 740
    // Four rows of ten 740 × 555 keys 20 twips apart, shifted right by 330, 630, 930.
    const QList<std::pair<int, QRectF>> esperadas = {
        {0, {600, 2280, 740, 555}},    {9, {7440, 2280, 740, 555}},           {10, {930, 2855, 740, 555}},
        {19, {7770, 2855, 740, 555}},  {20, {1230, 3430, 740, 555}},          {30, {1530, 4005, 740, 555}},
        {39, {8370, 4005, 740, 555}},  {40, {2820, 4580, 3795, 555}},         {41, {8200, 2280, 1480, 555}},
        {42, {8530, 2855, 1110, 555}}, {29, {1230 + 9 * 760, 3430, 740, 555}}};
    for (const auto& [i, rect] : esperadas) {
        EXPECT_EQ(d.Letras[i].Rect, rect) << "tecla " << i;
    }

    // A larger screen makes larger keys; the text box follows the key width
    // that the previous build left.
    const DisposicionTeclado grande = DisponerQWERTY(QSizeF(19200, 14400), 9990, d.Letras[0].Rect, *d.Texto);
    EXPECT_EQ(grande.Letras[0].Rect, QRectF(600, 2280, 1184, 888));
    EXPECT_EQ(grande.Letras[1].Rect, QRectF(1804, 2280, 1184, 888));
    EXPECT_EQ(grande.Letras[10].Rect, QRectF(930, 3188, 1184, 888));
    EXPECT_EQ(grande.Letras[42].Rect, QRectF(930 + 12040, 3188, 1776, 888));
    EXPECT_EQ(*grande.Texto, QRectF(600, 1560, 9080, 555));
    EXPECT_EQ(DisponerQWERTY(QSizeF(19200, 14400), 9990, grande.Letras[0].Rect, kTexto).Texto->width(), 14408);
}

TEST(frmTecladoLibre, LaDisposicionAlfabeticaTieneFilasDeOchoYUnTecladoNumerico) {
    const DisposicionTeclado d = DisponerAlfabetico(9990, QRectF(600, 2280, 740, 555), kDigito0);
    EXPECT_EQ(Captions(d.Letras), "ABCDEFGHIJKLMNÑOPQRSTUVWXYZ,.-[Espacio][Borrar][Borrar todo]");
    EXPECT_FALSE(d.Texto);
    const QList<std::pair<int, QRectF>> letras = {{0, {600, 2280, 740, 555}},      {7, {5920, 2280, 740, 555}},
                                                  {8, {600, 2855, 740, 555}},      {16, {600, 3430, 740, 555}},
                                                  {29, {4400, 4005, 740, 555}},    {30, {600, 4580, 3795, 555}},
                                                  {31, {5595, 4580, 1897.5, 555}}, {32, {7492.5, 4580, 1897.5, 555}}};
    for (const auto& [i, rect] : letras) {
        EXPECT_EQ(d.Letras[i].Rect, rect) << "tecla " << i;
    }
    // Digit keys keep digit key 0's 740 × 740, in columns 300 twips right of "H".
    EXPECT_EQ(Captions(d.Digitos), "1234567890");
    const QList<std::pair<int, QPointF>> digitos = {{0, {6960, 2280}}, {1, {7700, 2280}}, {2, {8440, 2280}},
                                                    {3, {6960, 2855}}, {8, {8440, 3430}}, {9, {7700, 4005}}};
    for (const auto& [i, origen] : digitos) {
        EXPECT_EQ(d.Digitos[i].Rect, QRectF(origen, QSizeF(740, 740))) << "digito " << i;
    }
}

TEST(frmTecladoLibre, CadaActivacionYElBotonCambianLaDisposicion) {
    ASSERT_EQ(Twips::Pantalla(), QSize(12000, 9000)); // ctest gives the program an 800 × 600 screen
    frmTecladoLibre teclado;
    EXPECT_TRUE(teclado.MfTecladoQWERTY);
    EXPECT_TRUE(teclado.bActivo);
    EXPECT_TRUE(teclado.UsrInactivo->Enabled());
    EXPECT_EQ(teclado.UsrInactivo->Intervalo(), 40000);
    teclado.MsTitulo = QStringLiteral("Ingresar usuario");
    teclado.show();
    Activar(&teclado);

    EXPECT_EQ(teclado.windowTitle(), "Ingresar usuario");
    EXPECT_EQ(teclado.cmdLetra.size(), 43);
    EXPECT_EQ(teclado.cmdDigito.size(), 1);
    EXPECT_FALSE(teclado.cmdDigito[0]->isVisible());
    EXPECT_EQ(teclado.cmdTipoTeclado->text(), "ABCDEF...");
    EXPECT_FALSE(teclado.MfTecladoQWERTY);
    EXPECT_EQ(teclado.cmdLetra[41]->text(), "BORRAR");
    // 8200..9680 × 2280..2835 twips: the edges rounded to pixels.
    EXPECT_EQ(teclado.cmdLetra[41]->geometry(), QRect(547, 152, 98, 37));
    EXPECT_EQ(teclado.cmdLetra[0]->size(), QSize(49, 37));
    EXPECT_EQ(teclado.txtTexto->x(), Twips::APixeles(600));
    EXPECT_EQ(teclado.size(), Twips::APixeles(QSize(9990, 6375)));

    teclado.cmdTipoTeclado->click();
    EXPECT_EQ(teclado.cmdLetra.size(), 33);
    EXPECT_EQ(teclado.cmdDigito.size(), 10);
    EXPECT_TRUE(teclado.cmdDigito[0]->isVisible());
    EXPECT_EQ(teclado.cmdDigito[0]->text(), "1");
    EXPECT_EQ(teclado.cmdDigito[0]->size(), Twips::APixeles(QSize(740, 740)));
    EXPECT_EQ(teclado.cmdLetra[1]->size(), teclado.cmdLetra[0]->size());
    EXPECT_EQ(teclado.cmdLetra[1]->font(), teclado.cmdLetra[0]->font());
    EXPECT_EQ(teclado.cmdTipoTeclado->text(), "QWERTY...");
    EXPECT_EQ(QApplication::focusWidget(), teclado.txtTexto);
    teclado.cmdTipoTeclado->click();
    EXPECT_EQ(teclado.cmdLetra.size(), 43);
    EXPECT_EQ(teclado.cmdTipoTeclado->text(), "ABCDEF...");

    // Another window takes the focus; coming back flips the layout again.
    QWidget otra;
    otra.show();
    Activar(&otra);
    ASSERT_TRUE(otra.isActiveWindow());
    teclado.MsTitulo = QStringLiteral("Otra vez");
    Activar(&teclado);
    EXPECT_EQ(teclado.cmdLetra.size(), 33);
    EXPECT_EQ(teclado.windowTitle(), "Otra vez");
}

TEST(frmTecladoLibre, LasTeclasEscribenBorranYDejanElCursorAlFinal) {
    frmTecladoLibre teclado;
    teclado.show();
    Activar(&teclado); // QWERTY
    Teclear(teclado, {"Ñ", ",", ".", "-", "Espacio", "1", "Q"});
    EXPECT_EQ(teclado.txtTexto->text(), "Ñ,.- 1Q");
    teclado.txtTexto->setSelection(0, 2);
    Teclear(teclado, {"BORRAR"});
    EXPECT_EQ(teclado.txtTexto->text(), "Ñ,.- 1");
    EXPECT_EQ(teclado.txtTexto->cursorPosition(), 6);
    EXPECT_FALSE(teclado.txtTexto->hasSelectedText());
    EXPECT_EQ(QApplication::focusWidget(), teclado.txtTexto);
    Teclear(teclado, {"Borrar todo", "BORRAR"});
    EXPECT_EQ(teclado.txtTexto->text(), "");

    teclado.cmdTipoTeclado->click(); // alphabetical: "Borrar" and the keypad
    Teclear(teclado, {"A", "Ñ", "7", "0", "Borrar", "Espacio", "-"});
    EXPECT_EQ(teclado.txtTexto->text(), "AÑ7 -");
    teclado.txtTexto->setCursorPosition(0);
    Teclear(teclado, {"9"});
    EXPECT_EQ(teclado.txtTexto->cursorPosition(), 6);
    Teclear(teclado, {"Borrar todo"});
    EXPECT_EQ(teclado.txtTexto->text(), "");
}

TEST(frmTecladoLibre, ContrasenaEnmascaradaYResultado) {
    frmTecladoLibre teclado;
    EstablecerPasswordChar(teclado.txtTexto, QStringLiteral("*"));
    teclado.show();
    Activar(&teclado);
    Teclear(teclado, {"C", "L", "A", "V", "E"});
    EXPECT_EQ(teclado.txtTexto->displayText(), "*****");
    teclado.cmdAceptar->click();
    EXPECT_EQ(teclado.MsResultado, "CLAVE"); // handed back in clear
    EXPECT_FALSE(teclado.isVisible());
    EXPECT_TRUE(teclado.cmdAceptar->isDefault());

    EstablecerPasswordChar(teclado.txtTexto, QString());
    EXPECT_EQ(teclado.txtTexto->displayText(), "CLAVE");
    teclado.show();
    teclado.cmdCancelar->click();
    EXPECT_EQ(teclado.MsResultado, "");

    // Escape in a modal showing presses "Cancelar" and ends it.
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
        // The close box cancels and keeps the form loaded, however often.
        frmTecladoLibre teclado;
        teclado.show();
        Activar(&teclado);
        Teclear(teclado, {"A"});
        CasillaCerrar(&teclado);
        EXPECT_EQ(teclado.MsResultado, "");
        EXPECT_FALSE(teclado.isVisible());
        EXPECT_FALSE(teclado.Descargado());
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

    // The caller's protocol with the shared instance: after "Aceptar" the
    // caller's unload is refused and the form stays loaded, hidden, until the
    // next unload or its own clock, which also brings the server window back.
    QPointer<frmTecladoLibre> teclado = frmTecladoLibre::Cargar();
    teclado->MfTecladoQWERTY = true;
    QTimer::singleShot(0, teclado, [&] {
        Activar(teclado);
        Teclear(*teclado, {"O", "K"});
        teclado->cmdAceptar->click();
    });
    teclado->exec();
    EXPECT_EQ(teclado->MsResultado, "OK");
    teclado->close();
    EXPECT_FALSE(teclado->Descargado());
    EXPECT_EQ(frmTecladoLibre::Cargar(), teclado.data());
    for (int tic = 0; tic < 3; ++tic) {
        teclado->UsrInactivo->TmrBloquear_Timer();
    }
    EXPECT_TRUE(servidor.isVisible());
    ASSERT_TRUE(teclado);
    EXPECT_TRUE(teclado->Descargado());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(teclado); // an unloaded shared instance is gone; the next load makes a new one

    // An idle keyboard answers its caller with the empty text.
    teclado = frmTecladoLibre::Cargar();
    EXPECT_TRUE(teclado->bActivo);
    QTimer::singleShot(0, teclado, [&] {
        Activar(teclado);
        Teclear(*teclado, {"Z"});
        for (int tic = 0; tic < 3; ++tic) {
            teclado->UsrInactivo->TmrBloquear_Timer();
        }
    });
    teclado->exec();
    EXPECT_EQ(teclado->MsResultado, "");
    teclado->close();
    EXPECT_TRUE(teclado->Descargado());
    RegistrarVentanaPrincipal(nullptr);
}
