#pragma once

#include "ports/PuertoES.h"

#include <QByteArray>
#include <array>
#include <functional>

// The parallel ports of the kernel's ppdev driver. The devices /dev/parport0,
// /dev/parport1... belong to group lp, so a member of that group drives the
// printer without root. Port LPTn is /dev/parport<n-1>, its registers at the
// base B = 0x378 + 0x800 x (n - 1) (BaseLpt), so LPT1 keeps the usual 0x378:
//
//   B        data: written with PPWDATA; reads give the byte last written,
//            which the port keeps driving (it stays an output port)
//   B+1      status: PPRSTATUS, the raw lines; writes are ignored
//   B+2      control: PPRCONTROL / PPWCONTROL, raw (bit 0 the strobe). Bit 5,
//            the data direction, is not passed on: the kernel would turn the
//            port around, and nothing the printer needs turns it back
//   others   the EPP address register, the ECR...: read 0xFF and ignore
//            writes, as on a port without them, so the classification finds
//            an SPP port
//
// A device is opened and claimed (PPCLAIM) at the first access to its
// registers and kept until the backend is dropped. A device that cannot be
// opened or claimed, or whose ioctl fails, fails that access with the
// system's reason and is closed; the next access tries again. An address
// outside the ports' registers fails. Claiming waits while another ppdev user
// holds the port.
class PuertoPpdev final : public PuertoES {
public:
    // The system calls the backend makes, so that tests can stand in for the
    // driver. abrir returns a descriptor or -errno; ioctl 0 or -errno (`valor`
    // is null for PPCLAIM and PPRELEASE).
    struct Sistema {
        std::function<int(const QByteArray& ruta)> abrir;
        std::function<int(int fd, unsigned long pedido, unsigned char* valor)> ioctl;
        std::function<void(int fd)> cerrar;
    };
    static Sistema DelNucleo();

    static constexpr quint16 kBase = 0x378;
    static constexpr quint16 kSeparacion = 0x800;
    static constexpr int kPuertos = 9; // LPT1 to LPT9

    explicit PuertoPpdev(Sistema sistema = DelNucleo(), const QString& prefijo = QStringLiteral("/dev/parport"));
    ~PuertoPpdev() override;

    int read8(quint16 direccion) override;
    bool write8(quint16 direccion, quint8 valor) override;
    QString Error() const override { return m_error; }
    std::optional<quint16> BaseLpt(int numero) const override;
    QString DispositivoLpt(int numero) const override;

private:
    struct Dispositivo {
        int fd = -1;
        quint8 datos = 0;
    };
    // The device of an address and the register's offset; null when the
    // address is no port's or the device cannot be had.
    Dispositivo* Ubicar(quint16 direccion, int& desplazamiento);
    bool Pedir(Dispositivo& d, unsigned long pedido, unsigned char* valor);
    void Soltar(Dispositivo& d);
    QString Ruta(const Dispositivo& d) const;

    Sistema m_sistema;
    QString m_prefijo;
    std::array<Dispositivo, kPuertos> m_dispositivos;
    QString m_error;
};
