// orlan-panel: the shop's printers and queues at a glance, as a web page, JSON
// and metrics, read from the same database as orlan-cola.

#include "database/BaseDatos.h"
#include "panel/ServidorPanel.h"
#include "platform/Consola.h"
#include "platform/Senales.h"
#include "support/Bitacora.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <cstdio>

namespace {

// "ADDRESS:PORT", the address of IPv6 in brackets ("[::]:8631").
bool LeerDireccion(const QString& texto, QHostAddress& direccion, quint16& puerto) {
    const qsizetype dos = texto.lastIndexOf(u':');
    if (dos <= 0) {
        return false;
    }
    QString anfitrion = texto.left(dos);
    if (anfitrion.startsWith(u'[') && anfitrion.endsWith(u']')) {
        anfitrion = anfitrion.mid(1, anfitrion.size() - 2);
    }
    bool ok = false;
    const uint numero = texto.mid(dos + 1).toUInt(&ok);
    if (!ok || numero > 65535 || !direccion.setAddress(anfitrion)) {
        return false;
    }
    puerto = static_cast<quint16>(numero);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orlan-panel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORLAN_VERSION));

    QCommandLineParser opciones;
    opciones.setApplicationDescription(
        QStringLiteral("Panel de estado: impresoras y colas de todas las terminales, en una pagina web."));
    const auto [ayuda, version] = Consola::AgregarAyuda(opciones);
    const QCommandLineOption escuchar(QStringLiteral("escuchar"),
                                      QStringLiteral("Direccion y puerto donde atiende (por omision 127.0.0.1:8631)."),
                                      QStringLiteral("DIRECCION:PUERTO"), QStringLiteral("127.0.0.1:8631"));
    opciones.addOption(escuchar);
    if (!opciones.parse(app.arguments())) {
        std::fprintf(stderr, "orlan-panel: %s\nPruebe 'orlan-panel --help'.\n",
                     opciones.errorText().toLocal8Bit().constData());
        return 1;
    }
    if (opciones.isSet(ayuda)) {
        std::fputs(Consola::Ayuda(opciones).toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (opciones.isSet(version)) {
        std::printf("orlan-panel %s\n", ORLAN_VERSION);
        return 0;
    }

    QHostAddress direccion;
    quint16 puerto = 0;
    if (!LeerDireccion(opciones.value(escuchar), direccion, puerto)) {
        std::fprintf(stderr, "orlan-panel: direccion invalida '%s' (se espera DIRECCION:PUERTO)\n",
                     opciones.value(escuchar).toLocal8Bit().constData());
        return 1;
    }

    ServidorPanel servidor;
    const quint16 escuchando = servidor.listen(direccion, puerto);
    if (escuchando == 0) {
        const QString motivo = servidor.servers().isEmpty() ? QString() : servidor.servers().first()->errorString();
        std::fprintf(stderr, "orlan-panel: no se puede atender en %s: %s\n",
                     opciones.value(escuchar).toLocal8Bit().constData(), motivo.toLocal8Bit().constData());
        return 2;
    }
    const QString anfitrion = direccion.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + direccion.toString() + u']'
                                                                                    : direccion.toString();
    const QString url = QStringLiteral("http://%1:%2/").arg(anfitrion).arg(escuchando);
    Registrar(QStringLiteral("Iniciando panel en ") + url);
    std::fprintf(stderr, "orlan-panel: atendiendo en %s\n", url.toLocal8Bit().constData());
    std::fflush(stderr);
    // The database is opened by the first request that needs it, and again
    // after it was lost: the panel starts and answers whether or not the
    // database is reachable.
    Senales::AlTerminar([](int) { QCoreApplication::quit(); });
    const int salida = app.exec();
    Registrar(QStringLiteral("Apagando panel"));
    return salida;
}
