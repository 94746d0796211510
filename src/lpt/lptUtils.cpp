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

namespace {

using lpt::Direccion;
using lpt::Inp32;
using lpt::Out32;

constexpr int kLimiteEpp = 3;
constexpr int kLimite = 25;

// Yielding costs more than a whole character, so the wait loops yield by
// elapsed time instead of on every pass. The time is looked at every few
// passes; a pass is at least one status read (a microsecond on a real port),
// so pending events still run within a millisecond.
constexpr int kPasesEntreMiradas = 16;
constexpr auto kIntervaloCesion = std::chrono::microseconds(500);

int g_pasesHastaMirar = 1;
std::chrono::steady_clock::time_point g_ultimaCesion;

inline void Ceder() {
    if (--g_pasesHastaMirar > 0) {
        return;
    }
    g_pasesHastaMirar = kPasesEntreMiradas;
    const auto ahora = std::chrono::steady_clock::now();
    if (ahora - g_ultimaCesion >= kIntervaloCesion) {
        QCoreApplication::processEvents();
        g_ultimaCesion = std::chrono::steady_clock::now();
    }
}

// The second of the wall clock as its "hh:mm:ss" text would show it.
int Segundo() {
    return Reloj::Ahora().time().msecsSinceStartOfDay() / 1000;
}

// One character with the handshake; raises ErrorEjecucion like the original.
// `codigo` is -1 when there is no character to send. The time-out is logged
// here; false then.
bool Letra(qint16 base, int codigo) {
    const bool epp = lpt::TipoEsEpp();
    const int limite = epp ? kLimiteEpp : kLimite;
    int contador = 0;
    int recordado = -1; // read only once the printer is found not ready
    for (;;) {
        const int estado = Inp32(Direccion(base, 1));
        // EPP: busy line only; otherwise not busy, paper present and no error.
        const bool listo = epp ? (estado & 0x80) != 0 : (estado & 0xA8) == 0x88;
        Ceder();
        if (listo) {
            break;
        }
        const int segundo = Segundo();
        if (recordado < 0) {
            recordado = segundo;
        } else if (segundo != recordado) {
            recordado = segundo;
            ++contador;
        }
        if (contador >= limite) {
            break;
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
    // The original's AND works on 32-bit integers: a larger value overflows at
    // the first bit.
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
