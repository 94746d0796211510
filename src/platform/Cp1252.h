#pragma once

#include <QByteArray>
#include <QString>

// The Windows-1252 code page, used for every conversion between text and
// bytes that reach a printer, a cipher or a Base64 text. Characters outside
// the code page become one '?' each: a character outside the BMP (two UTF-16
// units) gives one '?', as does a lone half of such a pair. The five
// unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) decode to the control
// characters of the same value.
namespace Cp1252 {

QByteArray Codificar(QStringView texto);
QString Decodificar(QByteArrayView bytes);

// Encodes into `destino`, which must have room for texto.size() bytes, and
// returns the number of bytes written (fewer than texto.size() when the text
// holds surrogate pairs).
qsizetype CodificarEn(QStringView texto, char* destino);

// One UTF-16 unit; '?' when it is outside the code page (a surrogate too).
char CodificarCaracter(QChar c);

} // namespace Cp1252
