#include "panel/SesionesPanel.h"

#include <QRandomGenerator>
#include <algorithm>
#include <optional>

QByteArray SesionesPanel::Aleatorio() const {
    quint32 datos[8];
    QRandomGenerator::system()->fillRange(datos);
    return QByteArray(reinterpret_cast<const char*>(datos), sizeof datos).toHex();
}

QByteArray SesionesPanel::Abrir(const QString& usuario) {
    const qint64 ahora = m_reloj.elapsed();
    // Forgotten sessions are dropped here, so the table cannot grow for ever.
    for (auto it = m_sesiones.begin(); it != m_sesiones.end();) {
        it = ahora - it->ultimoUso > kDuracion ? m_sesiones.erase(it) : std::next(it);
    }
    // The least recently used goes first past either bound.
    const auto soltar = [&](auto&& cuenta_en, int maximo) {
        auto viejo = m_sesiones.end();
        int cuantas = 0;
        for (auto it = m_sesiones.begin(); it != m_sesiones.end(); ++it) {
            if (cuenta_en(*it)) {
                ++cuantas;
                if (viejo == m_sesiones.end() || it->ultimoUso < viejo->ultimoUso) {
                    viejo = it;
                }
            }
        }
        if (cuantas >= maximo) {
            m_sesiones.erase(viejo);
        }
    };
    soltar([&](const Sesion& s) { return s.usuario.compare(usuario, Qt::CaseInsensitive) == 0; }, kSesionesPorCuenta);
    soltar([](const Sesion&) { return true; }, kSesionesTotal);
    const QByteArray token = Aleatorio();
    m_sesiones.insert(token, {usuario, Aleatorio(), ahora, ahora});
    return token;
}

SesionesPanel::Sesion* SesionesPanel::Buscar(const QByteArray& token) {
    const auto it = m_sesiones.find(token);
    if (token.isEmpty() || it == m_sesiones.end()) {
        return nullptr;
    }
    const qint64 ahora = m_reloj.elapsed();
    if (ahora - it->ultimoUso > kDuracion) {
        m_sesiones.erase(it);
        return nullptr;
    }
    it->ultimoUso = ahora;
    return &*it;
}

void SesionesPanel::Cerrar(const QByteArray& token) {
    m_sesiones.remove(token);
}

void SesionesPanel::Depurar() {
    const qint64 ahora = m_reloj.elapsed();
    while (!m_fallos.isEmpty() && ahora - m_fallos.first().momento >= kVentanaFallos) {
        m_fallos.removeFirst();
    }
}

bool SesionesPanel::Bloqueada(const QString& direccion, const QString& cuenta, qint64* espera) {
    Depurar();
    // The failure whose expiry lets this sign-in through, if any is in the way.
    std::optional<qint64> hasta;
    const auto limite = [&](auto&& cuenta_en, int maximo) {
        QList<qint64> momentos;
        for (const Fallo& f : std::as_const(m_fallos)) {
            if (cuenta_en(f)) {
                momentos.append(f.momento);
            }
        }
        if (momentos.size() >= maximo) {
            hasta = std::max(hasta.value_or(0), momentos.at(momentos.size() - maximo) + kVentanaFallos);
        }
    };
    limite([&](const Fallo& f) { return f.direccion == direccion && f.cuenta == cuenta; }, kMaximoFallos);
    limite([&](const Fallo& f) { return f.direccion == direccion; }, kMaximoPorDireccion);
    if (!hasta) {
        return false;
    }
    if (espera) {
        *espera = std::max<qint64>(1, (*hasta - m_reloj.elapsed() + 999) / 1000);
    }
    return true;
}

void SesionesPanel::RegistrarFallo(const QString& direccion, const QString& cuenta) {
    Depurar();
    if (m_fallos.size() >= kFallosRecordados) {
        m_fallos.removeFirst();
    }
    m_fallos.append({m_reloj.elapsed(), direccion, cuenta});
}

qint64 SesionesPanel::Demora(const QString& cuenta) {
    if (cuenta.isEmpty()) {
        return 0;
    }
    Depurar();
    const qint64 fallos =
        std::count_if(m_fallos.cbegin(), m_fallos.cend(), [&](const Fallo& f) { return f.cuenta == cuenta; });
    return std::min(kDemoraMaxima, fallos * kDemoraPorFallo);
}

void SesionesPanel::Olvidar(const QString& direccion, const QString& cuenta) {
    m_fallos.removeIf([&](const Fallo& f) { return f.direccion == direccion && f.cuenta == cuenta; });
}
