#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

// The panel's operator sessions and its brake on password guessing. A session
// is a random token held in an HttpOnly cookie plus a second random token, the
// CSRF token, that the page must send back in a header with every action: a
// page of another site can make the browser send the cookie but cannot read
// the CSRF token. Sessions end when signed out or after kDuracion idle; they
// live in memory only, so restarting the panel signs everybody out.
class SesionesPanel {
public:
    struct Sesion {
        QString usuario;
        QByteArray csrf;
        qint64 ultimoUso = 0; // ms on the monotonic clock
        qint64 permiso = 0;   // when the operator's permission was last confirmed
    };

    static constexpr qint64 kDuracion = 8 * 3600 * 1000;
    // Sessions kept per account and in all; past them the least recently
    // used goes, so that signing in over and over cannot fill the memory.
    static constexpr int kSesionesPorCuenta = 16;
    static constexpr int kSesionesTotal = 512;
    // Failed sign-ins allowed within kVentanaFallos from one address at one
    // account, and from one address at any (a host trying many names). Many
    // hosts guessing at one account do not lock it: each sign-in at an
    // account with recent failures waits a little instead, up to kDemoraMaxima.
    static constexpr int kMaximoFallos = 5;
    static constexpr int kMaximoPorDireccion = 20;
    static constexpr qint64 kVentanaFallos = 5 * 60 * 1000;
    static constexpr qint64 kDemoraPorFallo = 100;
    static constexpr qint64 kDemoraMaxima = 2000;
    // Failures remembered at once; past it the oldest are forgotten.
    static constexpr int kFallosRecordados = 4096;

    SesionesPanel() { m_reloj.start(); }

    // Opens a session and returns its token.
    QByteArray Abrir(const QString& usuario);
    // The live session of a token, or null; using it keeps it alive.
    Sesion* Buscar(const QByteArray& token);
    void Cerrar(const QByteArray& token);
    int Abiertas() const { return int(m_sesiones.size()); }
    // Milliseconds on the sessions' clock.
    qint64 Ahora() const { return m_reloj.elapsed(); }

    // Whether a sign-in from `direccion` at `cuenta` (empty: a name that is
    // not one) must wait; `espera` gets the seconds until it may try again.
    bool Bloqueada(const QString& direccion, const QString& cuenta, qint64* espera = nullptr);
    void RegistrarFallo(const QString& direccion, const QString& cuenta);
    // Milliseconds a sign-in at `cuenta` waits before it is checked: more
    // the more guesses the account had lately, never more than kDemoraMaxima.
    qint64 Demora(const QString& cuenta);
    int FallosRecordados() const { return int(m_fallos.size()); }
    // A valid sign-in clears the failures of its own account from its own
    // address only: another operator's success must not free a guesser.
    void Olvidar(const QString& direccion, const QString& cuenta);

private:
    struct Fallo {
        qint64 momento;
        QString direccion;
        QString cuenta;
    };
    QByteArray Aleatorio() const;
    void Depurar();

    QElapsedTimer m_reloj;
    QHash<QByteArray, Sesion> m_sesiones;
    // Oldest first, at most kFallosRecordados.
    QList<Fallo> m_fallos;
};
