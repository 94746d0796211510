#pragma once

#include "impresora-virtual/ModeloImpresora.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// A receipt printer without hardware, whatever the way to it: it answers the
// paper-status request DLE EOT 4 (10 04 04) with one byte of our choice, or
// keeps silent, and keeps every byte it receives. ImpresoraPty plays it on a
// pseudo-terminal, ImpresoraTcp on a network port.
//
// Either call Atender() from your own loop, or let Iniciar() run it on a
// thread of its own until Detener() (or the destructor of the way).
//
// With a line speed (EstablecerBaudios) the printer takes bytes no faster
// than a serial line of that speed carries them, 10 bits a byte: the sender
// waits on a full buffer, and a status request is answered only once the
// bytes before it were taken, as a real printer does.
class ImpresoraVirtual {
public:
    static constexpr int kSilencio = -1;

    virtual ~ImpresoraVirtual() = default;
    ImpresoraVirtual(const ImpresoraVirtual&) = delete;
    ImpresoraVirtual& operator=(const ImpresoraVirtual&) = delete;

    // The answer to DLE EOT 4: 0 to 255, or kSilencio (GS r 1 gets none either).
    void EstablecerRespuesta(int respuesta) { m_respuesta = respuesta; }

    // The bytes of one connection, in the order they came; `fin` once the
    // connection is over (its last bytes, if any, come with it).
    struct Pieza {
        int conexion = 0;
        QByteArray bytes;
        bool fin = false;
    };

    // Waits up to `milisegundos` for bytes, answers the status requests among
    // them and returns them by connection (empty when nothing came).
    virtual QList<Pieza> AtenderPiezas(int milisegundos) = 0;

    // The same, every connection's bytes joined.
    QByteArray Atender(int milisegundos);

    // 0: bytes are taken as fast as they come.
    void EstablecerBaudios(int baudios) { m_baudios = baudios; }

    // Runs Atender on a thread, keeping what arrives for Recibidos().
    void Iniciar();
    void Detener();
    QByteArray Recibidos() const;
    void VaciarRecibidos();
    // Waits up to `milisegundos` until at least `cantidad` bytes were kept;
    // returns what was kept by then.
    QByteArray EsperarRecibidos(qsizetype cantidad, int milisegundos);

    // With a model (ModeloImpresora) the printer has a receive buffer and a
    // print speed, answers every status request as real hardware does and
    // keeps what reaches paper, not what arrives; EstablecerRespuesta and
    // EstablecerBaudios no longer apply. Safe to call from any thread.
    void UsarModelo(const ModeloImpresora::Opciones& opciones);
    bool ConModelo() const { return m_modelo != nullptr; }
    // Power: off loses the buffer, drops the connections and refuses new
    // ones (a pseudo-terminal reads and keeps nothing) until on again.
    void Apagar();
    void Encender();
    // Power cycles of their own: `encendidaMs` on, `apagadaMs` off, again and
    // again (0: none).
    void EstablecerCortes(int encendidaMs, int apagadaMs);
    void EstablecerEstado(ModeloImpresora::Estado estado);

protected:
    ImpresoraVirtual() = default;

    // Runs `f` on the model under its lock; false without a model. Turns the
    // power per EstablecerCortes first.
    template <typename F> bool ConElModelo(F&& f) {
        std::lock_guard bloqueo(m_mutexModelo);
        if (!m_modelo) {
            return false;
        }
        Ciclar();
        f(*m_modelo);
        return true;
    }

    // How many status requests end in `bytes`: DLE EOT 4 (10 04 04) and, as
    // a printer without a buffer answers it at once too, GS r 1 (1D 72 01).
    // `estado` carries a request split between pieces (0 for a new
    // connection); `tipos` gets 'e' or 'r' for each.
    static int PedidosEstado(QByteArrayView bytes, int& estado, QByteArray* tipos = nullptr);
    // The answer to a request of that kind: the chosen byte to DLE EOT 4;
    // to GS r 1, 0x0F when the chosen byte says paper out (114), else 0x00.
    char RespuestaA(char tipo) const;
    int Respuesta() const { return m_respuesta; }

    // How many bytes the line speed lets the printer take now; when none,
    // `espera` is set to the milliseconds until the next one. Tomados counts
    // what was taken.
    qsizetype Cupo(int& espera);
    void Tomados(qsizetype cantidad);

private:
    using Reloj = std::chrono::steady_clock;
    void Ciclar();
    std::mutex m_mutexModelo;
    std::unique_ptr<ModeloImpresora> m_modelo;
    int m_encendidaMs = 0, m_apagadaMs = 0;
    Reloj::time_point m_cambioEnergia{};
    std::atomic<int> m_baudios{0};
    Reloj::time_point m_siguiente{}; // when the line may carry the next byte
    std::atomic<int> m_respuesta{18};
    std::atomic<bool> m_seguir{false};
    std::thread m_hilo;
    mutable std::mutex m_mutex;
    std::condition_variable m_llegada;
    QByteArray m_recibidos;
};
