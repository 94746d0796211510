#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// What the status panel shows: every printer of every terminal, where its jobs
// go, and how deep its queue is. Read from the shared database in one pass of
// four statements, one per table (printers, queue headers grouped by printer,
// set-aside jobs with their first line, terminals), whatever the number of
// printers.

struct TrabajoApartado {
    qint64 id = 0;
    QString primerRenglon; // empty when the job has no lines
};

struct ImpresoraTienda {
    int id = 0;
    std::optional<QString> nombre;
    int terminal = 0;
    QString puerto; // as stored, cut for showing
    // Whether the port is a name the print server can serve ("COM1", "LPT2");
    // a printer on any other port cannot print, whatever its state says.
    bool puertoValido = false;
    QString modo;
    std::optional<QString> estado; // Estado_Impresora as stored; NULL counts as 'D'
    int redirigido = 0;            // the printer serving its jobs
    std::optional<int> respaldo;
    bool cheques = false;
    // Our optional Impresora.PapelBajo: the printer's last answer said paper
    // near its end (it still prints). Nothing when unknown.
    std::optional<bool> papelBajo;
    // Our optional Impresora.Falla: why its server could not print on it
    // when it last tried. Nothing while it prints, or when unknown.
    std::optional<QString> falla;
    // Released jobs addressed to it or to a printer redirected to it.
    int pendientes = 0;
    // Jobs addressed to it that a writer has not released yet, and those set aside.
    int escribiendose = 0;
    int apartados = 0;
    // Age of the oldest pending job counted above whose header has a time stamp.
    std::optional<qint64> esperaMasAntigua;
    QList<TrabajoApartado> trabajosApartados;

    bool Redirigida() const { return redirigido != id; }
    // The state letter for the metrics: NULL is 'D', as the queue treats it.
    QString Letra() const { return estado ? estado->trimmed() : QStringLiteral("D"); }
};

struct TerminalTienda {
    int id = 0;
    std::optional<QString> nombre;
};

struct EstadoTienda {
    QDateTime generado;
    QList<TerminalTienda> terminales;  // those of Terminal and those named by a printer
    QList<ImpresoraTienda> impresoras; // by terminal, then id
    bool conPapelBajo = false;         // Impresora has our PapelBajo column
    bool conFalla = false;             // Impresora has our Falla column
};

// Reads the state on the open connection; database failures throw ErrorEjecucion.
// `nombresTerminal`: whether Terminal has our optional Nombre column (without
// it the terminals have no name); `papelBajo`: whether Impresora has our
// optional PapelBajo column (without it paper near its end is not known);
// `falla`: likewise for our optional Falla column.
EstadoTienda LeerEstadoTienda(bool nombresTerminal = true, bool papelBajo = true, bool falla = true);

// GET /api/estado. The set-aside jobs' text only with `renglones` (a
// signed-in operator): anyone on the LAN may read the rest.
QJsonObject EstadoJson(const EstadoTienda& estado, bool renglones = true);

// GET /metrics, in the Prometheus text format (version 0.0.4).
QByteArray Metricas(const EstadoTienda& estado);
