#include "platform/Consola.h"

#include <QCommandLineParser>

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace Consola {

std::optional<QString> LeerSecreto(const QString& indicacion) {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios anterior{};
    if (terminal) {
        std::fprintf(stderr, "%s", indicacion.toLocal8Bit().constData());
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &anterior);
        termios sinEco = anterior;
        sinEco.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &sinEco);
    }
    std::string linea;
    bool leida = false;
    for (int c; (c = std::fgetc(stdin)) != EOF;) {
        leida = true;
        if (c == '\n') {
            break;
        }
        linea.push_back(static_cast<char>(c));
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &anterior);
        std::fprintf(stderr, "\n");
    }
    if (!leida) {
        return std::nullopt;
    }
    if (!linea.empty() && linea.back() == '\r') {
        linea.pop_back();
    }
    return QString::fromLocal8Bit(linea.data(), static_cast<qsizetype>(linea.size()));
}

OpcionesAyuda AgregarAyuda(QCommandLineParser& opciones) {
    OpcionesAyuda resultado{QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                               QStringLiteral("Muestra esta ayuda y termina.")),
                            QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")},
                                               QStringLiteral("Muestra la version y termina."))};
    opciones.addOption(resultado.ayuda);
    opciones.addOption(resultado.version);
    return resultado;
}

QString Ayuda(const QCommandLineParser& opciones) {
    return opciones.helpText()
        .replace(QStringLiteral("Usage:"), QStringLiteral("Uso:"))
        .replace(QStringLiteral("Options:"), QStringLiteral("Opciones:"))
        .replace(QStringLiteral("[options]"), QStringLiteral("[opciones]"));
}

} // namespace Consola
