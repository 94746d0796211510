#include "support/gui/BandejaSistema.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>
#include <optional>

namespace {

struct Bandeja {
    QPointer<QWidget> ventana;
    QPointer<QWidget> ventanaIcono;
    // Parented to the application: the icon lives as long as the process.
    QPointer<QSystemTrayIcon> icono;
    std::optional<bool> disponible;
};

Bandeja& Estado() {
    static Bandeja bandeja;
    return bandeja;
}

} // namespace

void Enganchar(QWidget* ventana) {
    Bandeja& b = Estado();
    if (b.ventana) {
        return;
    }
    b.ventana = ventana;
}

int ProcVentana(QSystemTrayIcon::ActivationReason motivo) {
    Bandeja& b = Estado();
    if (!b.ventana) {
        return 0;
    }
    if (motivo != QSystemTrayIcon::Context) {
        return 0;
    }
    QMetaObject::invokeMethod(b.ventana.data(), "SysTrayMouseEventHandler", Qt::DirectConnection);
    return -1;
}

void AgregarIconoBandeja(QWidget* ventana, qint64 identificador, const QIcon& icono, const QString& tip) {
    Q_UNUSED(identificador);
    Bandeja& b = Estado();
    if (b.icono && b.ventanaIcono) {
        return;
    }
    if (!b.icono) {
        b.icono = new QSystemTrayIcon(QCoreApplication::instance());
        QObject::connect(b.icono.data(), &QSystemTrayIcon::activated,
                         [](QSystemTrayIcon::ActivationReason motivo) { ProcVentana(motivo); });
        // When the event loop ends (SIGTERM, SIGINT) the icon goes while the
        // application still stands: left to the application's own end, it
        // would be destroyed after the widgets' machinery and crash the exit.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, b.icono.data(),
                         [] { delete Estado().icono.data(); });
    }
    b.ventanaIcono = ventana;
    b.icono->setIcon(icono);
    b.icono->setToolTip(tip);
    b.icono->show();
}

bool BandejaDisponible() {
    const Bandeja& b = Estado();
    return b.disponible ? *b.disponible : QSystemTrayIcon::isSystemTrayAvailable();
}

void EstablecerBandejaDisponible(std::optional<bool> disponible) {
    Estado().disponible = disponible;
}

QWidget* VentanaEnganchada() {
    return Estado().ventana.data();
}

QSystemTrayIcon* IconoBandeja() {
    return Estado().icono.data();
}
