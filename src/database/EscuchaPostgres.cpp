#include "database/EscuchaPostgres.h"

#include "support/Bitacora.h"

#include <libpq-fe.h>

namespace {
constexpr int kEsperaMinimaMs = 500;
constexpr int kEsperaMaximaMs = 30000;

// A notifier may be let go from inside its own signal: it is deleted later.
void Soltar(std::unique_ptr<QSocketNotifier>& notificador) {
    if (notificador) {
        notificador->setEnabled(false);
        notificador.release()->deleteLater();
    }
}
} // namespace

EscuchaPostgres::EscuchaPostgres(QString servidor, QString baseDatos, QString usuario, QString contrasena,
                                 QString puerto, QObject* parent)
    : AvisoCambios(parent), m_servidor(std::move(servidor)), m_baseDatos(std::move(baseDatos)),
      m_usuario(std::move(usuario)), m_contrasena(std::move(contrasena)), m_puerto(std::move(puerto)) {
    m_reintento.setSingleShot(true);
    connect(&m_reintento, &QTimer::timeout, this, &EscuchaPostgres::Conectar);
    Conectar();
}

EscuchaPostgres::~EscuchaPostgres() {
    Cerrar();
}

void EscuchaPostgres::Cerrar() {
    Soltar(m_lectura);
    Soltar(m_escritura);
    if (m_pg) {
        PQfinish(m_pg);
        m_pg = nullptr;
    }
    m_conectando = false;
    m_escuchando = false;
}

void EscuchaPostgres::Vigilar(bool lectura, bool escritura) {
    Soltar(m_lectura);
    Soltar(m_escritura);
    const int socket = PQsocket(m_pg);
    if (socket < 0) {
        return;
    }
    if (lectura) {
        m_lectura = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
        connect(m_lectura.get(), &QSocketNotifier::activated, this, [this] { m_conectando ? Avanzar() : Leer(); });
    }
    if (escritura) {
        m_escritura = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
        connect(m_escritura.get(), &QSocketNotifier::activated, this, &EscuchaPostgres::Avanzar);
    }
}

void EscuchaPostgres::Conectar() {
    Cerrar();
    const QByteArray servidor = m_servidor.toUtf8(), base = m_baseDatos.toUtf8(), usuario = m_usuario.toUtf8(),
                     contrasena = m_contrasena.toUtf8(), puerto = m_puerto.toUtf8();
    // Keep-alives and the user time-out notice a peer that vanished without
    // closing (a link that dropped) within seconds (TCP only). As
    // on every connection of ours, a backslash is a plain character inside
    // '...', whatever the server's or the database's own setting.
    const char* claves[] = {"host",
                            "dbname",
                            "user",
                            "password",
                            "port",
                            "application_name",
                            "keepalives",
                            "keepalives_idle",
                            "keepalives_interval",
                            "keepalives_count",
                            "tcp_user_timeout",
                            "connect_timeout",
                            "options",
                            nullptr};
    const char* valores[] = {servidor.constData(),
                             base.constData(),
                             usuario.constData(),
                             contrasena.constData(),
                             puerto.constData(), // empty: libpq's default
                             "orlan-cola escucha",
                             "1",
                             "4",
                             "1",
                             "3",
                             "8000",
                             "10",
                             "-c standard_conforming_strings=on",
                             nullptr};
    m_pg = PQconnectStartParams(claves, valores, 0);
    if (!m_pg || PQstatus(m_pg) == CONNECTION_BAD) {
        Perder(m_pg ? QString::fromUtf8(PQerrorMessage(m_pg)).trimmed() : QStringLiteral("sin memoria"));
        return;
    }
    // The server's notices (its reason for closing the connection, say) are
    // not for standard error; a lost connection is logged by Perder.
    PQsetNoticeProcessor(
        m_pg, [](void*, const char*) {}, nullptr);
    m_conectando = true;
    Vigilar(false, true);
}

void EscuchaPostgres::Avanzar() {
    if (!m_conectando) {
        return;
    }
    switch (PQconnectPoll(m_pg)) {
    case PGRES_POLLING_READING:
        Vigilar(true, false);
        return;
    case PGRES_POLLING_WRITING:
        Vigilar(false, true);
        return;
    case PGRES_POLLING_OK: {
        m_conectando = false;
        PQsetnonblocking(m_pg, 1);
        const QByteArray listen = QByteArray("LISTEN ") + kCanal;
        if (!PQsendQuery(m_pg, listen.constData())) {
            Perder(QString::fromUtf8(PQerrorMessage(m_pg)).trimmed());
            return;
        }
        PQflush(m_pg);
        Vigilar(true, false);
        return;
    }
    default:
        Perder(QString::fromUtf8(PQerrorMessage(m_pg)).trimmed());
        return;
    }
}

void EscuchaPostgres::Leer() {
    if (!PQconsumeInput(m_pg)) {
        Perder(QString::fromUtf8(PQerrorMessage(m_pg)).trimmed());
        return;
    }
    while (!PQisBusy(m_pg)) {
        PGresult* resultado = PQgetResult(m_pg);
        if (!resultado) {
            break;
        }
        const bool bien = PQresultStatus(resultado) == PGRES_COMMAND_OK;
        const QString error = QString::fromUtf8(PQresultErrorMessage(resultado)).trimmed();
        PQclear(resultado);
        if (!bien) {
            Perder(error);
            return;
        }
        if (!m_escuchando) {
            m_escuchando = true;
            m_esperaMs = kEsperaMinimaMs;
            if (std::exchange(m_perdida, false)) {
                Registrar(QStringLiteral("Cola Impresion, escucha de avisos de la base de datos restablecida"));
                emit Cambio(QString());
            }
        }
    }
    bool hubo = false;
    QString impresora;
    while (PGnotify* aviso = PQnotifies(m_pg)) {
        impresora = hubo && impresora != QString::fromUtf8(aviso->extra) ? QString() : QString::fromUtf8(aviso->extra);
        hubo = true;
        PQfreemem(aviso);
    }
    if (hubo) {
        emit Cambio(impresora);
    }
    if (PQstatus(m_pg) == CONNECTION_BAD) {
        Perder(QString::fromUtf8(PQerrorMessage(m_pg)).trimmed());
    }
}

QSet<QString> EscuchaPostgres::Revisar() {
    QSet<QString> impresoras;
    if (!m_pg || !m_escuchando) {
        return impresoras;
    }
    if (!PQconsumeInput(m_pg)) {
        Perder(QString::fromUtf8(PQerrorMessage(m_pg)).trimmed());
        return impresoras;
    }
    while (PGnotify* aviso = PQnotifies(m_pg)) {
        impresoras.insert(QString::fromUtf8(aviso->extra));
        PQfreemem(aviso);
    }
    if (PQstatus(m_pg) == CONNECTION_BAD) {
        Perder(QString::fromUtf8(PQerrorMessage(m_pg)).trimmed());
    }
    return impresoras;
}

void EscuchaPostgres::Perder(const QString& motivo) {
    const bool escuchaba = m_escuchando;
    Cerrar();
    if (escuchaba) {
        emit Perdido();
    }
    if (!m_perdida) {
        m_perdida = true;
        Registrar(QStringLiteral("Cola Impresion, sin escucha de avisos de la base de datos, se consulta cada 2 s: ") +
                  motivo);
    }
    m_reintento.start(m_esperaMs);
    m_esperaMs = std::min(m_esperaMs * 2, kEsperaMaximaMs);
}
