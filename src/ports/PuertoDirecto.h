#pragma once

#include "ports/PuertoES.h"

#include <bitset>
#include <functional>

// The machine's own I/O ports (x86 Linux): inb/outb after the kernel has
// granted access, ioperm for addresses below 0x400 and iopl above, one request
// per block of eight addresses on first use. Both need CAP_SYS_RAWIO.
//
// A refused request is final: that call and every later one fails with the
// reason, without asking the kernel again: a server without the right fails
// every parallel-port routine the same way. On other processors every call
// fails.
class PuertoDirecto final : public PuertoES {
public:
    // Asks the kernel for access to the eight addresses starting at `bloque`;
    // returns 0 or an errno value. Tests pass one that refuses.
    using Permiso = std::function<int(quint16 bloque)>;

    explicit PuertoDirecto(Permiso permiso = {});

    int read8(quint16 direccion) override;
    bool write8(quint16 direccion, quint8 valor) override;
    QString Error() const override { return m_error; }

private:
    bool Acceso(quint16 direccion);

    Permiso m_permiso;
    std::bitset<0x10000 / 8> m_concedidos;
    bool m_rechazado = false;
    QString m_error;
};
