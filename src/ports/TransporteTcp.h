#pragma once

#include "ports/Descriptor.h"

struct addrinfo;

// A network receipt printer on its raw port (usually 9100): the same bytes as
// on a serial line, over one TCP connection, and the printer's answers come
// back on that connection. A plain non-blocking socket: every wait is a
// poll() with a time limit.
//
// Abrir connects and waits at most kPlazoConexion for the printer to take the
// connection; a printer that does not is SinRespuesta(), while a refused
// connection or an unknown host is a failed port. A host given by name is
// looked up by the system's resolver first (an address avoids the wait); a
// name not resolved within kPlazoConexion is a failed port too, and that
// host is not looked up again until the lookup left behind has ended.
// Output waits until the socket has taken the bytes, at most what a 9600-baud
// line would need twice over plus a second; a printer that holds them longer
// has the connection reset, so that nothing of a failed output arrives
// later. At most kEntradaMaxima bytes of unread input are kept; a printer
// that sends more waits for them to be taken (DescartarEntrada drains them).
// There is no line to hold in break.
//
// A printer may close only its sending half (FIN): it sends nothing more on
// the connection but still reads and prints what comes. The connection then
// stays open and Output goes on working; only a failed write, a reset or a
// time limit closes it. No answer can come any more: EsperarEntrada returns
// Fallo at once, with the port still open (PortOpen()), which is how a
// half-closed connection is told from a lost one.
class TransporteTcp final : public TransporteDescriptor {
public:
    static constexpr int kPlazoConexion = 2000; // milliseconds

    TransporteTcp(const QString& host, quint16 puerto);
    ~TransporteTcp() override;

    bool Abrir() override;
    void Cerrar() override;
    QByteArray Input() override;
    qint64 InBufferCount() override;
    void DescartarEntrada() override;
    Espera EsperarEntrada(int milisegundos) override;
    bool Break(bool activo) override;
    qint64 PorEnviar() override;
    bool SinRespuesta() const override { return m_sinRespuesta; }

private:
    void SalidaVencida() override;
    void SalidaFallida(int numero) override;
    // The addresses of m_host, its name looked up within kPlazoConexion;
    // false with m_error set.
    bool Resolver(addrinfo*& lista);
    // Connects to one address of the host within `limite` ms; false with
    // m_error set (m_sinRespuesta when the time ran out).
    bool Conectar(const void* direccion, unsigned largo, int familia, qint64 limite);
    // Reads what the system holds, up to kEntradaMaxima kept, without
    // waiting. False when the connection failed (it is then closed).
    bool TomarPendiente();
    // Closes after a failure described by `texto`; with `reiniciar` the
    // connection is reset, so that unsent bytes are thrown away.
    void Fallar(const QString& texto, bool reiniciar);

    QString m_host;
    quint16 m_puerto;
    bool m_medioCerrada = false; // the printer's FIN came: nothing more is read
    QByteArray m_entrada;        // read from the connection, not yet taken
    bool m_sinRespuesta = false;
};
