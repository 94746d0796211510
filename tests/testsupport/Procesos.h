#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

// Repeats `condicion` every 50 ms until it holds or `segundos` pass, while
// processing events. Returns whether it held.
template <typename F> bool Esperar(F&& condicion, double segundos) {
    QElapsedTimer reloj;
    reloj.start();
    while (!condicion()) {
        if (reloj.elapsed() > segundos * 1000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(50);
    }
    return true;
}

// SIGKILL to a process still running, and waits for its end.
inline void TerminarProceso(QProcess& proceso) {
    if (proceso.state() != QProcess::NotRunning) {
        proceso.kill();
        proceso.waitForFinished(5000);
    }
}
