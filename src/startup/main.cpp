#include "startup/Arranque.h"
#include "startup/gui/ArranqueVentana.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstring>
#include <memory>

namespace {

// Whether an argument asks for service mode, or only for the help or version
// text, which need no window either.
bool SinVentana(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* opcion : {"--servicio", "--help", "-h", "--help-all", "--version", "-v", "-?"}) {
            if (std::strcmp(argv[i], opcion) == 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    std::unique_ptr<QCoreApplication> app = SinVentana(argc, argv)
                                                ? std::make_unique<QCoreApplication>(argc, argv)
                                                : std::unique_ptr<QCoreApplication>(CrearAplicacionVentana(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("orlan-cola"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORLAN_VERSION));

    QCommandLineParser opciones;
    opciones.setApplicationDescription(
        QStringLiteral("Servidor de la cola de impresion: imprime los trabajos de esta terminal."));
    opciones.addHelpOption();
    opciones.addVersionOption();
    const QCommandLineOption servicio(QStringLiteral("servicio"),
                                      QStringLiteral("Sin ventana: los mensajes van a la salida de errores."));
    opciones.addOption(servicio);
    opciones.process(*app);

    OpcionesArranque arranque;
    arranque.servicio = opciones.isSet(servicio);
    if (!arranque.servicio) {
        InstalarCajasVentana();
        arranque.mostrarVentana = MostrarServidor;
    }
    return Arrancar(arranque);
}
