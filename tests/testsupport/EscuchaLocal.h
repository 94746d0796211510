#pragma once

#include <QString>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A TCP port on 127.0.0.1 that listens and never accepts: the system's
// backlog takes connections, as a network printer busy with another sender
// does, and a test can accept them itself. Closed on destruction.
class EscuchaLocal {
public:
    explicit EscuchaLocal(int cola = 4) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t largo = sizeof d;
        m_lista = bind(m_fd, reinterpret_cast<sockaddr*>(&d), sizeof d) == 0 && listen(m_fd, cola) == 0 &&
                  getsockname(m_fd, reinterpret_cast<sockaddr*>(&d), &largo) == 0;
        m_puerto = ntohs(d.sin_port);
    }
    ~EscuchaLocal() { close(m_fd); }
    EscuchaLocal(const EscuchaLocal&) = delete;
    EscuchaLocal& operator=(const EscuchaLocal&) = delete;

    bool Lista() const { return m_lista; }
    int Descriptor() const { return m_fd; }
    quint16 Puerto() const { return m_puerto; }
    // The text for setting ORLAN/Puertos/COMn.
    QString Destino() const { return QStringLiteral("tcp:127.0.0.1:%1").arg(m_puerto); }

private:
    int m_fd = -1;
    bool m_lista = false;
    quint16 m_puerto = 0;
};
