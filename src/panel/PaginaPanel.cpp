#include "panel/PaginaPanel.h"

#include <QHash>
#include <algorithm>

namespace {

// Set-aside jobs listed under a card and the wait that counts as trouble:
// the same as the script's.
constexpr int kApartadosVisibles = 5;
constexpr qint64 kEsperaLarga = 120;

QString Html(const QString& texto) {
    return texto.toHtmlEscaped();
}

QString NombreDe(const ImpresoraTienda& i) {
    return i.nombre ? *i.nombre : QStringLiteral("Impresora %1").arg(i.id);
}

QString Duracion(const std::optional<qint64>& segundos) {
    if (!segundos) {
        return QStringLiteral("—");
    }
    const qint64 s = *segundos;
    if (s < 60) {
        return QStringLiteral("%1 s").arg(s);
    }
    if (s < 3600) {
        return QStringLiteral("%1:%2 min").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2 h").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'));
}

struct Estado {
    QString palabras;
    QString clase;
};

Estado EstadoDe(const ImpresoraTienda& i) {
    if (!i.puertoValido) {
        return {QStringLiteral("Puerto no válido"), QStringLiteral("falla")};
    }
    if (!i.estado) {
        return {QStringLiteral("Sin estado (fuera de servicio)"), QStringLiteral("fuera")};
    }
    const QString letra = i.estado->trimmed();
    if (i.falla && letra != QStringLiteral("D")) {
        return {QStringLiteral("No imprime"), QStringLiteral("falla")};
    }
    if (letra == QStringLiteral("A")) {
        return {QStringLiteral("Lista"), {}};
    }
    if (letra == QStringLiteral("C")) {
        return {QStringLiteral("Lista (aviso de la impresora)"), {}};
    }
    if (letra == QStringLiteral("F")) {
        return {QStringLiteral("No responde"), QStringLiteral("aviso")};
    }
    if (letra == QStringLiteral("P")) {
        return {QStringLiteral("Sin papel o falla del puerto"), QStringLiteral("falla")};
    }
    if (letra == QStringLiteral("D")) {
        return {QStringLiteral("Fuera de servicio"), QStringLiteral("fuera")};
    }
    return {QStringLiteral("Estado ") + letra, QStringLiteral("aviso")};
}

bool EnProblemas(const ImpresoraTienda& i) {
    return !EstadoDe(i).clase.isEmpty() || i.Redirigida() || i.falla || i.apartados > 0 ||
           i.esperaMasAntigua.value_or(0) >= kEsperaLarga;
}

QString Tarjeta(const ImpresoraTienda& i, const QHash<int, const ImpresoraTienda*>& porId,
                const QHash<int, QString>& nombresTerminal) {
    const Estado estado = EstadoDe(i);
    const QString clase = estado.clase.isEmpty() && EnProblemas(i) ? QStringLiteral("atencion") : estado.clase;
    QString t = QStringLiteral("<article class=\"tarjeta %1\" data-impresora=\"%2\"><h3><span class=\"titulo\">"
                               "<span class=\"nombre\">%3</span>%4</span><span class=\"estado\">%5</span></h3>")
                    .arg(clase)
                    .arg(i.id)
                    .arg(Html(NombreDe(i)), i.cheques ? QStringLiteral(" (cheques)") : QString(), estado.palabras);
    const QString terminal = nombresTerminal.value(i.terminal);
    QString detalle = QStringLiteral("Terminal %1").arg(i.terminal) +
                      (terminal.isEmpty() ? QString() : QStringLiteral(" · ") + terminal) +
                      QStringLiteral(" · #%1 · ").arg(i.id) + i.puerto;
    t += QStringLiteral("<p class=\"detalle\">%1</p>").arg(Html(detalle));
    if (i.Redirigida()) {
        const ImpresoraTienda* destino = porId.value(i.redirigido);
        t += QStringLiteral("<p class=\"redirigida\">Sus trabajos van a: %1</p>")
                 .arg(Html(destino ? NombreDe(*destino) : QStringLiteral("Impresora %1").arg(i.redirigido)));
    }
    if (i.falla) {
        t += QStringLiteral("<p class=\"causa\">No imprime: %1</p>").arg(Html(*i.falla));
    }
    if (i.papelBajo.value_or(false)) {
        t += QStringLiteral("<p class=\"papel-bajo\">Papel por terminarse: sigue imprimiendo, cambie el rollo "
                            "pronto</p>");
    }
    t += QStringLiteral("<dl class=\"cifras\"><div><dt>En cola</dt><dd>%1</dd></div><div><dt>Espera mayor</dt>"
                        "<dd>%2</dd></div><div><dt>Escribién&shy;dose</dt><dd>%3</dd></div><div><dt>Apartados</dt>"
                        "<dd>%4</dd></div></dl>")
             .arg(i.pendientes)
             .arg(Duracion(i.esperaMasAntigua))
             .arg(i.escribiendose)
             .arg(i.apartados);
    const qsizetype apartados = i.trabajosApartados.size();
    if (apartados) {
        t += QStringLiteral("<details class=\"apartados\"><summary>%1</summary><ul>")
                 .arg(apartados == 1 ? QStringLiteral("1 trabajo apartado")
                                     : QStringLiteral("%1 trabajos apartados").arg(apartados));
        // The page is the same for every reader: the jobs' text is only
        // fetched by a signed-in operator's script.
        for (const TrabajoApartado& trabajo : i.trabajosApartados.mid(0, kApartadosVisibles)) {
            t += QStringLiteral("<li><span>Trabajo %1</span></li>").arg(trabajo.id);
        }
        t += QStringLiteral("</ul>");
        if (apartados > kApartadosVisibles) {
            t += QStringLiteral("<p class=\"mas\">y %1 más</p>").arg(apartados - kApartadosVisibles);
        }
        t += QStringLiteral("</details>");
    }
    return t + QStringLiteral("</article>");
}

QString Resumen(const EstadoTienda& estado) {
    if (estado.impresoras.isEmpty()) {
        return QStringLiteral("No hay impresoras registradas.");
    }
    qsizetype problemas = 0;
    qint64 pendientes = 0;
    const ImpresoraTienda* mayor = nullptr;
    for (const ImpresoraTienda& i : estado.impresoras) {
        problemas += EnProblemas(i) ? 1 : 0;
        pendientes += i.pendientes;
        if (i.esperaMasAntigua && (!mayor || *i.esperaMasAntigua > *mayor->esperaMasAntigua)) {
            mayor = &i;
        }
    }
    return QStringLiteral("%1 de %2 impresoras con problemas · %3 trabajos en cola · ")
               .arg(problemas)
               .arg(estado.impresoras.size())
               .arg(pendientes) +
           (mayor ? QStringLiteral("espera mayor %1 (%2)").arg(Duracion(mayor->esperaMasAntigua), NombreDe(*mayor))
                  : QStringLiteral("sin esperas"));
}

} // namespace

QByteArray PaginaConEstado(const QByteArray& pagina, const EstadoTienda& estado) {
    QHash<int, const ImpresoraTienda*> porId;
    for (const ImpresoraTienda& i : estado.impresoras) {
        porId.insert(i.id, &i);
    }
    QHash<int, QString> nombresTerminal;
    for (const TerminalTienda& t : estado.terminales) {
        if (t.nombre) {
            nombresTerminal.insert(t.id, *t.nombre);
        }
    }
    QList<const ImpresoraTienda*> orden;
    for (const ImpresoraTienda& i : estado.impresoras) {
        orden.append(&i);
    }
    std::stable_sort(orden.begin(), orden.end(), [](const ImpresoraTienda* a, const ImpresoraTienda* b) {
        return EnProblemas(*a) && !EnProblemas(*b);
    });
    QString tarjetas = QStringLiteral("<div class=\"tarjetas\">");
    for (const ImpresoraTienda* i : orden) {
        tarjetas += Tarjeta(*i, porId, nombresTerminal);
    }
    tarjetas += QStringLiteral("</div>");
    QByteArray resultado = pagina;
    resultado.replace("<!--resumen-->", Html(Resumen(estado)).toUtf8());
    resultado.replace("<!--tarjetas-->", tarjetas.toUtf8());
    resultado.replace(">Cargando…<", QStringLiteral(">Leído a las %1 · se recarga cada 5 s<")
                                         .arg(estado.generado.toLocalTime().toString(QStringLiteral("HH:mm:ss")))
                                         .toUtf8());
    return resultado;
}
