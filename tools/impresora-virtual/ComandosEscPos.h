#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// How long each ESC/POS command is, as an Epson printer reads its input: the
// prefix (ESC, GS, FS or DLE), the command byte and its parameters, fixed or
// counted (ESC * columns, GS v 0 rows, GS ( x pL pH, GS 8 L p1..p4, GS k with
// a length or a NUL at the end, ESC D stops up to NUL, FS q images).
namespace ComandosEscPos {

struct Largo {
    // Bytes the whole command takes; 0 when more bytes are needed to know.
    qint64 bytes = 0;
    // False for a command the table does not know: it is still consumed
    // (the prefix and the command byte), so that it never prints.
    bool conocido = true;
};

// `p` starts with ESC (1B), GS (1D), FS (1C) or DLE (10).
Largo Medir(QByteArrayView p);

} // namespace ComandosEscPos
