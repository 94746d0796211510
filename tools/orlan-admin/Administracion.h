#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <optional>

// The technician's and the tests' administration commands on the database the
// terminal is configured for (settings, credentials and ODBCSYSINI, exactly as
// orlan-cola uses them). Each returns the process exit status: 0 on success,
// 1 for a refused request (a printer that does not exist, a bad argument),
// 2 when the database cannot be reached or a statement fails.
//
// The commands that add or change printers and terminals first create the
// Parametros row 'TERMINAL' when it is missing (replication reads it), with
// the terminal number of the settings, or else the terminal being added, or
// else the lowest terminal in Terminal.
namespace Administracion {

int CrearEsquema(const QString& motor, QTextStream& salida, QTextStream& errores);
// Adds only the notification triggers of the schema to an existing database
// (PostgreSQL); refuses (1) a backend that has none.
int CrearDespertar(const QString& motor, QTextStream& salida, QTextStream& errores);
// Adds only the optional claims table ReclamoTrabajo (every backend) to an
// existing database, such as a shop's point-of-sale database; running it again
// changes nothing.
int CrearReclamos(const QString& motor, QTextStream& salida, QTextStream& errores);
int CargarDemo(QTextStream& salida, QTextStream& errores);

struct Trabajo {
    int impresora = 0;
    QString tipo = QStringLiteral("R");
    QString usuario = QStringLiteral("orlan-admin");
    QStringList renglones;
};
// Writes a job the way a point-of-sale terminal does: the header with
// Escribiendo = -1, its lines, then Escribiendo = 0. Prints the job number.
int Encolar(const Trabajo& trabajo, QTextStream& salida, QTextStream& errores);

// Every job with its state: pendiente (Escribiendo = 0), escribiendose (still
// being written) or apartado (set aside by the server as impossible to print).
int ListarCola(QTextStream& salida, QTextStream& errores);
// Puts a set-aside job back in the queue (Escribiendo = 0); refuses (1) a job
// that does not exist or is not set aside.
int Reintentar(qint64 trabajo, QTextStream& salida, QTextStream& errores);
int MostrarImpresora(int impresora, QTextStream& salida, QTextStream& errores);

// Adds terminal `numero` to Terminal; refuses (1) one that exists.
int AgregarTerminal(int numero, const QString& nombre, QTextStream& salida, QTextStream& errores);

struct Impresora {
    int terminal = 0;
    QString puerto;
    QString modo;
    QString nombre;
    int respaldo = 0; // 0: none
    bool cheques = false;
};
// Adds a printer the server serves at once: the next free id, state 'A' and
// Redirigido = its own id, the port name in upper case. Refuses (1) an unknown
// terminal or backup, a port name the server cannot use and a dialect other
// than E, C or S. Prints the id.
int AgregarImpresora(const Impresora& impresora, QTextStream& salida, QTextStream& errores);
// Makes printer `respaldo` the backup of printer `impresora`.
int AsignarRespaldo(int impresora, int respaldo, QTextStream& salida, QTextStream& errores);
// Every printer with its terminal, port, dialect, backup, serving printer and state.
int ListarImpresoras(QTextStream& salida, QTextStream& errores);
// Serves a printer's own jobs again after a redirection: Redirigido = itself,
// Estado_Impresora = 'A'.
int Restablecer(int impresora, QTextStream& salida, QTextStream& errores);
// Encrypts an operator's password the way the login dialog reads it back
// (DES under the credentials' key, Base64). Without a user it prints the
// stored text; with one it writes it into that employee's row.
int Contrasena(const QString& contrasena, const QString& usuario, QTextStream& salida, QTextStream& errores);

// PostgreSQL: creates the login role `rol` for a terminal when it is missing
// (with `contrasena`, or else a password read without echo) and grants it what
// the servers, the status panel and the day-to-day commands need on the
// schema's tables, sequences and functions, and nothing else: no DDL, no
// ownership. A `contrasena` given for an existing role becomes its password.
// Refuses (1) other backends, the tables' owner and a superuser.
int Rol(const QString& rol, const std::optional<QString>& contrasena, QTextStream& salida, QTextStream& errores);

// Runs one statement; a select prints its rows separated by tabs.
int Sql(const QString& sentencia, QTextStream& salida, QTextStream& errores);

} // namespace Administracion
