#include "ports/PuertoDirecto.h"

#include <cerrno>
#include <cstring>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__)) && __has_include(<sys/io.h>)
#include <sys/io.h>
#define ORLAN_PUERTOS_X86 1
#endif

namespace {

int PermisoDelNucleo(quint16 bloque) {
#ifdef ORLAN_PUERTOS_X86
    // ioperm covers only the first 0x400 addresses; above them the whole range
    // has to be opened with iopl.
    const int r = bloque < 0x400 ? ioperm(bloque, 8, 1) : iopl(3);
    return r == 0 ? 0 : errno;
#else
    Q_UNUSED(bloque);
    return ENOSYS;
#endif
}

} // namespace

PuertoDirecto::PuertoDirecto(Permiso permiso) : m_permiso(permiso ? std::move(permiso) : Permiso(PermisoDelNucleo)) {}

bool PuertoDirecto::Acceso(quint16 direccion) {
    const quint16 bloque = direccion & ~quint16(7);
    if (m_concedidos.test(bloque / 8)) {
        return true;
    }
    if (m_rechazado) {
        return false;
    }
    const int error = m_permiso(bloque);
    if (error != 0) {
        m_rechazado = true;
        m_error = QStringLiteral("Sin acceso a los puertos de E/S (0x%1): %2")
                      .arg(bloque, 0, 16)
                      .arg(QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
#ifndef ORLAN_PUERTOS_X86
    // An injected permission cannot make port instructions exist here.
    m_rechazado = true;
    m_error = QStringLiteral("Sin acceso a los puertos de E/S: no hay puertos de E/S en este procesador");
    return false;
#else
    m_concedidos.set(bloque / 8);
    return true;
#endif
}

int PuertoDirecto::read8(quint16 direccion) {
    if (!Acceso(direccion)) {
        return -1;
    }
#ifdef ORLAN_PUERTOS_X86
    return inb(direccion);
#else
    return -1;
#endif
}

bool PuertoDirecto::write8(quint16 direccion, quint8 valor) {
    if (!Acceso(direccion)) {
        return false;
    }
#ifdef ORLAN_PUERTOS_X86
    outb(valor, direccion);
    return true;
#else
    Q_UNUSED(valor);
    return false;
#endif
}
