#include "startup/Arranque.h"

#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "platform/CajaMensajes.h"
#include "startup/Estado.h"
#include "support/Bitacora.h"

#include <cstdio>
#include <limits>

quint8 MostrarMensaje(const QString& texto, int botones) {
    // Until the system's own message box exists this is the platform's box.
    const CajaMensajes::Icono icono = botones == 16  ? CajaMensajes::Icono::Error
                                      : botones == 4 ? CajaMensajes::Icono::Pregunta
                                                     : CajaMensajes::Icono::Ninguno;
    return static_cast<quint8>(CajaMensajes::Mostrar({texto, QString(), icono, botones}));
}

int Arrancar(const OpcionesArranque& opciones) {
    Q_UNUSED(opciones);
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
    // The queue server starts here once it exists; until then a successful
    // start ends after the connection is open.
    std::printf("orlan-cola: terminal %d, conexion abierta con %s\n", NumeroTerminal,
                NombreServidor.toLocal8Bit().constData());
    std::fflush(stdout);
    return kSalidaNormal;
}
