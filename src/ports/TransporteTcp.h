#pragma once

#include "ports/Transporte.h"

#include <memory>

class QTcpSocket;

// A network receipt printer on its raw port (usually 9100): the same bytes as
// on a serial line, over one TCP connection, and the printer's answers come
// back on that connection.
//
// Abrir connects and waits at most kPlazoConexion for the printer to take the
// connection; a printer that does not is SinRespuesta(), while a refused
// connection or an unknown host is a failed port. A host given by name is
// looked up by the system's resolver first (an address avoids the wait).
// Output waits until the socket has taken the bytes, at most what a 9600-baud
// line would need twice over plus a second; a printer that holds them longer
// has the connection dropped, so that nothing of a failed output arrives
// later. At most kEntradaMaxima bytes of unread input are kept; a printer
// that sends more waits for them to be taken (DescartarEntrada drains them).
// There is no line to hold in break.
class TransporteTcp final : public Transporte {
public:
    static constexpr int kPlazoConexion = 2000;    // milliseconds
    static constexpr qint64 kEntradaMaxima = 4096; // unread input kept, bytes

    TransporteTcp(const QString& host, quint16 puerto);
    ~TransporteTcp() override;

    bool Abrir() override;
    void Cerrar() override;
    bool PortOpen() const override;
    bool Output(QByteArrayView bytes) override;
    QByteArray Input() override;
    qint64 InBufferCount() override;
    void DescartarEntrada() override;
    Espera EsperarEntrada(int milisegundos) override;
    bool Break(bool activo) override;
    qint64 PorEnviar() override;
    bool SinRespuesta() const override { return m_sinRespuesta; }
    const QString& Error() const override { return m_error; }

private:
    bool Cerrado();
    void TomarPendiente();

    QString m_host;
    quint16 m_puerto;
    std::unique_ptr<QTcpSocket> m_socket;
    bool m_sinRespuesta = false;
    QString m_error;
};
