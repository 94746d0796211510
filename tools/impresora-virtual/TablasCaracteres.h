#pragma once

#include <QByteArrayView>
#include <QString>

// The character tables of an ESC/POS printer: the code pages ESC t selects
// (by their ESC t numbers) and the international sets of ESC R, which
// replace twelve ASCII characters (# $ @ [ \ ] ^ ` { | } ~).
namespace TablasCaracteres {

// False for an ESC t number without a table here.
bool Conocida(int tabla);

// Single-byte text in a code page and an international set; a table not
// known reads as PC437, an unknown set as the USA's.
QString Decodificar(QByteArrayView bytes, int tabla, int internacional);

} // namespace TablasCaracteres
