#include "platform/Senales.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_tuberia[2] = {-1, -1};
volatile std::sig_atomic_t g_pedida = 0;

std::function<void(int)>& Manejador() {
    static std::function<void(int)> manejador;
    return manejador;
}

extern "C" void AlRecibir(int senal) {
    g_pedida = 1;
    const unsigned char byte = static_cast<unsigned char>(senal);
    // Nothing else is safe here: the event loop reads the byte.
    [[maybe_unused]] ssize_t escrito = ::write(g_tuberia[1], &byte, 1);
}

} // namespace

namespace Senales {

bool Pedida() {
    return g_pedida != 0;
}

void AlTerminar(std::function<void(int)> manejador) {
    Manejador() = std::move(manejador);
    // The notifier belongs to the application, which deletes it when it ends;
    // a later application gets a new one on the same pipe.
    static QPointer<QSocketNotifier> notificador;
    if (notificador) {
        return;
    }
    if (g_tuberia[0] < 0 && ::pipe2(g_tuberia, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    notificador = new QSocketNotifier(g_tuberia[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notificador, &QSocketNotifier::activated, [] {
        unsigned char byte = 0;
        while (::read(g_tuberia[0], &byte, 1) == 1) {
            if (Manejador()) {
                Manejador()(byte);
            }
        }
    });
    struct sigaction accion = {};
    accion.sa_handler = AlRecibir;
    sigemptyset(&accion.sa_mask);
    accion.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &accion, nullptr);
    sigaction(SIGINT, &accion, nullptr);
}

} // namespace Senales
