#include "Capturas.h"

#include "dialogs/FrmLogin.h"

#include <QFont>
#include <QLineEdit>

namespace {

const bool login =
    RegistrarCaptura({QStringLiteral("login.png"), [] {
                          QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
                          auto dialogo = std::make_unique<FrmLogin>();
                          dialogo->txtUsuario->setText(QStringLiteral("gerente"));
                          dialogo->txtContraseña->setText(QStringLiteral("secreta"));
                          return std::unique_ptr<QWidget>(std::move(dialogo));
                      }});

} // namespace
