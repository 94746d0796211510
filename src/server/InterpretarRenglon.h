#pragma once

#include <QStringView>
#include <optional>

class ctlImpresora;

// How the rendering of one job line ended.
enum class ResultadoRenglon {
    Completo,       // the whole line was consumed
    FalloImpresion, // a text print failed; the rest of the line was dropped
};

// One piece of a job line: a text run (a maximal stretch without "<") or a
// tag (from a "<" up to and including the next ">").
struct PiezaRenglon {
    bool etiqueta = false;
    QStringView texto;
};

// Reads a job line piece by piece, the way the renderer consumes it. Tags never
// span lines: a "<" with no ">" after it in the same line throws ErrorEjecucion
// when the reader reaches it, after the pieces before it.
class LectorRenglon {
public:
    explicit LectorRenglon(QStringView renglon) : m_renglon(renglon) {}

    // The next piece, or nothing at the end of the line.
    std::optional<PiezaRenglon> Siguiente();

private:
    QStringView m_renglon;
    qsizetype m_posicion = 0;
};

// Reads the whole line without printing anything: throws ErrorEjecucion
// exactly when InterpretarRenglon would, and with the same description.
void ComprobarRenglon(QStringView renglon);

// Renders one job line on the printer control: text runs are printed as they
// stand, tags in angle brackets (compared without regard to case) switch
// styles or cut the paper or open the drawer, unknown tags are consumed and
// ignored. A "<" with no ">" after it throws ErrorEjecucion: the line is not
// printable and the job must stay in the queue.
ResultadoRenglon InterpretarRenglon(ctlImpresora& pr2, QStringView renglon);
