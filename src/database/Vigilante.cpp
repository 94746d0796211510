#include "database/Vigilante.h"

Vigilante::~Vigilante() {
    {
        std::lock_guard bloqueo(m_mutex);
        m_fin = true;
    }
    m_cambio.notify_all();
    if (m_hilo.joinable()) {
        m_hilo.join();
    }
}

void Vigilante::Armar(std::chrono::milliseconds limite, QList<SocketsProceso::Socket> sockets) {
    std::unique_lock bloqueo(m_mutex);
    if (!m_hilo.joinable()) {
        m_hilo = std::thread([this] { Vigilar(); });
    }
    m_antes = sockets.isEmpty() ? SocketsProceso::Abiertos() : QList<SocketsProceso::Socket>();
    m_sockets = std::move(sockets);
    m_plazo = Reloj::now() + limite + m_gracia;
    m_armado = true;
    m_disparado = false;
    // A thread asleep until an earlier deadline wakes on its own and looks
    // again; only one that would sleep past this deadline is woken.
    const bool despertar = !m_durmiendoHasta || *m_durmiendoHasta > m_plazo;
    bloqueo.unlock();
    if (despertar) {
        m_cambio.notify_one();
    }
}

bool Vigilante::Desarmar() {
    std::lock_guard bloqueo(m_mutex);
    m_armado = false;
    return std::exchange(m_disparado, false);
}

bool Vigilante::Disparado() {
    std::lock_guard bloqueo(m_mutex);
    return m_disparado;
}

void Vigilante::Vigilar() {
    std::unique_lock bloqueo(m_mutex);
    while (!m_fin) {
        if (!m_armado || m_disparado) {
            m_durmiendoHasta.reset();
            m_cambio.wait(bloqueo);
            continue;
        }
        // Whatever woke the thread (its own deadline, a newer call, nothing at
        // all), the call armed now is cut only once its own deadline passed.
        if (Reloj::now() < m_plazo) {
            m_durmiendoHasta = m_plazo;
            m_cambio.wait_until(bloqueo, *m_durmiendoHasta);
            continue;
        }
        // The call still runs while the lock is held here, so its sockets
        // cannot have been closed and their descriptors reused.
        QList<SocketsProceso::Socket> cortar = m_sockets;
        if (cortar.isEmpty()) {
            for (const SocketsProceso::Socket& s : SocketsProceso::Abiertos()) {
                if (!m_antes.contains(s)) {
                    cortar.append(s);
                }
            }
        }
        for (const SocketsProceso::Socket& s : cortar) {
            SocketsProceso::Cortar(s);
        }
        m_disparado = true;
    }
}
