#include "startup/gui/ArranqueVentana.h"

#include "dialogs/FrmLogin.h"
#include "dialogs/VolverAlServidor.h"
#include "server/gui/Server.h"
#include "support/Estado.h"

bool MostrarServidor() {
    // Never deleted: the window lives as long as the process.
    auto* ventana = new Server(NumeroTerminal);
    RegistrarVentanaPrincipal(ventana, &FrmLogin::Valido);
    return ventana->Form_Load();
}
