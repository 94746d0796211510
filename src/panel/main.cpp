// orlan-panel: the shop's printers and queues at a glance, as a web page, JSON
// and metrics, read from the same database as orlan-cola.

#include "database/BaseDatos.h"
#include "panel/ServidorPanel.h"
#include "platform/ArchivoRegular.h"
#include "platform/Consola.h"
#include "platform/Senales.h"
#include "platform/Volcados.h"
#include "support/Bitacora.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <algorithm>
#include <cstdio>
#include <optional>
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

// A PEM file of --certificado or --llave, whole; nothing (and the reason on
// stderr) when it is missing, unreadable or not PEM. A private key readable by
// anyone but the service's user is refused: whoever reads it can pose as the panel.
std::optional<QByteArray> LeerPem(const QString& ruta, const char* opcion, const QByteArray& marca, bool privada) {
    const QByteArray nombre = ruta.toLocal8Bit();
    ArchivoRegular archivo(ruta);
    if (archivo.estado() == ArchivoRegular::Estado::Ausente) {
        std::fprintf(stderr, "orlan-panel: %s: no existe el archivo '%s'\n", opcion, nombre.constData());
        return std::nullopt;
    }
    if (archivo.estado() != ArchivoRegular::Estado::Abierto) {
        std::fprintf(stderr, "orlan-panel: %s: no se puede leer '%s': %s\n", opcion, nombre.constData(),
                     archivo.Motivo().toLocal8Bit().constData());
        return std::nullopt;
    }
    if (privada && (archivo.Permisos() & 077)) {
        std::fprintf(stderr,
                     "orlan-panel: %s: el archivo '%s' tiene permisos %04o; otros usuarios pueden leer la llave, "
                     "se rechaza (chmod 600 '%s')\n",
                     opcion, nombre.constData(), archivo.Permisos() & 0777, nombre.constData());
        return std::nullopt;
    }
    const std::optional<QByteArray> contenido = archivo.Leer();
    if (!contenido) {
        std::fprintf(stderr, "orlan-panel: %s: no se puede leer '%s': %s\n", opcion, nombre.constData(),
                     archivo.Motivo().toLocal8Bit().constData());
        return std::nullopt;
    }
    if (!contenido->contains("-----BEGIN ") || !contenido->contains(marca)) {
        std::fprintf(stderr, "orlan-panel: %s: '%s' no es un archivo PEM con %s\n", opcion, nombre.constData(),
                     privada ? "una llave privada" : "un certificado");
        return std::nullopt;
    }
    return contenido;
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
    const QCommandLineOption certificado(
        QStringLiteral("certificado"),
        QStringLiteral("Certificado del panel (PEM, con su cadena); con --llave, el panel atiende solo HTTPS."),
        QStringLiteral("ARCHIVO"));
    opciones.addOption(certificado);
    const QCommandLineOption llave(QStringLiteral("llave"),
                                   QStringLiteral("Llave privada del certificado (PEM, permisos 0600)."),
                                   QStringLiteral("ARCHIVO"));
    opciones.addOption(llave);
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

    if (opciones.isSet(certificado) != opciones.isSet(llave)) {
        std::fprintf(stderr, "orlan-panel: --certificado y --llave van juntos\n");
        return 1;
    }
    std::optional<QByteArray> pemCertificado, pemLlave;
    if (opciones.isSet(certificado)) {
        pemCertificado = LeerPem(opciones.value(certificado), "--certificado", "CERTIFICATE-----", false);
        pemLlave = LeerPem(opciones.value(llave), "--llave", "PRIVATE KEY-----", true);
        if (!pemCertificado || !pemLlave) {
            return 1;
        }
    }

    ServidorPanel servidor;
    if (pemCertificado) {
        servidor.EstablecerTls(*pemCertificado, *pemLlave);
    }
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
    const QString url = QStringLiteral("%1://%2:%3/").arg(pemCertificado ? "https" : "http", anfitrion).arg(escuchando);
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
