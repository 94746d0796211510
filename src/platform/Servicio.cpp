#include "platform/Servicio.h"

#include <unistd.h>
#include <utility>

#ifdef ORLAN_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace {

#ifdef ORLAN_SYSTEMD
// A failed notification changes nothing for the server: the manager then
// learns less, and the journal already has the server's own lines.
void Notificar(const QByteArray& mensaje) {
    sd_notify(0, mensaje.constData());
}
#else
void Notificar(const QByteArray&) {}
#endif

bool listo = false;
QString ultimoEstado;

} // namespace

namespace Servicio {

void Listo() {
    if (!std::exchange(listo, true)) {
        Notificar("READY=1");
    }
}

void Estado(const QString& texto) {
    QString linea = texto;
    linea.replace(u'\r', u' ').replace(u'\n', u' ');
    if (linea == ultimoEstado) {
        return;
    }
    ultimoEstado = linea;
    Notificar("STATUS=" + linea.toUtf8());
}

void Vivo() {
    Notificar("WATCHDOG=1");
}

bool Gestionado() {
    return !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
}

bool ComoAdministrador() {
    return ::geteuid() == 0;
}

} // namespace Servicio
