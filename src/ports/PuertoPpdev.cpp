#include "ports/PuertoPpdev.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr quint8 kLineasControl = 0x0F; // strobe, autofeed, init, select

QString TextoError(int numero) {
    return QString::fromLocal8Bit(std::strerror(numero));
}

} // namespace

PuertoPpdev::Sistema PuertoPpdev::DelNucleo() {
    return {
        [](const QByteArray& ruta) {
            const int fd = ::open(ruta.constData(), O_RDWR | O_CLOEXEC);
            return fd >= 0 ? fd : -errno;
        },
        [](int fd, unsigned long pedido, unsigned char* valor) {
            int r;
            do {
                r = ::ioctl(fd, pedido, valor);
            } while (r < 0 && errno == EINTR);
            return r < 0 ? -errno : 0;
        },
        [](int fd) { ::close(fd); },
    };
}

PuertoPpdev::PuertoPpdev(Sistema sistema, const QString& prefijo) : m_sistema(std::move(sistema)), m_prefijo(prefijo) {}

PuertoPpdev::~PuertoPpdev() {
    for (Dispositivo& d : m_dispositivos) {
        if (d.fd >= 0) {
            m_sistema.ioctl(d.fd, PPRELEASE, nullptr);
            Soltar(d);
        }
    }
}

std::optional<quint16> PuertoPpdev::BaseLpt(int numero) const {
    if (numero < 1 || numero > kPuertos) {
        return std::nullopt;
    }
    return quint16(kBase + kSeparacion * (numero - 1));
}

QString PuertoPpdev::DispositivoLpt(int numero) const {
    return BaseLpt(numero) ? m_prefijo + QString::number(numero - 1) : QString();
}

QString PuertoPpdev::Ruta(const Dispositivo& d) const {
    return m_prefijo + QString::number(&d - m_dispositivos.data());
}

void PuertoPpdev::Soltar(Dispositivo& d) {
    m_sistema.cerrar(d.fd);
    d.fd = -1;
}

PuertoPpdev::Dispositivo* PuertoPpdev::Ubicar(quint16 direccion, int& desplazamiento) {
    const int relativa = int(direccion) - kBase;
    const int indice = relativa / kSeparacion;
    if (relativa < 0 || indice >= kPuertos) {
        m_error = QStringLiteral("Sin puerto paralelo en la dirección 0x%1").arg(direccion, 0, 16);
        return nullptr;
    }
    desplazamiento = relativa % kSeparacion;
    Dispositivo& d = m_dispositivos[static_cast<std::size_t>(indice)];
    if (d.fd >= 0) {
        return &d;
    }
    const int fd = m_sistema.abrir(Ruta(d).toLocal8Bit());
    if (fd < 0) {
        m_error = Ruta(d) + QStringLiteral(": ") + TextoError(-fd);
        return nullptr;
    }
    d.fd = fd;
    if (const int r = m_sistema.ioctl(fd, PPCLAIM, nullptr); r != 0) {
        m_error = Ruta(d) + QStringLiteral(": ") + TextoError(-r);
        Soltar(d);
        return nullptr;
    }
    return &d;
}

bool PuertoPpdev::Pedir(Dispositivo& d, unsigned long pedido, unsigned char* valor) {
    const int r = m_sistema.ioctl(d.fd, pedido, valor);
    if (r != 0) {
        m_error = Ruta(d) + QStringLiteral(": ") + TextoError(-r);
        Soltar(d);
        return false;
    }
    return true;
}

int PuertoPpdev::read8(quint16 direccion) {
    int desplazamiento = 0;
    Dispositivo* d = Ubicar(direccion, desplazamiento);
    if (d == nullptr) {
        return -1;
    }
    unsigned char valor = 0xFF;
    switch (desplazamiento) {
    case 0:
        return d->datos;
    case 1:
        return Pedir(*d, PPRSTATUS, &valor) ? valor : -1;
    case 2:
        return Pedir(*d, PPRCONTROL, &valor) ? valor : -1;
    default:
        return 0xFF;
    }
}

bool PuertoPpdev::write8(quint16 direccion, quint8 valor) {
    int desplazamiento = 0;
    Dispositivo* d = Ubicar(direccion, desplazamiento);
    if (d == nullptr) {
        return false;
    }
    unsigned char byte = valor;
    switch (desplazamiento) {
    case 0:
        if (!Pedir(*d, PPWDATA, &byte)) {
            return false;
        }
        d->datos = valor;
        return true;
    case 2:
        byte &= kLineasControl;
        return Pedir(*d, PPWCONTROL, &byte);
    default:
        return true;
    }
}
