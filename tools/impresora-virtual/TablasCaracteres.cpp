#include "impresora-virtual/TablasCaracteres.h"

#include "platform/Cp1252.h"

#include <iterator>

namespace TablasCaracteres {

namespace {

#include "impresora-virtual/TablasCodigo.inc"

constexpr int kWindows1252 = 16;

const TablaCodigo* Tabla(int numero) {
    for (const TablaCodigo& t : kTablasCodigo) {
        if (t.numero == numero) {
            return &t;
        }
    }
    return nullptr;
}

// The twelve replaced positions, and each set's characters for them
// (0 USA ... 12 Latin America).
constexpr unsigned char kPosiciones[12] = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
constexpr char16_t kInternacionales[][12] = {
    {u'#', u'$', u'@', u'[', u'\\', u']', u'^', u'`', u'{', u'|', u'}', u'~'},     // USA
    {u'#', u'$', u'à', u'°', u'ç', u'§', u'^', u'`', u'é', u'ù', u'è', u'¨'},      // France
    {u'#', u'$', u'§', u'Ä', u'Ö', u'Ü', u'^', u'`', u'ä', u'ö', u'ü', u'ß'},      // Germany
    {u'£', u'$', u'@', u'[', u'\\', u']', u'^', u'`', u'{', u'|', u'}', u'~'},     // UK
    {u'#', u'$', u'@', u'Æ', u'Ø', u'Å', u'^', u'`', u'æ', u'ø', u'å', u'~'},      // Denmark I
    {u'#', u'¤', u'É', u'Ä', u'Ö', u'Å', u'Ü', u'é', u'ä', u'ö', u'å', u'ü'},      // Sweden
    {u'#', u'$', u'@', u'°', u'\\', u'é', u'^', u'ù', u'à', u'ò', u'è', u'ì'},     // Italy
    {u'\u20A7', u'$', u'@', u'¡', u'Ñ', u'¿', u'^', u'`', u'¨', u'ñ', u'}', u'~'}, // Spain I
    {u'#', u'$', u'@', u'[', u'¥', u']', u'^', u'`', u'{', u'|', u'}', u'~'},      // Japan
    {u'#', u'¤', u'É', u'Æ', u'Ø', u'Å', u'Ü', u'é', u'æ', u'ø', u'å', u'ü'},      // Norway
    {u'#', u'$', u'É', u'Æ', u'Ø', u'Å', u'Ü', u'é', u'æ', u'ø', u'å', u'ü'},      // Denmark II
    {u'#', u'$', u'á', u'¡', u'Ñ', u'¿', u'é', u'`', u'í', u'ñ', u'ó', u'ú'},      // Spain II
    {u'#', u'$', u'á', u'¡', u'Ñ', u'¿', u'é', u'ü', u'í', u'ñ', u'ó', u'ú'},      // Latin America
};

} // namespace

bool Conocida(int tabla) {
    return tabla == kWindows1252 || Tabla(tabla) != nullptr;
}

QString Decodificar(QByteArrayView bytes, int tabla, int internacional) {
    QString texto = tabla == kWindows1252 ? Cp1252::Decodificar(bytes) : QString();
    if (tabla != kWindows1252) {
        const TablaCodigo* t = Tabla(tabla);
        t = t ? t : Tabla(0);
        texto.reserve(bytes.size());
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            texto += b < 0x80 ? QChar(b) : QChar(t->alto[b - 0x80]);
        }
    }
    if (internacional > 0 && internacional < static_cast<int>(std::size(kInternacionales))) {
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            for (int k = 0; k < 12; ++k) {
                if (static_cast<unsigned char>(bytes[i]) == kPosiciones[k]) {
                    texto[i] = QChar(kInternacionales[internacional][k]);
                }
            }
        }
    }
    return texto;
}

} // namespace TablasCaracteres
