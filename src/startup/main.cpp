#include "startup/Arranque.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
    opciones.process(app);

    return Arrancar({opciones.isSet(servicio)});
}
