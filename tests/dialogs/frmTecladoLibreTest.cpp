#include "dialogs/frmTecladoLibre.h"
#include "dialogs/RelojInactividad.h"
#include "dialogs/Twips.h"
#include "dialogs/VolverAlServidor.h"
#include "testsupport/gui/AlAparecer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
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
    const DisposicionTeclado q =
        DisponerQWERTY({12000, 9000}, {9990, 6375}, {600, 2280, 740, 740}, {600, 1560, 8775, 555});
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

// On the screens tills have, every key of both layouts, and the text box,
// lies whole on the form and no two letter keys overlap (the keypad's keys
// stay 740 twips high and overlap by design). The keys keep the screen's
// proportions and are as large as the form allows, up to the size of an
// 800 × 600 screen's keys scaled with the screen.
TEST(frmTecladoLibre, CadaTeclaCabeEnteraEnLasPantallasDeCaja) {
    const QSizeF forma(9990, 6375);
    const QRectF dentro = QRectF(QPointF(0, 0), forma).adjusted(-1e-6, -1e-6, 1e-6, 1e-6);
    const QSize pantallas[] = {{800, 600}, {1024, 768}, {1280, 1024}, {1366, 768}, {1920, 1080}};
    for (const QSize pixeles : pantallas) {
        const QSizeF pantalla = QSizeF(pixeles) * 15; // twips at 96 DPI
        const std::string nombre = std::to_string(pixeles.width()) + "x" + std::to_string(pixeles.height());
        ASSERT_TRUE(dentro.width() <= pantalla.width() && dentro.height() <= pantalla.height()) << nombre;
        const DisposicionTeclado primera =
            DisponerQWERTY(pantalla, forma, {600, 2280, 740, 740}, {600, 1560, 8775, 555});
        // The second QWERTY build sizes the text box from the keys of the first.
        const DisposicionTeclado q = DisponerQWERTY(pantalla, forma, primera.Letras[0].Rect, *primera.Texto);
        const DisposicionTeclado a = DisponerAlfabetico(forma.width(), q.Letras[0].Rect, {8640, 2280, 740, 740});
        for (const DisposicionTeclado* d : {&primera, &q, &a}) {
            const QList<TeclaDispuesta> teclas = d->Letras + d->Digitos;
            double derecha = 0;
            double abajo = 0;
            for (qsizetype i = 0; i < teclas.size(); ++i) {
                const QRectF r = teclas[i].Rect;
                EXPECT_TRUE(dentro.contains(r)) << nombre << " " << teclas[i].Caption.toStdString();
                derecha = std::max(derecha, r.right());
                abajo = std::max(abajo, r.bottom());
                for (qsizetype j = 0; i < d->Letras.size() && j < i; ++j) {
                    EXPECT_FALSE(r.intersects(teclas[j].Rect))
                        << nombre << " " << teclas[i].Caption.toStdString() << "/" << teclas[j].Caption.toStdString();
                }
            }
            if (d->Texto) {
                EXPECT_TRUE(dentro.contains(*d->Texto)) << nombre << " text box";
            }
            if (d == &q && pixeles != QSize(800, 600)) {
                // As large as fits: a key reaches the right or the bottom edge.
                EXPECT_TRUE(std::abs(derecha - forma.width()) < 1 || std::abs(abajo - forma.height()) < 1) << nombre;
            }
        }
        const QSizeF tecla = q.Letras[0].Rect.size();
        EXPECT_NEAR(tecla.width() / tecla.height(), pantalla.width() / pantalla.height(), 1e-9) << nombre;
        EXPECT_LE(tecla.width(), pantalla.width() * 740 / 12000 + 1e-9) << nombre;
        EXPECT_GE(tecla.width(), 740) << nombre;
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
    // A login that succeeded stands: still, a keyboard left over hidden must
    // not bring the server window up.
    QWidget servidor;
    RegistrarVentanaPrincipal(&servidor, [] { return true; });
    {
        // The close box is "Cancelar": it clears an earlier result.
        frmTecladoLibre teclado;
        teclado.MsResultado = QStringLiteral("anterior");
        teclado.show();
        Activar(&teclado);
        Teclear(teclado, {"A"});
        CerrarConCasilla(teclado);
        EXPECT_EQ(teclado.MsResultado, "");
        EXPECT_FALSE(teclado.isVisible());
        EXPECT_TRUE(teclado.bActivo);

        // The first unload by code cancels too and clears bActivo; the next one unloads.
        teclado.MsResultado = QStringLiteral("anterior");
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
    // the hidden form stays loaded until its own clock unloads it, quietly.
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
    EXPECT_FALSE(servidor.isVisible());
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
