#include "testsupport/EscritorioPrueba.h"
#include "testsupport/Procesos.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <sys/prctl.h>

void EscritorioPrueba::Preparar(QProcess& proceso, std::optional<QProcessEnvironment> entorno) {
    proceso.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    if (entorno) {
        entorno->insert(QStringLiteral("DISPLAY"), m_pantalla);
        proceso.setProcessEnvironment(*entorno);
    }
}

EscritorioPrueba::~EscritorioPrueba() {
    for (auto& programa : m_programas) {
        TerminarProceso(*programa);
    }
    TerminarProceso(m_trayer);
    TerminarProceso(m_gestor);
    // SIGTERM: an X server killed outright leaves its lock file and socket
    // behind, and enough of them fill every display number tried below.
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000)) {
            TerminarProceso(m_xvfb);
        }
    }
}

// A display is held while the process named in its lock file lives; the lock
// of a server that is gone is taken over, with its socket, by the next one.
static bool PantallaOcupada(int numero) {
    QFile cerrojo(QStringLiteral("/tmp/.X%1-lock").arg(numero));
    if (!cerrojo.open(QIODevice::ReadOnly)) {
        // No lock: a socket alone belongs to a server whose lock is elsewhere.
        return QFile::exists(cerrojo.fileName()) || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(numero));
    }
    bool leido = false;
    const long pid = cerrojo.readAll().trimmed().toLong(&leido);
    return !leido || pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool EscritorioPrueba::Abrir(bool conBandeja, bool conGestor) {
    // The first display number nobody holds; a race with another test is
    // seen as an X server that ends at once, and the next number is tried.
    for (int numero = 90; numero < 190 && m_pantalla.isEmpty(); ++numero) {
        if (PantallaOcupada(numero)) {
            continue;
        }
        Preparar(m_xvfb);
        m_xvfb.setProcessChannelMode(QProcess::MergedChannels);
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {QStringLiteral(":%1").arg(numero), QStringLiteral("-screen"), QStringLiteral("0"),
                      QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!m_xvfb.waitForStarted(5000)) {
            m_error = QStringLiteral("Xvfb no arranca (apt-get install xvfb)");
            return false;
        }
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(numero);
        if (Esperar([&] { return QFile::exists(socket) || m_xvfb.state() == QProcess::NotRunning; }, 10) &&
            m_xvfb.state() == QProcess::Running) {
            m_pantalla = QStringLiteral(":%1").arg(numero);
        } else {
            TerminarProceso(m_xvfb);
        }
    }
    if (m_pantalla.isEmpty()) {
        m_error = QStringLiteral("ningun Xvfb quedo en pie: ") + QString::fromLocal8Bit(m_xvfb.readAll());
        return false;
    }
    if (conGestor) {
        // A private configuration directory: the defaults, nothing of the user's.
        QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
        entorno.insert(QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("/nonexistent"));
        Preparar(m_gestor, entorno);
        m_gestor.setProcessChannelMode(QProcess::MergedChannels);
        m_gestor.start(QStringLiteral("openbox"), {});
        // Openbox makes its own (unmapped) windows once it manages the screen.
        if (!m_gestor.waitForStarted(5000) || Xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                                                       QStringLiteral("--classname"), QStringLiteral("openbox")})
                                                  .isEmpty()) {
            m_error = QStringLiteral("openbox no arranca (apt-get install openbox): ") +
                      QString::fromLocal8Bit(m_gestor.readAll());
            return false;
        }
    }
    if (!conBandeja) {
        return true;
    }
    Preparar(m_trayer, QProcessEnvironment::systemEnvironment());
    m_trayer.setProcessChannelMode(QProcess::MergedChannels);
    m_trayer.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                    QStringLiteral("--widthtype"), QStringLiteral("pixel"), QStringLiteral("--width"),
                    QStringLiteral("100"), QStringLiteral("--height"), QStringLiteral("32"),
                    QStringLiteral("--transparent"), QStringLiteral("false")});
    if (!m_trayer.waitForStarted(5000) || EsperarVentana(QStringLiteral("^panel$")).isEmpty()) {
        m_error = QStringLiteral("trayer no muestra su panel (apt-get install trayer): ") +
                  QString::fromLocal8Bit(m_trayer.readAll());
        return false;
    }
    return true;
}

QProcess& EscritorioPrueba::Iniciar(const QString& programa, const QStringList& argumentos,
                                    QProcessEnvironment entorno) {
    auto proceso = std::make_unique<QProcess>();
    entorno.remove(QStringLiteral("QT_QPA_PLATFORM"));
    Preparar(*proceso, entorno);
    proceso->setProcessChannelMode(QProcess::MergedChannels);
    proceso->start(programa, argumentos);
    proceso->waitForStarted(5000);
    m_programas.push_back(std::move(proceso));
    return *m_programas.back();
}

QString EscritorioPrueba::Xdotool(const QStringList& argumentos, double segundos) {
    QProcess xdotool;
    Preparar(xdotool, QProcessEnvironment::systemEnvironment());
    xdotool.start(QStringLiteral("xdotool"), argumentos);
    if (!xdotool.waitForFinished(static_cast<int>(segundos * 1000))) {
        TerminarProceso(xdotool);
        return QString();
    }
    return xdotool.exitCode() == 0 ? QString::fromLocal8Bit(xdotool.readAllStandardOutput()).trimmed() : QString();
}

QString EscritorioPrueba::EsperarVentana(const QString& nombre, double segundos) {
    return Xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--name"), nombre},
                   segundos)
        .section(u'\n', 0, 0);
}

QList<QRect> EscritorioPrueba::Ventanas(const QString& clase) {
    QList<QRect> lugares;
    const QString ids =
        Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--classname"), clase});
    for (const QString& id : ids.split(u'\n', Qt::SkipEmptyParts)) {
        QRect r;
        for (const QString& linea : Xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                        .split(u'\n', Qt::SkipEmptyParts)) {
            const int valor = linea.section(u'=', 1).toInt();
            const QString clave = linea.section(u'=', 0, 0);
            if (clave == u"X") {
                r.moveLeft(valor);
            } else if (clave == u"Y") {
                r.moveTop(valor);
            } else if (clave == u"WIDTH") {
                r.setWidth(valor);
            } else if (clave == u"HEIGHT") {
                r.setHeight(valor);
            }
        }
        if (r.isValid()) {
            lugares << r;
        }
    }
    return lugares;
}

void EscritorioPrueba::Pulsar(const QString& id, QPoint punto) {
    Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), id, QString::number(punto.x()),
             QString::number(punto.y()), QStringLiteral("click"), QStringLiteral("1")});
}
