#include "database/AvisoCambios.h"

#include "database/BaseDatos.h"
#include "database/EscuchaPostgres.h"
#include "support/Bitacora.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

// A writer's job is several statements (the header, its lines, the release),
// each a change of the file: changes closer together than this are reported
// once, and a stream of them at least this often.
constexpr int kCalmaMs = 8;
constexpr int kEsperaMaximaMs = 40;

// The SQLite database file and its write-ahead log, watched through inotify.
// The directory is watched too, so that a log created or removed after the
// start is picked up. The server's own writes are reported like any other:
// the tick they cause finds nothing to do and writes nothing, so it does not
// go round again.
class AvisoSqlite : public AvisoCambios {
public:
    explicit AvisoSqlite(const QString& archivo) : m_archivo(QFileInfo(archivo).absoluteFilePath()) {
        m_calma.setSingleShot(true);
        m_calma.setTimerType(Qt::PreciseTimer);
        connect(&m_calma, &QTimer::timeout, this, [this] {
            m_primero.invalidate();
            emit Cambio(QString());
        });
        connect(&m_vigia, &QFileSystemWatcher::fileChanged, this, &AvisoSqlite::Cambiado);
        connect(&m_vigia, &QFileSystemWatcher::directoryChanged, this, &AvisoSqlite::Cambiado);
        m_vigia.addPath(QFileInfo(m_archivo).absolutePath());
        Vigilar();
    }

    bool Escuchando() const override { return m_vigia.files().contains(m_archivo); }

private:
    void Vigilar() {
        for (const QString& ruta : {m_archivo, m_archivo + QStringLiteral("-wal")}) {
            if (!m_vigia.files().contains(ruta) && QFileInfo::exists(ruta)) {
                m_vigia.addPath(ruta);
            }
        }
    }
    void Cambiado() {
        // A file replaced or removed drops out of the watch; put it back.
        Vigilar();
        if (!m_primero.isValid()) {
            m_primero.start();
        }
        m_calma.start(m_primero.elapsed() >= kEsperaMaximaMs - kCalmaMs ? 0 : kCalmaMs);
    }

    QString m_archivo;
    QFileSystemWatcher m_vigia;
    QTimer m_calma;
    QElapsedTimer m_primero;
};

} // namespace

QString ValorCadenaConexion(const QString& cadena, const QString& clave) {
    qsizetype i = 0;
    while (i < cadena.size()) {
        const qsizetype igual = cadena.indexOf(u'=', i);
        const qsizetype corte = cadena.indexOf(u';', i);
        if (igual < 0) {
            break;
        }
        if (corte >= 0 && corte < igual) { // a part without "=" is skipped
            i = corte + 1;
            continue;
        }
        const QString nombre = cadena.mid(i, igual - i).trimmed();
        QString valor;
        i = igual + 1;
        if (i < cadena.size() && cadena[i] == u'{') {
            // In braces: up to the first "}" that is not doubled.
            for (++i; i < cadena.size(); ++i) {
                if (cadena[i] == u'}') {
                    if (i + 1 < cadena.size() && cadena[i + 1] == u'}') {
                        ++i;
                    } else {
                        break;
                    }
                }
                valor += cadena[i];
            }
            const qsizetype fin = cadena.indexOf(u';', i);
            i = fin < 0 ? cadena.size() : fin + 1;
        } else {
            const qsizetype fin = cadena.indexOf(u';', i);
            valor = cadena.mid(i, fin < 0 ? -1 : fin - i);
            i = fin < 0 ? cadena.size() : fin + 1;
        }
        if (!nombre.isEmpty() && nombre.compare(clave, Qt::CaseInsensitive) == 0) {
            return valor;
        }
    }
    return QString();
}

std::unique_ptr<AvisoCambios> AvisoCambios::Crear() {
    const Conexion& conexion = Conexion::Instancia();
    const QString controlador = conexion.Controlador().toLower();
    const QString cadena = conexion.Cadena();
    if (controlador.contains(QLatin1String("psqlodbc"))) {
        return std::make_unique<EscuchaPostgres>(
            ValorCadenaConexion(cadena, QStringLiteral("server")),
            ValorCadenaConexion(cadena, QStringLiteral("database")), ValorCadenaConexion(cadena, QStringLiteral("uid")),
            ValorCadenaConexion(cadena, QStringLiteral("pwd")), ValorCadenaConexion(cadena, QStringLiteral("port")));
    }
    if (controlador.contains(QLatin1String("sqlite"))) {
        return std::make_unique<AvisoSqlite>(ValorCadenaConexion(cadena, QStringLiteral("database")));
    }
    Registrar(QStringLiteral("Cola Impresion, Despertar no disponible con el controlador ") + conexion.Controlador() +
              QStringLiteral(", se consulta cada 2 s"));
    return nullptr;
}
