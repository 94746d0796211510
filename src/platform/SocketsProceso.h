#pragma once

#include <QList>

// The network sockets this process holds, and a way to cut one from another
// thread. A database driver blocked in a read on a server that stopped
// answering (but keeps the connection open) only returns when its socket is
// shut down under it; that is the database layer's last resort after a
// time-out. Linux: the sockets are read from /proc/self/fd.
namespace SocketsProceso {

struct Socket {
    int descriptor = -1;
    quint64 inodo = 0; // tells a socket from a later one that got the same descriptor
    bool operator==(const Socket&) const = default;
};

// Every socket open in this process right now.
QList<Socket> Abiertos();

// Shuts the socket down in both directions, so that a read or write blocked
// on it returns at once; the descriptor stays open for its owner to close.
// Does nothing when the descriptor no longer refers to the same socket.
void Cortar(const Socket& socket);

// A TCP socket notices a peer gone without a word (a link that dropped) in
// seconds instead of minutes: keep-alive probes after `segundos` idle, and
// data left unacknowledged for `segundos` * 2 closes it. Unix sockets and
// sockets no longer there are left alone.
void VigilarEnlace(const Socket& socket, int segundos);

} // namespace SocketsProceso
