#pragma once

#include "impresora-virtual/ImpresoraVirtual.h"

#include <QString>
#include <vector>

// A network receipt printer on 127.0.0.1: the program under test connects to
// Destino() ("tcp:127.0.0.1:PORT") as its port. Each connection is a stream
// of the printer's bytes; a status request is answered on the connection it
// came on (see ImpresoraVirtual). Connections are taken as they come, several
// at a time if need be.
class ImpresoraTcp final : public ImpresoraVirtual {
public:
    // Listens on `puerto`, or on one the system picks when it is 0.
    explicit ImpresoraTcp(quint16 puerto = 0);
    ~ImpresoraTcp() override;

    // False when the port could not be had; Error() says why.
    bool Abierta() const { return m_escucha >= 0; }
    const QString& Error() const { return m_error; }

    quint16 Puerto() const { return m_puerto; }
    // The text for setting ORLAN/Puertos/COMn.
    QString Destino() const { return QStringLiteral("tcp:127.0.0.1:%1").arg(m_puerto); }

    QByteArray Atender(int milisegundos) override;

    // Connections taken so far.
    int Conexiones() const { return m_conexiones; }

    // Stops listening and drops every connection.
    void Cerrar();

private:
    struct Cliente {
        int fd;
        int estadoPedido;
    };

    int m_escucha = -1;
    quint16 m_puerto = 0;
    QString m_error;
    std::vector<Cliente> m_clientes;
    std::atomic<int> m_conexiones{0};
};
