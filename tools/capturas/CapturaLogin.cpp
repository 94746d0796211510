#include "Capturas.h"

#include "dialogs/FrmLogin.h"

#include <QLineEdit>

namespace {

const bool login = RegistrarCaptura({QStringLiteral("login.png"), [] {
                                         auto dialogo = std::make_unique<FrmLogin>();
                                         dialogo->txtUsuario->setText(QStringLiteral("gerente"));
                                         dialogo->txtContraseña->setText(QStringLiteral("secreta"));
                                         return std::unique_ptr<QWidget>(std::move(dialogo));
                                     }});

} // namespace
