#pragma once

#include "database/Esquema.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A terminal set up for a benchmark the way a technician sets one up: the
// settings store, the credentials file (mode 0600) and the drive root in a
// temporary directory (XDG_CONFIG_HOME, XDG_DATA_HOME), ODBCSYSINI at the
// shipped driver registry of the backend, and a fresh database with the
// schema. SQLite gets a file in the temporary directory; PostgreSQL a new
// database on the tests' throw-away server (ServidorPostgres), started on
// first use.
//
// The variables are set in this process, so a program started from it (the
// real orlan-cola) works on the same terminal. The driver manager reads
// ODBCSYSINI once per process: one backend per benchmark program.
class TerminalBench {
public:
    TerminalBench(Motor motor, int numeroTerminal);

    // Creates the database `nombreBase` (SQLite: <root>/<nombreBase>.db),
    // writes settings and credentials, connects and runs the schema script.
    // False, with Error(), on any failure.
    bool Preparar(const QString& nombreBase);

    // The terminal's row and its two printers, both Epson on the parallel port
    // LPT1: 1 "Caja" (receipts) and 2 "Cocina" (kitchen orders), each the
    // other's backup. Throws ErrorEjecucion on failure.
    void AltaImpresoras();

    Motor MotorUsado() const { return m_motor; }
    // Settings "Servidor" and "BASE_DE_DATOS" as written.
    QString Servidor() const { return m_servidor; }
    QString BaseDatos() const { return m_baseDatos; }
    QString Raiz() const { return m_dir.path(); }
    QString Error() const { return m_error; }

private:
    Motor m_motor;
    int m_numeroTerminal;
    QTemporaryDir m_dir;
    QString m_servidor;
    QString m_baseDatos;
    QString m_error;
};
