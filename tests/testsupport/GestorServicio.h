#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// systemd's side of Type=notify: the datagram socket named by NOTIFY_SOCKET,
// and every message the server sent to it.
class Gestor {
public:
    explicit Gestor(const QString& ruta) : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_un direccion{};
        direccion.sun_family = AF_UNIX;
        const QByteArray nombre = QFile::encodeName(ruta);
        std::memcpy(direccion.sun_path, nombre.constData(),
                    std::min<std::size_t>(nombre.size(), sizeof direccion.sun_path - 1));
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&direccion), sizeof direccion), 0);
        qputenv("NOTIFY_SOCKET", nombre);
    }
    ~Gestor() {
        qunsetenv("NOTIFY_SOCKET");
        ::close(m_fd);
    }
    const QStringList& Mensajes() {
        char datos[4096];
        for (ssize_t n; (n = ::recv(m_fd, datos, sizeof datos, 0)) > 0;) {
            m_mensajes << QString::fromUtf8(datos, static_cast<int>(n));
        }
        return m_mensajes;
    }
    int Indice(const QString& prefijo) {
        const QStringList& m = Mensajes();
        const auto i = std::find_if(m.begin(), m.end(), [&](const QString& s) { return s.startsWith(prefijo); });
        return i == m.end() ? -1 : static_cast<int>(i - m.begin());
    }

private:
    int m_fd;
    QStringList m_mensajes;
};
