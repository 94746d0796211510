// orlan-panel: the shop's printers and queues at a glance, as a web page, JSON
// and metrics, read from the same database as orlan-cola.

#include "database/BaseDatos.h"
#include "panel/ServidorPanel.h"
#include "platform/Consola.h"
#include "platform/Senales.h"
#include "platform/Volcados.h"
#include "support/Bitacora.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

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

// Raises the soft limit of open descriptors to the hard one (the unit sets
// both) and returns how many connections that leaves room for: the database,
// the log and the listening socket need some of their own.
int MaximoConexiones() {
    rlimit limite{};
    if (::getrlimit(RLIMIT_NOFILE, &limite) != 0) {
        return 900;
    }
    if (limite.rlim_cur < limite.rlim_max) {
        limite.rlim_cur = std::min<rlim_t>(limite.rlim_max, 65536);
        ::setrlimit(RLIMIT_NOFILE, &limite);
        ::getrlimit(RLIMIT_NOFILE, &limite);
    }
    return int(std::clamp<rlim_t>(limite.rlim_cur, 256, 65536) - 128);
}

} // namespace

int main(int argc, char** argv) {
    Volcados::Impedir();
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
    const QCommandLineOption nombre(
        QStringLiteral("nombre"),
        QStringLiteral("Otro nombre con que se llega al panel (ademas de su direccion y localhost); repetible."),
        QStringLiteral("NOMBRE"));
    opciones.addOption(nombre);
    const QCommandLineOption proxy(
        QStringLiteral("proxy-confiable"),
        QStringLiteral("Direccion de un proxy inverso cuyos X-Forwarded-For, -Proto y -Host se creen; repetible."),
        QStringLiteral("DIRECCION"));
    opciones.addOption(proxy);
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

    QList<QHostAddress> proxies;
    for (const QString& texto : opciones.values(proxy)) {
        QHostAddress confiable;
        if (!confiable.setAddress(texto)) {
            std::fprintf(stderr, "orlan-panel: direccion de proxy invalida '%s'\n", texto.toLocal8Bit().constData());
            return 1;
        }
        proxies.append(confiable);
    }

    ServidorPanel servidor;
    servidor.EstablecerNombres(opciones.values(nombre));
    servidor.EstablecerProxies(proxies);
    servidor.EstablecerMaximoConexiones(MaximoConexiones());
    QString motivo;
    const quint16 escuchando = servidor.Escuchar(direccion, puerto, &motivo);
    if (escuchando == 0) {
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
