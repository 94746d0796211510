#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

// Port I/O: reading and writing single bytes at 16-bit I/O addresses, the two
// operations the parallel-port layer needs.
//
// The backend is chosen by the setting ORLAN/Puertos/LPT when the port is first
// used:
//   directo   (default) the machine's own I/O ports through ioperm/iopl and
//             inb/outb. Needs CAP_SYS_RAWIO (root). When the kernel refuses the
//             permission, that call and every later one fails without
//             asking the kernel again.
//   simulado  a parallel port with a printer attached, modelled register by
//             register (see PuertoSimulado.h); its output goes to a file.
//   ppdev     the kernel's parallel-port devices /dev/parport0... through the
//             ppdev ioctls (see PuertoPpdev.h); needs membership of group lp,
//             not root.
//
// A failed call returns -1 (read8) or false (write8); Error() then tells why.
// Everything runs on the one thread of the program; nothing here locks.
class PuertoES {
public:
    virtual ~PuertoES() = default;

    // The byte at an I/O address (0-255), or -1 when the port cannot be reached.
    virtual int read8(quint16 direccion) = 0;

    // Writes a byte to an I/O address; false when the port cannot be reached.
    virtual bool write8(quint16 direccion, quint8 valor) = 0;

    // Why the last failing call failed.
    virtual QString Error() const = 0;

    // The base address of port LPT<numero> when the backend gives every port
    // registers of its own; nullopt when port LPTn is reached at the detected
    // base plus n - 1.
    virtual std::optional<quint16> BaseLpt(int numero) const {
        Q_UNUSED(numero);
        return std::nullopt;
    }

    // The device port LPT<numero> is reached through, for the log, when the
    // backend has one per port; empty otherwise.
    virtual QString DispositivoLpt(int numero) const {
        Q_UNUSED(numero);
        return QString();
    }

    // Pushes out anything the backend holds back (the simulated port's capture
    // file). The output routines call it before they return.
    virtual void Vaciar() {}

    // The error number a failed port call raises in the routines that trap it:
    // 48, no access to the ports.
    static constexpr int kErrorSinAcceso = 48;

    // The backend in use; created from the setting on first use.
    static PuertoES& Actual() { return s_actual ? *s_actual : Crear(); }

    // Installs a backend (tests, tools) and returns the previous one. An empty
    // pointer drops the backend: the next Actual() reads the setting again.
    // Never replace the backend while one of its calls is running.
    static std::unique_ptr<PuertoES> Establecer(std::unique_ptr<PuertoES> nuevo);

private:
    static PuertoES& Crear();
    static inline PuertoES* s_actual = nullptr;
};
