#include "platform/Consola.h"
#include "platform/Servicio.h"
#include "platform/Volcados.h"
#include "startup/Arranque.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

// Window mode is a program of its own, so that this one (the service) links
// no GUI library. It is looked for next to this program (the build tree),
// then in the package's private directory (ORLAN_VENTANA_INSTALADA, relative
// to the directory of the installed orlan-cola). It replaces this process with
// the same arguments, so the window mode runs under the same process id. Only
// returns when it cannot be executed, which on a till without a screen means
// that its package, orlan-cola-ventana, is not installed.
static int EjecutarModoVentana(char** argv) {
    std::error_code error;
    const std::filesystem::path aqui = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    const std::filesystem::path instalado = aqui / ORLAN_VENTANA_INSTALADA;
    // Without /proc/self/exe the paths would be relative to the working
    // directory: nothing is executed then.
    if (!error) {
        ::execv((aqui / "orlan-cola-ventana").c_str(), argv);
        ::execv(instalado.c_str(), argv);
    }
    std::fprintf(stderr,
                 "orlan-cola: no se pudo ejecutar el modo ventana %s: %s.\n"
                 "El modo ventana esta en el paquete orlan-cola-ventana: instalelo, o use --servicio para "
                 "servir la cola sin ventana.\n",
                 instalado.lexically_normal().c_str(), std::strerror(errno));
    return kSalidaInstalacion;
}

int main(int argc, char** argv) {
    Volcados::Impedir();
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
        OpcionesArranque arranque;
        arranque.servicio = true;
        if (Servicio::Gestionado()) {
            // The settings, the credentials and the event log belong to one
            // operator's account; as root they would go to root's home.
            if (Servicio::ComoAdministrador()) {
                std::fputs("orlan-cola: el servidor no se ejecuta como root; use orlan-cola@USUARIO.service con el "
                           "usuario de la terminal\n",
                           stderr);
                return kSalidaInstalacion;
            }
            arranque.reintentar = true;
        }
        return Arrancar(arranque);
    }

    return EjecutarModoVentana(argv);
}
