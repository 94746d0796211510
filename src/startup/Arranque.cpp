#include "startup/Arranque.h"

#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "platform/CajaMensajes.h"
#include "platform/Reloj.h"
#include "platform/Senales.h"
#include "server/ServidorCola.h"
#include "startup/Estado.h"
#include "support/Bitacora.h"

#include <QCoreApplication>
#include <cstdio>
#include <limits>

namespace {
PresentadorMensaje presentadorMensaje;
}

PresentadorMensaje EstablecerPresentadorMensaje(PresentadorMensaje presentador) {
    std::swap(presentadorMensaje, presentador);
    return presentador;
}

quint8 MostrarMensaje(const QString& texto, int botones) {
    if (presentadorMensaje) {
        return presentadorMensaje(texto, botones);
    }
    const CajaMensajes::Icono icono = botones == 16  ? CajaMensajes::Icono::Error
                                      : botones == 4 ? CajaMensajes::Icono::Pregunta
                                                     : CajaMensajes::Icono::Ninguno;
    return static_cast<quint8>(CajaMensajes::Mostrar({texto, QString(), icono, botones}));
}

int Arrancar(const OpcionesArranque& opciones) {
    Ajustes::EstablecerAvisos([](const QString& aviso) { Registrar(aviso); });

    const QString terminal =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Configuracion"), QStringLiteral("Terminal"), "0");
    bool esNumero = false;
    const int numero = terminal.trimmed().toInt(&esNumero);
    const bool cabe = numero >= std::numeric_limits<qint16>::min() && numero <= std::numeric_limits<qint16>::max();
    if (!esNumero || !cabe) {
        Registrar(QStringLiteral("Valor no valido en Configuracion/Terminal: \"") + terminal + u'"');
    }
    if (!esNumero || !cabe || numero == 0) {
        MostrarMensaje(QStringLiteral("Error de instalación, faltan parametros"), 16);
        return kSalidaInstalacion;
    }
    NumeroTerminal = static_cast<qint16>(numero);

    if (!Conectar()) {
        return kSalidaConexion;
    }
    std::printf("orlan-cola: terminal %d, conexion abierta con %s\n", NumeroTerminal,
                NombreServidor.toLocal8Bit().constData());
    std::fflush(stdout);

    // In window mode the server window is shown here: loading it reads the
    // printers and starts serving. Until it exists both modes serve the queue
    // without a window.
    ServidorCola servidor(NumeroTerminal);
    if (!servidor.Cargar()) {
        std::fprintf(stderr,
                     "orlan-cola: no se pudieron cargar las impresoras de la terminal %d; vea la bitacora en %s\n",
                     NumeroTerminal, RutaBitacora(Reloj::Ahora().date()).toLocal8Bit().constData());
        return kSalidaCarga;
    }
    // A stop request is handled between events, so a tick that is printing
    // finishes its job first.
    Senales::AlTerminar([](int) { QCoreApplication::quit(); });
    std::printf("orlan-cola: sirviendo la cola de impresion (%s)\n", opciones.servicio ? "servicio" : "modo ventana");
    std::fflush(stdout);
    QCoreApplication::exec();
    Registrar(QStringLiteral("Apagando Servidor de Comunicaciones"));
    return kSalidaNormal;
}
