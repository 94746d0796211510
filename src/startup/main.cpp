#include "startup/Arranque.h"
#include "startup/gui/ModoVentana.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("orlan-cola"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORLAN_VERSION));

    QCommandLineParser opciones;
    opciones.setApplicationDescription(
        QStringLiteral("Servidor de la cola de impresion: imprime los trabajos de esta terminal."));
    const QCommandLineOption ayuda = opciones.addHelpOption();
    const QCommandLineOption version = opciones.addVersionOption();
    const QCommandLineOption servicio(QStringLiteral("servicio"),
                                      QStringLiteral("Sin ventana: los mensajes van a la salida de errores."));
    opciones.addOption(servicio);

    // The mode is chosen before any application object exists: service mode,
    // help, version and mistyped options never need a display.
    QStringList argumentos;
    for (int i = 0; i < argc; ++i) {
        argumentos << QString::fromLocal8Bit(argv[i]);
    }
    const bool entendidas = opciones.parse(argumentos);
    if (!entendidas || opciones.isSet(ayuda) || opciones.isSet(version) || opciones.isSet(servicio)) {
        QCoreApplication app(argc, argv);
        opciones.process(app); // answers help, version and errors, and exits
        return Arrancar({true});
    }

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
    return Arrancar({false});
}
