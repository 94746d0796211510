#include "database/Vigilante.h"

#include <QThread>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

// A connected pair of sockets standing for a database connection: the
// watchdog cuts one end, which the other then reads as closed.
class Vigilancia : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, m_par), 0);
        for (const SocketsProceso::Socket& s : SocketsProceso::Abiertos()) {
            if (s.descriptor == m_par[0]) {
                m_socket = s;
            }
        }
        ASSERT_EQ(m_socket.descriptor, m_par[0]);
    }
    void TearDown() override {
        ::close(m_par[0]);
        ::close(m_par[1]);
    }
    // The watched end was shut down.
    bool Cortado() {
        char byte = 0;
        return ::recv(m_par[1], &byte, 1, MSG_DONTWAIT) == 0;
    }
    static void Pausa(int ms) { QThread::msleep(ms); }

    int m_par[2] = {-1, -1};
    SocketsProceso::Socket m_socket;
    Vigilante m_vigilante{std::chrono::milliseconds(0)};
};

TEST_F(Vigilancia, CutsOnlyACallThatOutlivesItsOwnDeadline) {
    using std::chrono::milliseconds;
    // Calls that end in time are never cut, however many.
    for (int i = 0; i < 1000; ++i) {
        m_vigilante.Armar(milliseconds(60000), {m_socket});
        EXPECT_FALSE(m_vigilante.Desarmar());
    }
    // A short call ends; the next one, armed before the first one's deadline,
    // is still running when that deadline passes: it is not cut then.
    m_vigilante.Armar(milliseconds(150), {m_socket});
    EXPECT_FALSE(m_vigilante.Desarmar());
    m_vigilante.Armar(milliseconds(60000), {m_socket});
    Pausa(400);
    EXPECT_FALSE(m_vigilante.Disparado());
    EXPECT_FALSE(Cortado());
    EXPECT_FALSE(m_vigilante.Desarmar());

    // A call with an earlier deadline than the one the watchdog sleeps
    // towards is cut on time, long before that one.
    m_vigilante.Armar(milliseconds(60000), {m_socket});
    EXPECT_FALSE(m_vigilante.Desarmar());
    m_vigilante.Armar(milliseconds(100), {m_socket});
    for (int i = 0; i < 100 && !m_vigilante.Disparado(); ++i) {
        Pausa(50);
    }
    EXPECT_TRUE(m_vigilante.Disparado());
    EXPECT_TRUE(Cortado());
    EXPECT_TRUE(m_vigilante.Desarmar());
}
