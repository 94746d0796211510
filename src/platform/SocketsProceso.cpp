#include "platform/SocketsProceso.h"

#include <QByteArray>
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The inode of "socket:[12345]", the link /proc/self/fd/<n> points to; 0 for
// anything that is not a socket.
quint64 InodoSocket(int descriptor) {
    char ruta[64];
    std::snprintf(ruta, sizeof ruta, "/proc/self/fd/%d", descriptor);
    char destino[64];
    const ssize_t largo = ::readlink(ruta, destino, sizeof destino - 1);
    if (largo <= 0) {
        return 0;
    }
    const QByteArray texto(destino, largo);
    if (!texto.startsWith("socket:[") || !texto.endsWith(']')) {
        return 0;
    }
    return texto.mid(8, texto.size() - 9).toULongLong();
}

} // namespace

namespace SocketsProceso {

QList<Socket> Abiertos() {
    QList<Socket> sockets;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return sockets;
    }
    const int propio = ::dirfd(dir);
    while (const dirent* entrada = ::readdir(dir)) {
        bool ok = false;
        const int descriptor = QByteArray(entrada->d_name).toInt(&ok);
        if (!ok || descriptor == propio) {
            continue;
        }
        if (const quint64 inodo = InodoSocket(descriptor)) {
            sockets.append({descriptor, inodo});
        }
    }
    ::closedir(dir);
    return sockets;
}

void Cortar(const Socket& socket) {
    if (socket.descriptor >= 0 && InodoSocket(socket.descriptor) == socket.inodo) {
        ::shutdown(socket.descriptor, SHUT_RDWR);
    }
}

void VigilarEnlace(const Socket& socket, int segundos) {
    if (socket.descriptor < 0 || InodoSocket(socket.descriptor) != socket.inodo) {
        return;
    }
    sockaddr_storage direccion{};
    socklen_t largo = sizeof direccion;
    int tipo = 0;
    socklen_t largoTipo = sizeof tipo;
    if (getsockname(socket.descriptor, reinterpret_cast<sockaddr*>(&direccion), &largo) != 0 ||
        (direccion.ss_family != AF_INET && direccion.ss_family != AF_INET6) ||
        getsockopt(socket.descriptor, SOL_SOCKET, SO_TYPE, &tipo, &largoTipo) != 0 || tipo != SOCK_STREAM) {
        return;
    }
    const int si = 1, intervalo = std::max(1, segundos / 3), sondas = 3, tope = segundos * 2000;
    setsockopt(socket.descriptor, SOL_SOCKET, SO_KEEPALIVE, &si, sizeof si);
    setsockopt(socket.descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &segundos, sizeof segundos);
    setsockopt(socket.descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &intervalo, sizeof intervalo);
    setsockopt(socket.descriptor, IPPROTO_TCP, TCP_KEEPCNT, &sondas, sizeof sondas);
    setsockopt(socket.descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT, &tope, sizeof tope);
}

} // namespace SocketsProceso
