#pragma once

#include <QStringView>

class ctlImpresora;

// How the rendering of one job line ended.
enum class ResultadoRenglon {
    Completo,       // the whole line was consumed
    FalloImpresion, // a text print failed; the rest of the line was dropped
};

// Renders one job line on the printer control: text runs are printed as they
// stand, tags in angle brackets (compared without regard to case) switch
// styles or cut the paper or open the drawer, unknown tags are consumed and
// ignored. A "<" with no ">" after it throws ErrorEjecucion: the line is not
// printable and the job must stay in the queue.
ResultadoRenglon InterpretarRenglon(ctlImpresora& pr2, QStringView renglon);
