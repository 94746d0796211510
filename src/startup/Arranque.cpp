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
#include <memory>

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

    const QString bitacora = RutaBitacora(Reloj::Ahora().date());
    std::unique_ptr<ServidorCola> servidor;
    bool sirviendo = true;
    if (opciones.mostrarVentana) {
        sirviendo = opciones.mostrarVentana();
        if (!sirviendo) {
            std::fprintf(stderr,
                         "orlan-cola: no se pudieron cargar las impresoras de la terminal %d; la ventana queda a la "
                         "vista sin servir la cola; vea la bitacora en %s\n",
                         NumeroTerminal, bitacora.toLocal8Bit().constData());
        }
    } else {
        servidor = std::make_unique<ServidorCola>(NumeroTerminal);
        if (!servidor->Cargar()) {
            std::fprintf(stderr,
                         "orlan-cola: no se pudieron cargar las impresoras de la terminal %d; vea la bitacora en %s\n",
                         NumeroTerminal, bitacora.toLocal8Bit().constData());
            return kSalidaCarga;
        }
    }
    // A stop request is handled between events, so a tick that is printing
    // finishes its job first.
    Senales::AlTerminar([](int) { QCoreApplication::quit(); });
    // A statement that holds the tick (a lock another terminal keeps, a slow
    // plan) would keep the stop request waiting as long as it runs: it is
    // cancelled at once, the tick ends on its failure, and no later statement
    // starts. A job whose deletion was cancelled is printed again next time.
    Senales::AlTerminarDesdeOtroHilo([] { Conexion::Instancia().Interrumpir(); });
    if (sirviendo) {
        std::printf("orlan-cola: sirviendo la cola de impresion (%s)\n",
                    opciones.servicio ? "servicio" : (opciones.mostrarVentana ? "ventana" : "sin ventana"));
        std::fflush(stdout);
    }
    QCoreApplication::exec();
    Registrar(QStringLiteral("Apagando Servidor de Comunicaciones"));
    return kSalidaNormal;
}
