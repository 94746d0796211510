#pragma once

#include <QString>

#include <QCommandLineOption>

class QCommandLineParser;
#include <optional>

// The controlling terminal of a command-line tool.
namespace Consola {

// Reads one line from standard input. When standard input is a terminal the
// prompt goes to standard error and the typed characters are not echoed; when
// it is a pipe or a file the line is read as it comes, without a prompt.
// Nothing when the input ends before a line.
std::optional<QString> LeerSecreto(const QString& indicacion);

// -h/--help and -v/--version, described in Spanish (Qt's own options
// describe themselves in English), added to the parser.
struct OpcionesAyuda {
    QCommandLineOption ayuda;
    QCommandLineOption version;
};
OpcionesAyuda AgregarAyuda(QCommandLineParser& opciones);

// The parser's help text with Qt's own English headings ("Usage:",
// "Options:") in Spanish, so that --help speaks one language.
QString Ayuda(const QCommandLineParser& opciones);

} // namespace Consola
