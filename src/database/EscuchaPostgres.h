#pragma once

#include "database/AvisoCambios.h"

#include <QSocketNotifier>
#include <QTimer>

struct pg_conn;

// The PostgreSQL notifications of AvisoCambios: one libpq connection, driven
// without blocking from the event loop, that connects, LISTENs on kCanal and
// emits Cambio for every notification. Nothing else runs on it.
//
// When the connection fails or drops, that is logged once, the queue keeps
// polling, and the connection is tried again after 0.5 s, doubling up to 30 s;
// once it listens again that is logged and Cambio is emitted, since jobs may
// have been released meanwhile.
class EscuchaPostgres : public AvisoCambios {
    Q_OBJECT
public:
    EscuchaPostgres(QString servidor, QString baseDatos, QString usuario, QString contrasena, QString puerto = {},
                    QObject* parent = nullptr);
    ~EscuchaPostgres() override;

    // LISTEN has been acknowledged on the current connection.
    bool Escuchando() const override { return m_escuchando; }
    QSet<QString> Revisar() override;

private:
    void Conectar();
    void Avanzar();
    void Leer();
    void Perder(const QString& motivo);
    void Vigilar(bool lectura, bool escritura);
    void Cerrar();

    QString m_servidor, m_baseDatos, m_usuario, m_contrasena, m_puerto;
    pg_conn* m_pg = nullptr;
    std::unique_ptr<QSocketNotifier> m_lectura;
    std::unique_ptr<QSocketNotifier> m_escritura;
    QTimer m_reintento;
    int m_esperaMs = 500;
    bool m_conectando = false;
    bool m_escuchando = false;
    bool m_perdida = false; // logged, and not listening since
};
