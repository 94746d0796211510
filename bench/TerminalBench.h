#pragma once

#include "database/Esquema.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/EntornoPrueba.h"

#include <QString>
#include <functional>

// A terminal set up for a benchmark the way the tests set one up (and a
// technician would): settings, credentials and drive root in a temporary
// directory, ODBCSYSINI at the backend's driver registry, and a fresh database
// with the schema (SQLite: a file; PostgreSQL: a database on the tests'
// throw-away server). The variables are set in this process, so a program
// started from it (the real orlan-cola) works on the same terminal. One
// backend per benchmark program: the driver manager reads ODBCSYSINI once.
class TerminalBench {
public:
    TerminalBench(Motor motor, int numeroTerminal) : m_numeroTerminal(numeroTerminal), m_bd(m_entorno, motor) {}

    // Writes the settings, connects and runs the schema script. False, with
    // Error(), on any failure.
    bool Preparar();

    // The terminal's row and its two printers, both Epson on the parallel port
    // LPT1, each the other's backup: 1 for receipts, 2 for kitchen orders.
    // Throws ErrorEjecucion on failure.
    void AltaImpresoras();

    // Preparar, then AltaImpresoras, with the parallel port simulated: a
    // terminal the real orlan-cola can serve. False, with Error(), on failure.
    bool PrepararConImpresoras();

    // Settings "Servidor" and "BASE_DE_DATOS" as written.
    QString Servidor() const;
    QString BaseDatos() const;
    QString Raiz() const { return m_entorno.Raiz(); }
    QString Error() const { return m_error; }

    // A benchmark program's whole run on terminal 1 of `motor`: prepares it,
    // runs `medir`, and reports a failed statement; the exit code.
    static int Correr(Motor motor, const std::function<int(TerminalBench&)>& medir);

private:
    int m_numeroTerminal;
    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd;
    QString m_error;
};
