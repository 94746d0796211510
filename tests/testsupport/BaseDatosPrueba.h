#pragma once

#include "database/Esquema.h"
#include "testsupport/EntornoPrueba.h"

#include <QString>

// Configures the terminal of an EntornoPrueba for a database backend the way a
// technician would: ODBCSYSINI at the backend's shipped driver registry,
// "Servidor" and "BASE_DE_DATOS" in the settings and a credentials file with
// mode 0600. SQLite gets a database file in the test's directory, PostgreSQL a
// new database on the shared test server. The driver manager reads ODBCSYSINI
// once per process, so one test program works on one backend only.
class BaseDatosPrueba {
public:
    BaseDatosPrueba(EntornoPrueba& entorno, Motor motor) : m_entorno(entorno), m_motor(motor) {}

    // False (with Error()) on failure. With `crearEsquema` it also connects
    // and runs the schema script.
    bool Preparar(bool crearEsquema = true);
    QString Error() const { return m_error; }

    // PostgreSQL: every later connection to the test's database starts with
    // standard_conforming_strings off, as on a server configured so, where a
    // backslash inside '...' escapes the quote after it. Runs on the open
    // connection, then reopens it. Other backends: nothing to do, true.
    bool BarraEscapaComillas();

    static QString DirectorioOdbc(Motor motor);
    // Writes the credentials file with the given mode (e.g. 0600).
    static void EscribirCredenciales(const QByteArray& contenido, int modo = 0600);

private:
    EntornoPrueba& m_entorno;
    Motor m_motor;
    QString m_error;
    QString m_base;
};
