#include "ports/TransporteTcp.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <linux/sockios.h>
#include <sys/ioctl.h>

TransporteTcp::TransporteTcp(const QString& host, quint16 puerto) : m_host(host), m_puerto(puerto) {}

TransporteTcp::~TransporteTcp() {
    Cerrar();
}

bool TransporteTcp::Abrir() {
    if (PortOpen()) {
        m_error = QStringLiteral("El puerto ya está abierto");
        return false;
    }
    m_sinRespuesta = false;
    m_socket = std::make_unique<QTcpSocket>();
    m_socket->connectToHost(m_host, m_puerto);
    if (!m_socket->waitForConnected(kPlazoConexion)) {
        m_sinRespuesta = m_socket->error() == QAbstractSocket::SocketTimeoutError;
        m_error = QStringLiteral("%1:%2: %3").arg(m_host).arg(m_puerto).arg(m_socket->errorString());
        m_socket.reset();
        return false;
    }
    // Commands are a few bytes each: send them at once.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // The connection stays open between jobs while the event loop runs; a
    // printer that sends without pause must not fill memory meanwhile. Past
    // this bound the socket stops reading and the system's flow control holds
    // the printer back.
    m_socket->setReadBufferSize(kEntradaMaxima);
    return true;
}

void TransporteTcp::Cerrar() {
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
}

bool TransporteTcp::PortOpen() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool TransporteTcp::Cerrado() {
    if (PortOpen()) {
        return false;
    }
    m_error = QStringLiteral("El puerto está cerrado");
    return true;
}

bool TransporteTcp::Output(QByteArrayView bytes) {
    if (Cerrado()) {
        return false;
    }
    if (bytes.isEmpty()) {
        return true;
    }
    QTcpSocket& s = *m_socket;
    if (s.write(bytes.data(), bytes.size()) != bytes.size()) {
        m_error = s.errorString();
        Cerrar();
        return false;
    }
    const QDeadlineTimer limite(LimiteSalida(bytes.size()));
    while (s.bytesToWrite() > 0) {
        if (limite.hasExpired() ||
            (!s.waitForBytesWritten(static_cast<int>(limite.remainingTime())) && s.bytesToWrite() > 0)) {
            m_error = s.state() == QAbstractSocket::ConnectedState
                          ? QStringLiteral("%1:%2: la salida no terminó a tiempo").arg(m_host).arg(m_puerto)
                          : s.errorString();
            Cerrar();
            return false;
        }
    }
    return true;
}

// Moves what the system holds into the socket's buffer without waiting: with
// no event loop running, nothing else does.
void TransporteTcp::TomarPendiente() {
    m_socket->waitForReadyRead(0);
}

QByteArray TransporteTcp::Input() {
    if (!PortOpen()) {
        return m_socket ? m_socket->readAll() : QByteArray();
    }
    TomarPendiente();
    return m_socket->readAll();
}

qint64 TransporteTcp::InBufferCount() {
    if (!m_socket) {
        return 0;
    }
    if (PortOpen()) {
        TomarPendiente();
    }
    return m_socket->bytesAvailable();
}

void TransporteTcp::DescartarEntrada() {
    // Drains what the system holds too, a bounded number of buffers at a
    // time: a printer that floods the connection is never waited out.
    for (int i = 0; i < 64 && InBufferCount() > 0; ++i) {
        m_socket->readAll();
    }
}

Transporte::Espera TransporteTcp::EsperarEntrada(int milisegundos) {
    if (Cerrado()) {
        return Espera::Fallo;
    }
    if (m_socket->waitForReadyRead(milisegundos)) {
        return Espera::Datos;
    }
    if (m_socket->error() == QAbstractSocket::SocketTimeoutError && PortOpen()) {
        return Espera::Plazo;
    }
    m_error = m_socket->errorString();
    return Espera::Fallo;
}

qint64 TransporteTcp::PorEnviar() {
    if (!PortOpen()) {
        return 0;
    }
    int enCola = 0;
    if (::ioctl(static_cast<int>(m_socket->socketDescriptor()), SIOCOUTQ, &enCola) != 0) {
        enCola = 0;
    }
    return m_socket->bytesToWrite() + enCola;
}

bool TransporteTcp::Break(bool /*activo*/) {
    return !Cerrado();
}
