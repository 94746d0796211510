#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <array>
#include <span>
#include <string_view>

// The command bytes of the three printer dialects and the logo bands. Every
// function here is pure: it builds bytes and sends nothing.
//
// Modes: 1 Epson, 2 Citizen, 3 Star. Any other mode gives the empty string for
// every command except the line feeds of BytesAvanzar.
namespace ComandosImpresora {

// One row of the command table per operation and case.
enum class Comando {
    Cortar,
    Abrircaja,
    NegritaSi,
    NegritaNo,
    SubrayadoSi,
    SubrayadoNo,
    InvertidoSi,
    InvertidoNo,
    ColorSi,
    ColorNo,
    ExpandidoSi,
    ExpandidoNo,
    ExtraExpandidoSi,
    ExtraExpandidoNo,
    ResetCaracter,
    ResetPrinter,
};

struct FilaComando {
    Comando comando;
    std::array<std::string_view, 3> bytes; // Epson, Citizen, Star
    std::string_view textoError;           // event-log text when sending fails; the mode follows it
};

// The whole table, in the order of Comando.
std::span<const FilaComando> Tabla();

// The bytes of a command in a mode (a view of static data).
QByteArrayView BytesComando(Comando comando, qint16 modo);

// The row of a property set: `si` when active, else `no`.
constexpr Comando Segun(bool active, Comando si, Comando no) {
    return active ? si : no;
}

// The event-log text of a failed command.
std::string_view TextoError(Comando comando);

// (0A 0D) repeated n times; empty for n of 0 or less.
QByteArray BytesAvanzar(qint16 nLines);
inline constexpr std::string_view kErrorAvanzar = "Error Impresion comando:Avanzar modo:";

// One bit-image band: 0D 1B 2A 00, then `inicio`, then `datos`; Epson only.
QByteArray BytesLogo(qint16 modo, QByteArrayView datos, QByteArrayView inicio);
inline constexpr std::string_view kErrorLogo = "Error Impresion comando:Logo modo:";

// The paper-sensor status request DLE EOT 4, sent in every mode.
inline constexpr std::string_view kPedidoEstadoPapel = "\x10\x04\x04";

// Transmit paper-sensor status, GS r 1, sent after a job to confirm it.
// Unlike DLE EOT, which the printer answers the moment it arrives, ahead of
// the bytes still in its buffer, this one is answered once everything before
// it was processed. Epson and Citizen printers and Star printers in their
// ESC/POS emulation know it; in Star line mode it goes unanswered.
inline constexpr std::string_view kPedidoEnOrden = "\x1d\x72\x01";

// The logo: five bands 8 dots high and 116 columns wide. BandaLogo(b) is the
// data text of band b (1 to 5) followed by its trailer; kInicioBandaLogo is
// the byte after the bit-image mode (the low byte of the column count).
inline constexpr int kBandasLogo = 5;
inline constexpr int kColumnasLogo = 116;
inline constexpr std::string_view kInicioBandaLogo = "\x74";
QByteArrayView BandaLogo(int banda);

} // namespace ComandosImpresora
