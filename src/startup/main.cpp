#include "platform/Consola.h"
#include "startup/Arranque.h"
#include "startup/gui/ArranqueVentana.h"
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
    const auto [ayuda, version] = Consola::AgregarAyuda(opciones);
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
        if (!entendidas) {
            std::fprintf(stderr, "orlan-cola: opcion desconocida: %s\nPruebe 'orlan-cola --help'.\n",
                         opciones.unknownOptionNames().join(QStringLiteral(", ")).toLocal8Bit().constData());
            return kSalidaInstalacion;
        }
        if (opciones.isSet(ayuda)) {
            std::fputs(Consola::Ayuda(opciones).toLocal8Bit().constData(), stdout);
            return kSalidaNormal;
        }
        if (opciones.isSet(version)) {
            std::printf("orlan-cola %s\n", ORLAN_VERSION);
            return kSalidaNormal;
        }
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
    OpcionesArranque arranque;
    arranque.mostrarVentana = MostrarServidor;
    return Arrancar(arranque);
}
