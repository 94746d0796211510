#pragma once

#include "platform/SocketsProceso.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// Guards one blocking database call at a time: when a call is still running a
// grace after its time-out, the given sockets (or, for a login, every socket
// opened since the watch began) are shut down under the driver, so that its
// blocked read returns and the call fails.
//
// Arming and disarming take an uncontended lock and nothing else: the watching
// thread sleeps until the deadline it last saw and is woken only when a call
// is armed with an earlier one (or it has none). On waking it compares the
// clock with the deadline of the call armed at that moment, so a call armed
// after an earlier one ended is never cut on the earlier one's deadline.
class Vigilante {
public:
    using Reloj = std::chrono::steady_clock;

    // `gracia`: how long past its time-out a call may still run; the driver
    // gets that first chance to apply the time-out itself.
    explicit Vigilante(std::chrono::milliseconds gracia = std::chrono::seconds(2)) : m_gracia(gracia) {}
    ~Vigilante();
    Vigilante(const Vigilante&) = delete;
    Vigilante& operator=(const Vigilante&) = delete;

    // `sockets` empty: a login, whose sockets do not exist yet.
    void Armar(std::chrono::milliseconds limite, QList<SocketsProceso::Socket> sockets);
    // Ends the watch; true when the deadline passed and the sockets were cut.
    bool Desarmar();
    bool Disparado();

private:
    void Vigilar();

    const std::chrono::milliseconds m_gracia;
    std::mutex m_mutex;
    std::condition_variable m_cambio;
    std::thread m_hilo;
    bool m_fin = false;
    bool m_armado = false;
    bool m_disparado = false;
    Reloj::time_point m_plazo;
    // Until when the thread sleeps; nothing while it waits to be woken.
    std::optional<Reloj::time_point> m_durmiendoHasta;
    QList<SocketsProceso::Socket> m_sockets;
    QList<SocketsProceso::Socket> m_antes;
};
