#include "impresora-virtual/ModeloImpresora.h"

#include <algorithm>
#include <utility>

namespace {

constexpr char kDle = 0x10;
constexpr char kEot = 0x04;
constexpr char kGs = 0x1D;

// The longest status request: GS ( H with its six parameter bytes.
constexpr qsizetype kPedidoMasLargo = 11;

} // namespace

std::optional<ModeloImpresora::Estado> ModeloImpresora::EstadoDeNombre(const QString& nombre) {
    static const std::pair<const char*, Estado> kNombres[] = {
        {"lista", Estado::Lista},
        {"papel-bajo", Estado::PapelBajo},
        {"sin-papel", Estado::SinPapel},
        {"tapa-abierta", Estado::TapaAbierta},
        {"fuera-de-linea", Estado::FueraDeLinea},
    };
    for (const auto& [texto, estado] : kNombres) {
        if (nombre == QLatin1StringView(texto)) {
            return estado;
        }
    }
    return std::nullopt;
}

ModeloImpresora::ModeloImpresora(const Opciones& opciones) : m_opciones(opciones) {}

qsizetype ModeloImpresora::Espacio() const {
    if (!m_encendida || m_opciones.bufer <= 0) {
        return 1 << 16;
    }
    return std::max<qsizetype>(0, m_opciones.bufer - m_enBufer);
}

bool ModeloImpresora::Detenida() const {
    return m_estado == Estado::SinPapel || m_estado == Estado::TapaAbierta || m_estado == Estado::FueraDeLinea;
}

void ModeloImpresora::Conectada(int conexion, Salida& salida) {
    if (m_encendida && m_opciones.asb) {
        m_conAsb.push_back(conexion);
        salida.respuestas.append({conexion, Asb()});
    }
}

void ModeloImpresora::Tomar(int conexion, QByteArrayView bytes, Salida& salida) {
    if (!m_encendida || bytes.isEmpty()) {
        return;
    }
    if (m_enBufer == 0) {
        m_ultimo = Reloj::now(); // an idle mechanism starts now, not in the past
    }
    if (!m_bufer.empty() && m_bufer.back().conexion == conexion) {
        m_bufer.back().bytes += bytes;
    } else {
        m_bufer.push_back({conexion, bytes.toByteArray()});
    }
    m_enBufer += bytes.size();
    m_tomados += bytes.size();
    auto resto = std::find_if(m_restos.begin(), m_restos.end(), [&](const auto& r) { return r.first == conexion; });
    if (resto == m_restos.end()) {
        m_restos.push_back({conexion, {}});
        resto = m_restos.end() - 1;
    }
    resto->second += bytes;
    Examinar(conexion, resto->second, salida);
}

void ModeloImpresora::Examinar(int conexion, QByteArray& datos, Salida& salida) {
    // datos ends where the stream taken so far ends.
    const qint64 base = m_tomados - datos.size();
    qsizetype i = 0;
    const auto completo = [&](qsizetype largo) { return i + largo <= datos.size(); };
    while (i < datos.size()) {
        const char c = datos[i];
        if (c == kDle) {
            if (!completo(3)) {
                break;
            }
            if (datos[i + 1] == kEot && m_opciones.respondeTiempoReal) {
                salida.respuestas.append({conexion, RespuestaTiempoReal(datos[i + 2])});
            }
            i += datos[i + 1] == kEot ? 3 : 1;
            continue;
        }
        if (c != kGs) {
            ++i;
            continue;
        }
        if (!completo(3)) {
            break;
        }
        const char f = datos[i + 1];
        qsizetype largo = 0;
        if (f == 'r' || f == 'I') {
            largo = 3;
        } else if (f == 'a') {
            if (datos[i + 2] != 0 && std::find(m_conAsb.begin(), m_conAsb.end(), conexion) == m_conAsb.end()) {
                m_conAsb.push_back(conexion);
                salida.respuestas.append({conexion, Asb()});
            }
            i += 3;
            continue;
        } else if (f == '(' && datos[i + 2] == 'H') {
            if (!completo(5)) {
                break;
            }
            largo = 5 + (static_cast<unsigned char>(datos[i + 3]) | static_cast<unsigned char>(datos[i + 4]) << 8);
            largo = std::min(largo, kPedidoMasLargo);
            if (!completo(largo)) {
                break;
            }
        } else {
            ++i;
            continue;
        }
        m_pedidos.push_back({base + i + largo, conexion, datos.mid(i, largo)});
        i += largo;
    }
    datos.remove(0, i);
}

QByteArray ModeloImpresora::RespuestaTiempoReal(char n) const {
    // Fixed bits: 0x12. Paper sensor (4): near end 0x0C, out 0x60. Printer
    // (1): offline 0x08. Offline cause (2): cover open 0x04, stopped for
    // paper 0x20. Errors (3): none.
    unsigned char b = 0x12;
    if (n == 4) {
        b |= m_estado == Estado::PapelBajo ? 0x0C : m_estado == Estado::SinPapel ? 0x6C : 0x00;
    } else if (n == 1) {
        b |= Detenida() ? 0x08 : 0x00;
        b |= 0x04; // the drawer pin reads high: 0x16 online
    } else if (n == 2) {
        b |= m_estado == Estado::TapaAbierta ? 0x04 : m_estado == Estado::SinPapel ? 0x20 : 0x00;
    }
    return QByteArray(1, static_cast<char>(b));
}

QByteArray ModeloImpresora::RespuestaEnOrden(const QByteArray& comando) const {
    const char f = comando[1];
    if (f == 'r') {
        if (comando[2] == 1 || comando[2] == '1') {
            const char b = m_estado == Estado::PapelBajo ? 0x03 : m_estado == Estado::SinPapel ? 0x0F : 0x00;
            return QByteArray(1, b);
        }
        return QByteArray(1, '\0');
    }
    if (f == 'I') {
        const auto n = static_cast<unsigned char>(comando[2]);
        if (n >= 65 && n <= 69) {
            return QByteArrayLiteral("_ORLAN") + '\0';
        }
        return QByteArray(1, n == 1 ? '\x20' : '\0');
    }
    // GS ( H fn 48: "7" 0x22 and the four identifying bytes, then NUL.
    return QByteArrayLiteral("\x37\x22") + comando.mid(7, 4) + '\0';
}

QByteArray ModeloImpresora::Asb() const {
    QByteArray b(4, '\0');
    b[0] = static_cast<char>(0x10 | (Detenida() ? 0x08 : 0) | (m_estado == Estado::TapaAbierta ? 0x20 : 0));
    b[2] = m_estado == Estado::PapelBajo ? 0x03 : m_estado == Estado::SinPapel ? 0x0F : 0x00;
    return b;
}

void ModeloImpresora::Imprimir(Salida& salida) {
    salida.respuestas += std::exchange(m_avisos, {});
    salida.impreso = std::exchange(m_antesDelCorte, {}) + salida.impreso;
    const auto ahora = Reloj::now();
    if (m_tardia && m_tardia->first <= ahora) {
        salida.respuestas.append(m_tardia->second);
        m_tardia.reset();
    }
    Avanzar(ahora, salida);
}

void ModeloImpresora::Avanzar(Reloj::time_point ahora, Salida& salida) {
    if (!m_encendida || Detenida() || m_enBufer == 0) {
        m_ultimo = ahora;
        return;
    }
    qint64 cupo = m_enBufer;
    if (m_opciones.velocidad > 0) {
        const auto transcurrido = std::chrono::duration_cast<std::chrono::microseconds>(ahora - m_ultimo).count();
        cupo = std::clamp<qint64>(transcurrido * m_opciones.velocidad / 1'000'000, 0, cupo);
        m_ultimo += std::chrono::microseconds(cupo * 1'000'000 / m_opciones.velocidad);
    }
    while (cupo > 0 && !m_bufer.empty()) {
        Segmento& s = m_bufer.front();
        // Up to the next in-order request, so that it is answered in its place.
        qint64 hasta = cupo;
        for (const Pedido& p : m_pedidos) {
            if (p.posicion > m_impresos) {
                hasta = std::min(hasta, p.posicion - m_impresos);
            }
        }
        const qsizetype n = static_cast<qsizetype>(std::min<qint64>(hasta, s.bytes.size()));
        const QByteArray parte = s.bytes.left(n);
        s.bytes.remove(0, n);
        if (!salida.impreso.isEmpty() && salida.impreso.back().conexion == s.conexion) {
            salida.impreso.back().bytes += parte;
        } else {
            salida.impreso.append({s.conexion, parte});
        }
        if (s.bytes.isEmpty()) {
            m_bufer.pop_front();
        }
        m_enBufer -= n;
        m_impresos += n;
        cupo -= n;
        for (auto p = m_pedidos.begin(); p != m_pedidos.end();) {
            if (p->posicion <= m_impresos) {
                const bool gsr1 = p->comando[1] == 'r' && (p->comando[2] == 1 || p->comando[2] == '1');
                if (m_opciones.respondeEnOrden && gsr1 && m_opciones.gsrTardeMs > 0 && !m_gsrTardeDada) {
                    m_gsrTardeDada = true;
                    m_tardia.emplace(ahora + std::chrono::milliseconds(m_opciones.gsrTardeMs),
                                     Salida::Parte{p->conexion, RespuestaEnOrden(p->comando)});
                } else if (m_opciones.respondeEnOrden) {
                    salida.respuestas.append({p->conexion, RespuestaEnOrden(p->comando)});
                }
                p = m_pedidos.erase(p);
            } else {
                ++p;
            }
        }
    }
    if (m_enBufer == 0) {
        m_ultimo = ahora;
    }
}

int ModeloImpresora::HastaProximo() const {
    const auto hasta = [](Reloj::time_point t) {
        return static_cast<int>(
            std::max<qint64>(0, std::chrono::ceil<std::chrono::milliseconds>(t - Reloj::now()).count()));
    };
    const int tardia = m_tardia ? hasta(m_tardia->first) : -1;
    if (!m_encendida || Detenida() || m_enBufer == 0) {
        return tardia;
    }
    if (m_opciones.velocidad <= 0) {
        return 0;
    }
    // The next 16 bytes: pieces of a sensible size, as a print line is.
    const int linea = hasta(m_ultimo + std::chrono::microseconds(16 * 1'000'000LL / m_opciones.velocidad));
    return tardia < 0 ? linea : std::min(linea, tardia);
}

void ModeloImpresora::Apagar(std::optional<Reloj::time_point> corte) {
    if (corte && m_encendida) {
        // What the mechanism printed before the power went is on paper, even
        // when nobody asked the model until later; the answers it reached
        // go nowhere, the connections die with the power.
        Salida antes;
        Avanzar(std::min(*corte, Reloj::now()), antes);
        m_antesDelCorte += antes.impreso;
    }
    m_encendida = false;
    m_impresos += m_enBufer;
    m_bufer.clear();
    m_enBufer = 0;
    m_pedidos.clear();
    m_restos.clear();
    m_conAsb.clear();
    m_tardia.reset();
}

void ModeloImpresora::Encender() {
    m_encendida = true;
    m_ultimo = Reloj::now();
}

void ModeloImpresora::EstablecerEstado(Estado estado) {
    if (estado == m_estado) {
        return;
    }
    m_estado = estado;
    for (int conexion : m_conAsb) {
        m_avisos.append({conexion, Asb()});
    }
}
