#include "server/InterpretarRenglon.h"

#include "printer/ctlImpresora.h"
#include "support/ErrorEjecucion.h"

namespace {

constexpr qsizetype kCitaMaxima = 80;

enum class Operacion { Ninguna, Negrita, Color, Subrayado, Invertido, ExtraExpandido, Expandido, Caja, Corte, Avance };

struct Etiqueta {
    QStringView texto;
    Operacion operacion;
    bool activa;
};

// In the order they are compared; the first match wins.
constexpr Etiqueta kEtiquetas[] = {
    {u"<B>", Operacion::Negrita, true},         {u"</B>", Operacion::Negrita, false},
    {u"<C>", Operacion::Color, true},           {u"</C>", Operacion::Color, false},
    {u"<S>", Operacion::Subrayado, true},       {u"</S>", Operacion::Subrayado, false},
    {u"<I>", Operacion::Invertido, true},       {u"</I>", Operacion::Invertido, false},
    {u"<XH>", Operacion::ExtraExpandido, true}, {u"</XH>", Operacion::ExtraExpandido, false},
    {u"<H>", Operacion::Expandido, true},       {u"</H>", Operacion::Expandido, false},
    {u"<CAJA>", Operacion::Caja, false},        {u"<CORTE>", Operacion::Corte, false},
    {u"<N>", Operacion::Avance, false},
};

const Etiqueta* Buscar(QStringView etiqueta) {
    for (const Etiqueta& e : kEtiquetas) {
        if (etiqueta.compare(e.texto, Qt::CaseInsensitive) == 0) {
            return &e;
        }
    }
    return nullptr;
}

void Ejecutar(ctlImpresora& pr2, const Etiqueta& e) {
    switch (e.operacion) {
    case Operacion::Negrita:
        pr2.Negrita(e.activa);
        break;
    case Operacion::Color:
        pr2.Color(e.activa);
        break;
    case Operacion::Subrayado:
        pr2.Subrayado(e.activa);
        break;
    case Operacion::Invertido:
        pr2.Invertido(e.activa);
        break;
    case Operacion::ExtraExpandido:
        pr2.ExtraExpandido(e.activa);
        break;
    case Operacion::Expandido:
        pr2.Expandido(e.activa);
        break;
    case Operacion::Caja:
        pr2.Abrircaja();
        break;
    case Operacion::Corte:
        pr2.Cortar();
        break;
    case Operacion::Avance:
        pr2.Avanzar();
        break;
    case Operacion::Ninguna:
        break;
    }
}

} // namespace

std::optional<PiezaRenglon> LectorRenglon::Siguiente() {
    const qsizetype p = m_posicion;
    const QStringView renglon = m_renglon;
    if (p >= renglon.size()) {
        return std::nullopt;
    }
    if (renglon[p] != u'<') {
        qsizetype fin = renglon.indexOf(u'<', p);
        if (fin < 0) {
            fin = renglon.size();
        }
        m_posicion = fin;
        return PiezaRenglon{false, renglon.mid(p, fin - p)};
    }
    const qsizetype cierre = renglon.indexOf(u'>', p);
    if (cierre < 0) {
        // The message is logged at every tick until the job is mended:
        // quote only the start of a long line.
        const QString cita = renglon.size() > kCitaMaxima ? renglon.left(kCitaMaxima).toString() + QStringLiteral("...")
                                                          : renglon.toString();
        throw ErrorEjecucion(5, QStringLiteral("Etiqueta sin cerrar en el renglon: %1").arg(cita));
    }
    m_posicion = cierre + 1;
    return PiezaRenglon{true, renglon.mid(p, cierre - p + 1)};
}

void ComprobarRenglon(QStringView renglon) {
    LectorRenglon lector(renglon);
    while (lector.Siguiente()) {
    }
}

ResultadoRenglon InterpretarRenglon(ctlImpresora& pr2, QStringView renglon) {
    LectorRenglon lector(renglon);
    while (const std::optional<PiezaRenglon> pieza = lector.Siguiente()) {
        if (!pieza->etiqueta) {
            if (!pr2.Imprimir(pieza->texto.toString())) {
                return ResultadoRenglon::FalloImpresion;
            }
        } else if (const Etiqueta* e = Buscar(pieza->texto)) {
            Ejecutar(pr2, *e);
        }
    }
    return ResultadoRenglon::Completo;
}
