#include "support/Bitacora.h"

#include "platform/CajaMensajes.h"
#include "platform/Reloj.h"
#include "platform/Rutas.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString& Prefijo() {
    static QString prefijo;
    return prefijo;
}

const QString kDirectorioLog = QStringLiteral("C:\\nodra\\log");

} // namespace

QString NombreBitacora() {
    return Prefijo();
}

QString RutaBitacora(const QDate& fecha) {
    // The prefix starts with a slash, which acts as a path separator: the file
    // lies in C:\nodra\, not in the log directory.
    const QString prefijo = Prefijo().isEmpty() ? QStringLiteral("/OrlanComTra") : Prefijo();
    return Rutas::Local(QStringLiteral("C:\\nodra") + prefijo + fecha.toString(QStringLiteral("ddMMyyyy")) +
                        QStringLiteral(".log"));
}

bool CrearRuta(const QString& ruta) {
    auto separador = [](QChar c) { return c == u'\\' || c == u'/'; };
    qsizetype inicio; // zero-based: just after "C:\", after "\\" or from the start
    if (ruta.contains(u':')) {
        inicio = 3;
        // The drive itself always exists on Windows; here it is a directory
        // that a fresh installation may not have yet.
        QDir().mkpath(Rutas::RaizUnidad());
    } else if (ruta.startsWith(QStringLiteral("\\\\"))) {
        inicio = 2;
    } else {
        inicio = 0;
    }
    while (inicio < ruta.size()) {
        qsizetype fin = inicio;
        while (fin < ruta.size() && !separador(ruta[fin])) {
            ++fin;
        }
        const QString local = Rutas::Local(ruta.left(fin));
        if (!local.isEmpty() && !QFileInfo(local).isDir()) {
            if (!QDir().mkdir(local)) {
                return false;
            }
        }
        inicio = fin + 1;
    }
    return QFileInfo(Rutas::Local(ruta)).isDir();
}

static std::unique_ptr<QFile> AbrirBitacoraDel(const QDate& fecha) {
    if (Prefijo().isEmpty()) {
        Prefijo() = QStringLiteral("/OrlanComTra");
    }
    if (!QFileInfo(Rutas::Local(kDirectorioLog)).isDir() && !CrearRuta(kDirectorioLog)) {
        CajaMensajes::Mostrar({QStringLiteral("Error en bitacora al crear el directorio C:\\nodra\\log !"), QString(),
                               CajaMensajes::Icono::Error, 0});
    }
    // Created for the owner and the group (0640), whatever the umask: the
    // log names printers, hosts and the database's answers.
    auto archivo = std::make_unique<QFile>(RutaBitacora(fecha));
    if (!archivo->open(QIODevice::WriteOnly | QIODevice::Append,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup)) {
        return nullptr;
    }
    return archivo;
}

std::unique_ptr<QFile> AbrirBitacora() {
    return AbrirBitacoraDel(Reloj::Ahora().date());
}

// A line break inside a message (database drivers put them in their texts)
// would start a line with no time stamp: each CR LF, CR or LF becomes a blank.
static QString UnaLinea(const QString& texto) {
    if (!texto.contains(u'\r') && !texto.contains(u'\n')) {
        return texto;
    }
    QString linea;
    linea.reserve(texto.size());
    for (qsizetype i = 0; i < texto.size(); ++i) {
        const QChar c = texto[i];
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < texto.size() && texto[i + 1] == u'\n') {
                ++i;
            }
            linea += u' ';
        } else {
            linea += c;
        }
    }
    return linea;
}

bool Registrar(const QString& texto) {
    // One reading of the clock dates both the file and the line, so a line
    // written at midnight cannot land in the other day's file.
    const QDateTime ahora = Reloj::Ahora();
    auto archivo = AbrirBitacoraDel(ahora.date());
    if (!archivo) {
        return false;
    }
    // The text follows the time stamp directly: messages that want a blank
    // before them carry it themselves.
    const QByteArray linea =
        (ahora.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) + UnaLinea(texto) + QStringLiteral("\r\n")).toUtf8();
    const bool escrito = archivo->write(linea) == linea.size();
    archivo->close();
    return escrito && archivo->error() == QFileDevice::NoError;
}

void RegistrarErroresBD(const ErroresProveedor& errores) {
    for (const ErrorProveedor& e : errores) {
        Registrar(QString::number(e.nativo) + e.descripcion + e.sqlState);
    }
}
