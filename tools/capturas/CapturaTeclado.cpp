#include "Capturas.h"

#include "dialogs/frmTecladoLibre.h"

#include <QLineEdit>

namespace {

// The keyboard as its caller leaves it before showing it; the activation that
// comes with the showing builds the layout that `qwerty` asks for.
std::unique_ptr<QWidget> Teclado(bool qwerty, const QString& caracter, const QString& texto) {
    auto teclado = std::make_unique<frmTecladoLibre>();
    teclado->MsTitulo = qwerty ? QStringLiteral("Ingresar usuario") : QStringLiteral("Ingresar contraseña");
    EstablecerPasswordChar(teclado->txtTexto, caracter);
    teclado->MfTecladoQWERTY = qwerty;
    teclado->txtTexto->setText(texto);
    return teclado;
}

const bool qwerty = RegistrarCaptura(
    {QStringLiteral("teclado-qwerty.png"), [] { return Teclado(true, QString(), QStringLiteral("GERENTE")); }});
const bool alfabetico = RegistrarCaptura({QStringLiteral("teclado-abcdef.png"), [] {
                                              return Teclado(false, QStringLiteral("*"), QStringLiteral("CLAVE12"));
                                          }});

} // namespace
