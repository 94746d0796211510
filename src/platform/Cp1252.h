#pragma once

#include <QByteArray>
#include <QString>

// The Windows-1252 code page, used for every conversion between text and
// bytes that reach a printer, a cipher or a Base64 text. Characters outside
// the code page become '?'; the five unassigned bytes (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) decode to the control characters of the same value.
namespace Cp1252 {

QByteArray Codificar(QStringView texto);
QString Decodificar(QByteArrayView bytes);

// One character; '?' when it is outside the code page.
char CodificarCaracter(QChar c);

} // namespace Cp1252
