#pragma once

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// A desktop for running the real window: a virtual X server (Xvfb, 1024 × 768)
// on a free display number, a notification area (trayer) 100 × 32 pixels
// at the top right corner of the screen and, if asked, a window manager. Everything started here, the
// programs started through Iniciar too, is killed when the object goes, and
// also when the test program dies (the children get SIGKILL with their parent).
class EscritorioPrueba {
public:
    EscritorioPrueba() = default;
    ~EscritorioPrueba();
    EscritorioPrueba(const EscritorioPrueba&) = delete;
    EscritorioPrueba& operator=(const EscritorioPrueba&) = delete;

    // Starts the X server, and the notification area unless `conBandeja` is
    // false; with `conGestor`, a window manager (openbox) too, which draws
    // the title bars and closes a window on Alt+F4 as the close box does.
    // False, with Error(), when any of them does not come up in 10 s.
    bool Abrir(bool conBandeja = true, bool conGestor = false);
    QString Pantalla() const { return m_pantalla; }
    QString Error() const { return m_error; }

    // Starts a program on this display with the given environment (DISPLAY is
    // set here); it is killed with the desktop.
    QProcess& Iniciar(const QString& programa, const QStringList& argumentos, QProcessEnvironment entorno);

    // xdotool on this display: its standard output, trimmed; empty when it
    // failed or did not end within `segundos` (then it is killed).
    QString Xdotool(const QStringList& argumentos, double segundos = 10);
    // Waits up to `segundos` for a window to be mapped whose name matches the
    // regular expression; returns its id, or empty.
    QString EsperarVentana(const QString& nombre, double segundos = 10);
    // Where the visible windows of a class lie on the screen.
    QList<QRect> Ventanas(const QString& clase);
    // Clicks (touches) a window at a point of its inside.
    void Pulsar(const QString& id, QPoint punto);

private:
    // The process dies with this program; given an environment, it runs on this display.
    void Preparar(QProcess& proceso, std::optional<QProcessEnvironment> entorno = std::nullopt);
    QProcess m_xvfb;
    QProcess m_trayer;
    QProcess m_gestor;
    std::vector<std::unique_ptr<QProcess>> m_programas;
    QString m_pantalla;
    QString m_error;
};
