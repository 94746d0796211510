#pragma once

class Conexion;

// A transaction on the one connection, for the commands that write several
// rows which must appear together or not at all. The connection works in
// autocommit mode, so the transaction is opened and closed with plain SQL that
// SQL Server, PostgreSQL and SQLite all accept. Unless Confirmar() succeeds,
// the destructor rolls back, also while an exception is leaving the scope.
class Transaccion {
public:
    // Begins the transaction; a failure throws ErrorEjecucion.
    explicit Transaccion(Conexion& conexion);
    ~Transaccion();

    Transaccion(const Transaccion&) = delete;
    Transaccion& operator=(const Transaccion&) = delete;

    // Commits; a failure throws ErrorEjecucion and the destructor still rolls
    // back whatever the server kept open.
    void Confirmar();

private:
    Conexion& m_conexion;
    bool m_abierta = false;
};
