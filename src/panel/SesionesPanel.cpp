#include "panel/SesionesPanel.h"

#include <QRandomGenerator>

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
    const QByteArray token = Aleatorio();
    m_sesiones.insert(token, {usuario, Aleatorio(), ahora});
    return token;
}

const SesionesPanel::Sesion* SesionesPanel::Buscar(const QByteArray& token) {
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

void SesionesPanel::Depurar(const QString& direccion) {
    const auto it = m_fallos.find(direccion);
    if (it == m_fallos.end()) {
        return;
    }
    const qint64 ahora = m_reloj.elapsed();
    it->removeIf([&](qint64 t) { return ahora - t >= kVentanaFallos; });
    if (it->isEmpty()) {
        m_fallos.erase(it);
    }
}

bool SesionesPanel::Bloqueada(const QString& direccion, qint64* espera) {
    Depurar(direccion);
    const QList<qint64> fallos = m_fallos.value(direccion);
    if (fallos.size() < kMaximoFallos) {
        return false;
    }
    if (espera) {
        *espera = (fallos.first() + kVentanaFallos - m_reloj.elapsed() + 999) / 1000;
    }
    return true;
}

void SesionesPanel::RegistrarFallo(const QString& direccion) {
    // Addresses that stopped trying are forgotten once many have tried, so
    // the table cannot grow for ever.
    if (m_fallos.size() > 1000) {
        const qint64 ahora = m_reloj.elapsed();
        m_fallos.removeIf([&](const auto& f) { return ahora - f.value().last() >= kVentanaFallos; });
    }
    Depurar(direccion);
    m_fallos[direccion].append(m_reloj.elapsed());
}
