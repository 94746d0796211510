#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A receipt printer at the far end of a pseudo-terminal: the program under
// test opens Ruta() as its serial port. The printer answers the paper-status
// request DLE EOT 4 (10 04 04) with one byte of our choice, or keeps silent,
// and keeps every byte it receives.
//
// Either call Atender() from your own loop, or let Iniciar() run it on a
// thread of its own until Detener() (or the destructor).
class ImpresoraPty {
public:
    static constexpr int kSilencio = -1;

    ImpresoraPty();
    ~ImpresoraPty();
    ImpresoraPty(const ImpresoraPty&) = delete;
    ImpresoraPty& operator=(const ImpresoraPty&) = delete;

    // False when no pseudo-terminal could be had; Error() says why.
    bool Abierta() const { return m_maestro >= 0; }
    const QString& Error() const { return m_error; }

    // The device path of the program's end.
    const QString& Ruta() const { return m_ruta; }

    // The answer to a status request: 0 to 255, or kSilencio.
    void EstablecerRespuesta(int respuesta) { m_respuesta = respuesta; }

    // Waits up to `milisegundos` for bytes, answers the status requests among
    // them and returns them (empty when none came).
    QByteArray Atender(int milisegundos);

    // Writes bytes to the program's end, as the printer's answer.
    bool Enviar(QByteArrayView bytes);

    // Runs Atender on a thread, keeping what arrives for Recibidos().
    void Iniciar();
    void Detener();
    QByteArray Recibidos() const;
    void VaciarRecibidos();
    // Waits up to `milisegundos` until at least `cantidad` bytes were kept;
    // returns what was kept by then.
    QByteArray EsperarRecibidos(qsizetype cantidad, int milisegundos);

    // Closes both ends: the device path disappears, as an unplugged printer's.
    void Cerrar();

private:
    int m_maestro = -1;
    int m_esclavo = -1; // kept open so that the master never sees a hang-up
    QString m_ruta;
    QString m_error;
    std::atomic<int> m_respuesta{18};
    int m_estadoPedido = 0; // bytes of 10 04 04 seen so far
    std::atomic<bool> m_seguir{false};
    std::thread m_hilo;
    mutable std::mutex m_mutex;
    std::condition_variable m_llegada;
    QByteArray m_recibidos;
};
