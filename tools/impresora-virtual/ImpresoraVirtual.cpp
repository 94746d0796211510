#include "impresora-virtual/ImpresoraVirtual.h"

int ImpresoraVirtual::PedidosEstado(QByteArrayView bytes, int& estado, QByteArray* tipos) {
    // estado: 1 after 10, 2 after 10 04, 3 after 1D, 4 after 1D 72.
    int pedidos = 0;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((estado == 2 && b == 0x04) || (estado == 4 && b == 0x01)) {
            if (tipos != nullptr) {
                tipos->append(estado == 2 ? 'e' : 'r');
            }
            estado = 0;
            ++pedidos;
        } else if (b == 0x10 || b == 0x1D) {
            estado = b == 0x10 ? 1 : 3;
        } else {
            estado = estado == 1 && b == 0x04 ? 2 : estado == 3 && b == 0x72 ? 4 : 0;
        }
    }
    return pedidos;
}

char ImpresoraVirtual::RespuestaA(char tipo) const {
    const int respuesta = m_respuesta;
    if (tipo == 'r') {
        return respuesta == 114 ? '\x0F' : '\0';
    }
    return static_cast<char>(respuesta);
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

void ImpresoraVirtual::UsarModelo(const ModeloImpresora::Opciones& opciones) {
    std::lock_guard bloqueo(m_mutexModelo);
    m_modelo = std::make_unique<ModeloImpresora>(opciones);
}

void ImpresoraVirtual::Apagar() {
    std::lock_guard bloqueo(m_mutexModelo);
    if (m_modelo) {
        m_modelo->Apagar();
    }
}

void ImpresoraVirtual::Encender() {
    std::lock_guard bloqueo(m_mutexModelo);
    if (m_modelo) {
        m_modelo->Encender();
    }
}

void ImpresoraVirtual::EstablecerCortes(int encendidaMs, int apagadaMs) {
    std::lock_guard bloqueo(m_mutexModelo);
    m_encendidaMs = encendidaMs;
    m_apagadaMs = apagadaMs;
    m_cambioEnergia = Reloj::now() + std::chrono::milliseconds(encendidaMs);
}

void ImpresoraVirtual::EstablecerEstado(ModeloImpresora::Estado estado) {
    std::lock_guard bloqueo(m_mutexModelo);
    if (m_modelo) {
        m_modelo->EstablecerEstado(estado);
    }
}

void ImpresoraVirtual::Ciclar() {
    if (m_encendidaMs <= 0 || m_apagadaMs <= 0 || Reloj::now() < m_cambioEnergia) {
        return;
    }
    if (m_modelo->Encendida()) {
        m_modelo->Apagar(m_cambioEnergia);
        m_cambioEnergia = Reloj::now() + std::chrono::milliseconds(m_apagadaMs);
    } else {
        m_modelo->Encender();
        m_cambioEnergia = Reloj::now() + std::chrono::milliseconds(m_encendidaMs);
    }
}
