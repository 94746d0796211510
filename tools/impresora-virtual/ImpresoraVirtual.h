#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A receipt printer without hardware, whatever the way to it: it answers the
// paper-status request DLE EOT 4 (10 04 04) with one byte of our choice, or
// keeps silent, and keeps every byte it receives. ImpresoraPty plays it on a
// pseudo-terminal, ImpresoraTcp on a network port.
//
// Either call Atender() from your own loop, or let Iniciar() run it on a
// thread of its own until Detener() (or the destructor of the way).
class ImpresoraVirtual {
public:
    static constexpr int kSilencio = -1;

    virtual ~ImpresoraVirtual() = default;
    ImpresoraVirtual(const ImpresoraVirtual&) = delete;
    ImpresoraVirtual& operator=(const ImpresoraVirtual&) = delete;

    // The answer to a status request: 0 to 255, or kSilencio.
    void EstablecerRespuesta(int respuesta) { m_respuesta = respuesta; }

    // Waits up to `milisegundos` for bytes, answers the status requests among
    // them and returns them (empty when none came).
    virtual QByteArray Atender(int milisegundos) = 0;

    // Runs Atender on a thread, keeping what arrives for Recibidos().
    void Iniciar();
    void Detener();
    QByteArray Recibidos() const;
    void VaciarRecibidos();
    // Waits up to `milisegundos` until at least `cantidad` bytes were kept;
    // returns what was kept by then.
    QByteArray EsperarRecibidos(qsizetype cantidad, int milisegundos);

protected:
    ImpresoraVirtual() = default;

    // How many status requests end in `bytes`; `estado` carries a request
    // split between pieces (0 for a new connection).
    static int PedidosEstado(QByteArrayView bytes, int& estado);
    int Respuesta() const { return m_respuesta; }

private:
    std::atomic<int> m_respuesta{18};
    std::atomic<bool> m_seguir{false};
    std::thread m_hilo;
    mutable std::mutex m_mutex;
    std::condition_variable m_llegada;
    QByteArray m_recibidos;
};
