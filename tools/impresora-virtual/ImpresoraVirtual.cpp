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
