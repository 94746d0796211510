#include "impresora-virtual/ImpresoraVirtual.h"

int ImpresoraVirtual::PedidosEstado(QByteArrayView bytes, int& estado) {
    int pedidos = 0;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (estado == 2 && b == 0x04) {
            estado = 0;
            ++pedidos;
        } else if (b == 0x10) {
            estado = 1;
        } else {
            estado = estado == 1 && b == 0x04 ? 2 : 0;
        }
    }
    return pedidos;
}

QByteArray ImpresoraVirtual::Atender(int milisegundos) {
    QByteArray todo;
    for (const Pieza& p : AtenderPiezas(milisegundos)) {
        todo += p.bytes;
    }
    return todo;
}

namespace {
// A real printer's receive FIFO: a line that was idle delivers this much at once.
constexpr qsizetype kRafaga = 16;
} // namespace

qsizetype ImpresoraVirtual::Cupo(int& espera) {
    const int baudios = m_baudios;
    if (baudios <= 0) {
        return 1 << 16;
    }
    const auto porByte = std::chrono::microseconds(10'000'000 / baudios);
    const auto ahora = Reloj::now();
    const Reloj::time_point piso = ahora - std::chrono::duration_cast<Reloj::duration>(porByte * kRafaga);
    m_siguiente = std::max(m_siguiente, piso);
    if (ahora < m_siguiente) {
        espera = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(m_siguiente - ahora).count());
        return 0;
    }
    return std::min<qsizetype>(kRafaga, (ahora - m_siguiente) / porByte + 1);
}

void ImpresoraVirtual::Tomados(qsizetype cantidad) {
    const int baudios = m_baudios;
    if (baudios > 0) {
        m_siguiente += std::chrono::microseconds(10'000'000 / baudios) * cantidad;
    }
}

void ImpresoraVirtual::Iniciar() {
    Detener();
    m_seguir = true;
    m_hilo = std::thread([this] {
        while (m_seguir) {
            const QByteArray llegados = Atender(50);
            if (!llegados.isEmpty()) {
                std::lock_guard bloqueo(m_mutex);
                m_recibidos += llegados;
                m_llegada.notify_all();
            }
        }
    });
}

void ImpresoraVirtual::Detener() {
    m_seguir = false;
    if (m_hilo.joinable()) {
        m_hilo.join();
    }
}

QByteArray ImpresoraVirtual::Recibidos() const {
    std::lock_guard bloqueo(m_mutex);
    return m_recibidos;
}

QByteArray ImpresoraVirtual::EsperarRecibidos(qsizetype cantidad, int milisegundos) {
    std::unique_lock bloqueo(m_mutex);
    m_llegada.wait_for(bloqueo, std::chrono::milliseconds(milisegundos),
                       [&] { return m_recibidos.size() >= cantidad; });
    return m_recibidos;
}

void ImpresoraVirtual::VaciarRecibidos() {
    std::lock_guard bloqueo(m_mutex);
    m_recibidos.clear();
}
