// Where a port's setting leads and how a serial settings text is read: any
// text is read without harm; a network printer's host and port, written back
// as tcp:HOST:PORT, lead to the same place; the configuration form's parity
// letters are turned once and for all; a settings text that parses has a
// speed, a parity among N, E, O, M and S, 5 to 8 data bits and 1, 1.5 or 2
// stop bits. Input: the setting, NUL, the settings text.

#include "Partes.h"

#include "ports/PuertoCom.h"
#include "ports/PuertoSerie.h"
#include "printer/ctlImpresora.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    const QList<QByteArray> partes = Partes(datos, largo, 2);
    const QString texto = QString::fromUtf8(partes[0]);
    const PuertoCom::Destino d = PuertoCom::Interpretar(texto);
    if (d.tipo == PuertoCom::Destino::Tipo::Tcp && d.valido) {
        if (d.host.isEmpty() || d.puerto == 0 || !d.ruta.isEmpty()) {
            std::abort();
        }
        const QString escrito = QStringLiteral("tcp:") + (d.host.contains(u':') ? u'[' + d.host + u']' : d.host) +
                                u':' + QString::number(d.puerto);
        const PuertoCom::Destino otra = PuertoCom::Interpretar(escrito);
        if (otra.tipo != d.tipo || !otra.valido || otra.host != d.host || otra.puerto != d.puerto) {
            std::abort();
        }
    } else if (d.valido && d.ruta.isEmpty()) {
        std::abort();
    }

    const QString settings = QString::fromUtf8(partes[1]);
    const QString serie = ctlImpresora::SettingsSerie(settings);
    if (ctlImpresora::SettingsSerie(serie) != serie) {
        std::abort();
    }
    // What the serial port took before it still takes, with the same meaning.
    const auto antes = PuertoSerie::InterpretarSettings(settings);
    const auto despues = PuertoSerie::InterpretarSettings(serie);
    if (antes && (!despues || despues->velocidad != antes->velocidad || despues->bitsDatos != antes->bitsDatos ||
                  despues->bitsParada != antes->bitsParada || despues->paridad != antes->paridad)) {
        std::abort();
    }
    for (const QString& s : {settings, serie}) {
        if (const auto c = PuertoSerie::InterpretarSettings(s)) {
            if (c->velocidad <= 0 || !QByteArrayView("NEOMS").contains(c->paridad) || c->bitsDatos < 5 ||
                c->bitsDatos > 8 || (c->bitsParada != 10 && c->bitsParada != 15 && c->bitsParada != 20)) {
                std::abort();
            }
        }
    }
    return 0;
}
