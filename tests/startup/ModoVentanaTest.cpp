#include "startup/gui/ModoVentana.h"
#include "dialogs/frmMsg.h"
#include "platform/CajaMensajes.h"
#include "startup/Arranque.h"
#include "support/Estado.h"
#include "testsupport/EntornoPrueba.h"
#include "testsupport/gui/AlAparecer.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

// Clicks the standard box's button with this caption, after checking the
// box's title and icon.
void Pulsar(const QString& titulo, QMessageBox::Icon icono, const QString& boton) {
    AlAparecer<QMessageBox>([=](QMessageBox& caja) {
        EXPECT_EQ(caja.windowTitle(), titulo);
        EXPECT_EQ(caja.icon(), icono);
        for (QAbstractButton* candidato : caja.buttons()) {
            if (candidato->text() == boton) {
                candidato->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << boton.toStdString();
        caja.close();
    });
}

} // namespace

TEST(ModoVentana, ElErrorDeInstalacionVaAFrmMsgYLaCajaEstandarEsUnQMessageBox) {
    EntornoPrueba entorno; // no "Terminal" key
    const PresentadorMensaje mensajeAnterior = EstablecerPresentadorMensaje({});
    const CajaMensajes::Presentador cajaAnterior = CajaMensajes::EstablecerPresentador({});
    PrepararModoVentana();
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed()) << "closing a box would end the server";

    QString texto;
    QStringList botones;
    AlAparecer<frmMsg>([&](frmMsg& forma) {
        texto = forma.sslabel->Texto();
        for (const QPushButton* boton : forma.cmdBotones) {
            if (!boton->isHidden()) {
                botones << boton->text();
            }
        }
        forma.cmdBotones[0]->click();
    });
    MnRespuesta = 0;
    EXPECT_EQ(Arrancar({false}), kSalidaInstalacion);
    EXPECT_EQ(texto, QStringLiteral("Error de instalación, faltan parametros"));
    EXPECT_EQ(botones, QStringList{QStringLiteral("Aceptar")});
    EXPECT_EQ(MnRespuesta, 1);

    Pulsar(QStringLiteral("Base de Datos"), QMessageBox::Critical, QStringLiteral("Aceptar"));
    EXPECT_EQ(CajaMensajes::Mostrar({QStringLiteral("No se tiene acceso a la Base de Datos contactar a soporte"),
                                     QStringLiteral("Base de Datos"), CajaMensajes::Icono::Error, 0}),
              1);
    Pulsar(QGuiApplication::applicationName(), QMessageBox::Question, QStringLiteral("Si"));
    EXPECT_EQ(CajaMensajes::Mostrar({QStringLiteral("Pregunta"), QString(), CajaMensajes::Icono::Pregunta, 4}), 6);
    Pulsar(QGuiApplication::applicationName(), QMessageBox::NoIcon, QStringLiteral("No"));
    EXPECT_EQ(CajaMensajes::Mostrar({QStringLiteral("Pregunta"), QString(), CajaMensajes::Icono::Ninguno, 4}), 7);

    EstablecerPresentadorMensaje(mensajeAnterior);
    CajaMensajes::EstablecerPresentador(cajaAnterior);
}
