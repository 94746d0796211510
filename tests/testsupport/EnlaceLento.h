#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <thread>

// A link to a database far away: a TCP proxy on 127.0.0.1 that forwards
// every connection to the Unix socket `destino` (the test server's), each
// direction
// delayed by `retardoMs` (a round trip costs twice that), as a VPN to a
// central server does. It counts round trips: every time the client speaks
// again after the server answered, and the first time it speaks on a
// connection. Runs on a thread of its own until destroyed.
class EnlaceLento {
public:
    // Listens on `direccion` (IPv4), 127.0.0.1 unless given.
    EnlaceLento(const QString& destino, int retardoMs, const QString& direccion = QString());
    ~EnlaceLento();
    EnlaceLento(const EnlaceLento&) = delete;
    EnlaceLento& operator=(const EnlaceLento&) = delete;

    // 0 when the listening socket could not be made.
    quint16 Puerto() const { return m_puerto; }
    qint64 Viajes() const { return m_viajes.load(); }
    void EstablecerRetardo(int retardoMs) { m_retardoMs.store(retardoMs); }

private:
    void Bucle();

    QByteArray m_destino;
    quint16 m_puerto = 0;
    int m_escucha = -1;
    int m_despertar[2] = {-1, -1}; // a pipe that ends the thread's poll
    std::atomic<int> m_retardoMs;
    std::atomic<qint64> m_viajes{0};
    std::atomic<bool> m_fin{false};
    std::thread m_hilo;
};
