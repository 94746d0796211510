#include "startup/Arranque.h"
#include "startup/gui/ArranqueVentana.h"
#include "startup/gui/ModoVentana.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <sys/prctl.h>

// Window mode: orlan-cola executes this program, with its own arguments
// (already checked) and process, when no option asks for anything else. It is
// a program of its own so that service mode never maps the GUI libraries.
int main(int argc, char** argv) {
    // The process keeps the name operators and scripts know it by (ps, top);
    // argv[0] is orlan-cola's, which also names the windows' class.
    prctl(PR_SET_NAME, "orlan-cola", 0, 0, 0);
    QCoreApplication::setApplicationName(QStringLiteral("orlan-cola"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORLAN_VERSION));

    QString motivo;
    if (!PantallaDisponible(argc, argv, &motivo)) {
        std::fprintf(stderr,
                     "orlan-cola: %s.\n"
                     "El modo ventana necesita una pantalla; use --servicio para servir la cola sin ventana.\n",
                     motivo.toLocal8Bit().constData());
        return kSalidaSinPantalla;
    }
    QApplication app(argc, argv);
    PrepararModoVentana();
    OpcionesArranque arranque;
    arranque.mostrarVentana = MostrarServidor;
    return Arrancar(arranque);
}
