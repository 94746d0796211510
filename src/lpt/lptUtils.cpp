#include "lpt/lptUtils.h"

#include "lpt/lptRegistros.h"
#include "platform/Cp1252.h"
#include "platform/Reloj.h"
#include "platform/Rutas.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <chrono>
#include <limits>
#include <thread>

namespace {

using lpt::Direccion;
using lpt::Inp32;
using lpt::Out32;

constexpr int kLimiteEpp = 3;
constexpr int kLimite = 25;

// A wait on a printer that is not ready spins only for its first moments: a
// printer taking a byte is ready again within microseconds. After that it
// sleeps between status reads, so that a printer that is off or out of paper
// costs no processor time, and lets pending events run on every pass.
constexpr auto kGiro = std::chrono::microseconds(200);
constexpr auto kPausa = std::chrono::milliseconds(1);

// Yielding costs more than a whole character, so the spinning passes yield by
// elapsed time instead of on every pass. The time is looked at every few
// passes; a pass is at least one status read (a microsecond on a real port),
// so pending events still run within a millisecond.
constexpr int kPasesEntreMiradas = 16;
constexpr auto kIntervaloCesion = std::chrono::microseconds(500);

int g_pasesHastaMirar = 1;
std::chrono::steady_clock::time_point g_ultimaCesion;

void CederYa() {
    QCoreApplication::processEvents();
    g_ultimaCesion = std::chrono::steady_clock::now();
}

inline void Ceder() {
    if (--g_pasesHastaMirar > 0) {
        return;
    }
    g_pasesHastaMirar = kPasesEntreMiradas;
    if (std::chrono::steady_clock::now() - g_ultimaCesion >= kIntervaloCesion) {
        CederYa();
    }
}

// The time-out counts changes of the second as a "hh:mm:ss" clock shows them.
// They are worked out from the monotonic clock and the wall clock's fraction
// of a second at the start of the wait, so the loop never asks the wall clock
// (and with it the time zone) for the time.
class Espera {
public:
    // Changes of the second since the first call, which starts the wait.
    int Segundos() {
        if (!m_empezada) {
            m_empezada = true;
            m_fraccion = std::chrono::milliseconds(Reloj::Ahora().time().msec());
            m_inicio = Reloj::Monotono();
            return 0;
        }
        m_transcurrido = Reloj::Monotono() - m_inicio;
        return int((m_fraccion + m_transcurrido) / std::chrono::seconds(1));
    }

    // Past the first moments: the wait sleeps between status reads.
    bool Dormida() const { return m_transcurrido >= kGiro; }

private:
    bool m_empezada = false;
    std::chrono::nanoseconds m_fraccion{0};
    std::chrono::nanoseconds m_inicio{0};
    std::chrono::nanoseconds m_transcurrido{0};
};

// One character with the handshake; a failed port call raises ErrorEjecucion.
// `codigo` is -1 when there is no character to send. The time-out is logged
// here; false then.
bool Letra(qint16 base, int codigo) {
    const bool epp = lpt::TipoEsEpp();
    const int limite = epp ? kLimiteEpp : kLimite;
    int contador = 0;
    Espera espera; // started only once the printer is found not ready
    for (;;) {
        const int estado = Inp32(Direccion(base, 1));
        // EPP: busy line only; otherwise not busy, paper present and no error.
        const bool listo = epp ? (estado & 0x80) != 0 : (estado & 0xA8) == 0x88;
        if (espera.Dormida()) {
            CederYa();
        } else {
            Ceder();
        }
        if (listo) {
            break;
        }
        contador = espera.Segundos();
        if (contador >= limite) {
            break;
        }
        if (espera.Dormida()) {
            std::this_thread::sleep_for(kPausa);
        }
    }
    if (contador >= kLimite) {
        GrabarErrorPrt(QStringLiteral("ImprimirLetra: 0-"));
        return false;
    }
    if (codigo < 0) {
        throw ErrorEjecucion(lpt::kErrorArgumento, QStringLiteral("Llamada a procedimiento o argumento no validos"));
    }
    Out32(base, codigo);
    const qint16 control = Direccion(base, 2);
    const int c = Inp32(control);
    Out32(control, c | 1);
    Out32(control, c & ~1);
    return true;
}

bool Cadena(qint16 base, QByteArrayView bytes) {
    bool escrito = true;
    try {
        for (char b : bytes) {
            if (!Letra(base, quint8(b))) {
                escrito = false;
                break;
            }
        }
    } catch (const ErrorEjecucion& error) {
        lpt::RegistrarFallo("ImprimirLetra", error);
        escrito = false;
    }
    PuertoES::Actual().Vaciar();
    return escrito;
}

int ConFallo(const char* rutina, const ErrorEjecucion& error) {
    lpt::RegistrarFallo(rutina, error);
    return -1;
}

bool FalloEscritura(const char* rutina, const ErrorEjecucion& error) {
    lpt::RegistrarFallo(rutina, error);
    return false;
}

} // namespace

namespace lpt {

void FalloPuerto() {
    throw ErrorEjecucion(PuertoES::kErrorSinAcceso, PuertoES::Actual().Error());
}

void Desbordamiento() {
    throw ErrorEjecucion(kErrorDesbordamiento, QStringLiteral("Desbordamiento"));
}

void RegistrarFallo(const char* rutina, const ErrorEjecucion& error) {
    GrabarErrorPrt(QLatin1StringView(rutina) + QStringLiteral(": ") + QString::number(error.Numero()) + u'-' +
                   error.Descripcion());
}

} // namespace lpt

int ReadStatus(qint16 base) {
    try {
        return lpt::LeerEstado(base);
    } catch (const ErrorEjecucion& error) {
        return ConFallo("ReadStatus", error);
    }
}

int ReadControl(qint16 base) {
    try {
        return lpt::LeerControl(base);
    } catch (const ErrorEjecucion& error) {
        return ConFallo("ReadControl", error);
    }
}

bool WriteControl(qint16 base, int valor) {
    try {
        lpt::EscribirControl(base, valor);
        return true;
    } catch (const ErrorEjecucion& error) {
        return FalloEscritura("WriteControl", error);
    }
}

int ReadData(qint16 base) {
    try {
        return Inp32(base);
    } catch (const ErrorEjecucion& error) {
        return ConFallo("ReadData", error);
    }
}

bool WriteData(qint16 base, int valor) {
    try {
        Out32(base, valor);
        return true;
    } catch (const ErrorEjecucion& error) {
        return FalloEscritura("WriteData", error);
    }
}

int BitOf(int valor, int n) {
    if (n < 0 || n > 30) {
        return 0;
    }
    return (valor >> n) & 1;
}

bool ImprimirLetra(qint16 base, QStringView letra) {
    bool escrito = false;
    try {
        escrito = Letra(base, letra.isEmpty() ? -1 : quint8(Cp1252::CodificarCaracter(letra.front())));
    } catch (const ErrorEjecucion& error) {
        lpt::RegistrarFallo("ImprimirLetra", error);
    }
    PuertoES::Actual().Vaciar();
    return escrito;
}

bool ImprimirCadena(qint16 base, QStringView texto) {
    // Encoded whole, so that a character outside the BMP is one '?'.
    return Cadena(base, Cp1252::Codificar(texto));
}

bool ImprimirCadena(qint16 base, QByteArrayView bytes) {
    return Cadena(base, bytes);
}

QString dec2bin(qint64 valor) {
    QString bits;
    // The bit test works on 32-bit integers: a larger value overflows at the
    // first bit.
    if (valor > std::numeric_limits<qint32>::max() || valor < std::numeric_limits<qint32>::min()) {
        lpt::RegistrarFallo("dec2bin", ErrorEjecucion(lpt::kErrorDesbordamiento, QStringLiteral("Desbordamiento")));
        return bits;
    }
    int n = 0;
    do {
        bits.prepend((valor >> n) & 1 ? u'1' : u'0');
        ++n;
    } while ((qint64(1) << n) <= valor);
    while (bits.size() < 8) {
        bits.prepend(u'0');
    }
    return bits;
}

void GrabarErrorPrt(const QString& mensaje) {
    const QString ruta = Rutas::Local(QStringLiteral("C:\\PRT.ERR"));
    QDir().mkpath(Rutas::RaizUnidad());
    QFile f(ruta);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return; // the error file is the last resort: nothing is left to report to
    }
    f.write((Reloj::Ahora().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + u' ' + mensaje + QStringLiteral("\r\n"))
                .toUtf8());
}
