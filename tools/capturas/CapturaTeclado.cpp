#include "Capturas.h"

#include "dialogs/frmTecladoLibre.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The keyboard as the login shows it: the showing's activation builds the
// QWERTY layout; for the alphabetical one the operator then presses the
// layout button. Then the keys typed so far.
std::unique_ptr<QWidget> Teclado(bool qwerty, const QString& caracter, const QString& texto) {
    auto teclado = std::make_unique<frmTecladoLibre>();
    teclado->MsTitulo = caracter.isEmpty() ? QStringLiteral("Ingresar usuario") : QStringLiteral("Ingresar contraseña");
    EstablecerPasswordChar(teclado->txtTexto, caracter);
    teclado->MfTecladoQWERTY = true;
    teclado->txtTexto->clear();
    teclado->show();
    teclado->activateWindow();
    for (int i = 0; i < 50 && teclado->cmdLetra.size() == 1; ++i) {
        QApplication::processEvents();
    }
    if (!qwerty) {
        teclado->cmdTipoTeclado->click();
    }
    teclado->txtTexto->setText(texto);
    return teclado;
}

const bool qwerty = RegistrarCaptura(
    {QStringLiteral("teclado-qwerty.png"), [] { return Teclado(true, QString(), QStringLiteral("GERENTE")); }});
const bool alfabetico = RegistrarCaptura({QStringLiteral("teclado-abcdef.png"), [] {
                                              return Teclado(false, QStringLiteral("*"), QStringLiteral("CLAVE12"));
                                          }});
const bool grande = RegistrarCaptura({QStringLiteral("teclado-qwerty-1024x768.png"),
                                      [] { return Teclado(true, QString(), QStringLiteral("GERENTE")); },
                                      {1024, 768}});

} // namespace
