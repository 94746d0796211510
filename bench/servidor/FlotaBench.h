#pragma once

#include "TerminalBench.h"
#include "e2e/TerminalPrueba.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// Lets the event loop run for `ms` milliseconds.
void Pasar(qint64 ms);

// Real `orlan-cola --servicio` terminals on the database a TerminalBench
// prepared, each with its settings and simulated parallel port of its own, and
// the latency the multi-terminal benchmarks measure on them. Terminal n
// prints its receipts on printer 2n - 1 (the rows are the caller's).
class FlotaBench {
public:
    FlotaBench(Motor motor, const TerminalBench& propia) : m_motor(motor), m_propia(propia) {}

    // Starts terminals numbered on from the last one until there are `hasta`,
    // each given `preparar(n, terminal)` before it starts, and waits up to
    // `segundos` for every one to serve. False (said on stderr) when one
    // did not.
    bool Agregar(int hasta, int segundos, const std::function<void(int, TerminalPrueba&)>& preparar = {});
    // Stops and forgets them all.
    void Detener() { m_terminales.clear(); }
    std::vector<std::unique_ptr<TerminalPrueba>>& Terminales() { return m_terminales; }

    // A job of the same size on terminal t's (0-based) receipt printer, as a
    // point-of-sale terminal writes one; released at the last statement.
    void Liberar(int t);

    // One job a second for each of the first `cuantas` terminals, spread over
    // the second, for `segundos`: the time from each release to the job's
    // first byte at its printer, in milliseconds. Every job prints the same
    // number of bytes, so the first byte of a terminal's k-th job is the
    // moment its capture file grows past k jobs, seen through inotify. One job
    // each first learns that size; `listos` runs once they printed. Empty
    // when the first job did not print.
    std::vector<double> Latencias(int cuantas, int segundos, const std::function<void()>& listos = {});

private:
    QString Captura(int t) const;

    Motor m_motor;
    const TerminalBench& m_propia;
    std::vector<std::unique_ptr<TerminalPrueba>> m_terminales;
    int m_id = 1;
};
