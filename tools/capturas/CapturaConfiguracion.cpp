#include "Capturas.h"

#include "config/frmConfigPrinters.h"
#include "platform/Ajustes.h"
#include "printer/ctlImpresora.h"

#include <QCheckBox>
#include <QTemporaryDir>

namespace {

// The printer configuration form on a COM1 printer already set up: Epson at
// 19200 baud, with bold, underline and the cutter ticked. The settings come
// from a store of its own, never from the user's.
const bool registrada = RegistrarCaptura(
    {QStringLiteral("configuracion.png"), [] {
         static QTemporaryDir directorio;
         static ctlImpresora pr2;
         const QByteArray anterior =
             qEnvironmentVariableIsSet("XDG_CONFIG_HOME") ? qgetenv("XDG_CONFIG_HOME") : QByteArray();
         qputenv("XDG_CONFIG_HOME", directorio.path().toUtf8());
         for (auto [clave, valor] : {std::pair{"Modo", "E"}, std::pair{"Settings", "19200,N,8,1"},
                                     std::pair{"negrita", "1"}, std::pair{"subrayado", "1"}, std::pair{"corte", "1"}}) {
             Ajustes::Guardar(QStringLiteral("orlan"), QStringLiteral("COM1"), clave, valor);
         }
         auto forma = std::make_unique<frmConfigPrinters>(pr2);
         forma->Ch_Logo->setChecked(true);
         if (anterior.isNull()) {
             qunsetenv("XDG_CONFIG_HOME");
         } else {
             qputenv("XDG_CONFIG_HOME", anterior);
         }
         return std::unique_ptr<QWidget>(std::move(forma));
     }});

} // namespace
