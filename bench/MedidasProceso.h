#pragma once

#include <QDir>
#include <QFile>
#include <optional>

// What /proc tells of a running process: its CPU time and its memory.

// utime + stime of a process, in clock ticks (fields 14 and 15 of
// /proc/<pid>/stat, counted after the command name, which may hold spaces).
inline std::optional<qint64> TiempoCpu(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray stat = f.readAll();
    const QList<QByteArray> campos = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // After the name: field 3 (state) is campos[0], so field n is campos[n - 3].
    if (campos.size() < 13) {
        return std::nullopt;
    }
    return campos[11].toLongLong() + campos[12].toLongLong();
}

// Time on the CPU of every thread of a process, in nanoseconds (first field of
// /proc/<pid>/task/<tid>/schedstat): the same time as utime + stime, without
// the clock tick's 10 ms grain. A thread that ends while it is read is left
// out; a process that is gone has no time.
inline std::optional<qint64> TiempoCpuNs(qint64 pid) {
    const QDir tareas(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList hilos = tareas.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (hilos.isEmpty()) {
        return std::nullopt;
    }
    qint64 total = 0;
    for (const QString& hilo : hilos) {
        QFile f(tareas.filePath(hilo + QStringLiteral("/schedstat")));
        if (f.open(QIODevice::ReadOnly)) {
            total += f.readAll().split(' ').first().toLongLong();
        }
    }
    return total;
}

// A "kB" line of /proc/<pid>/status (VmRSS, VmHWM) in megabytes.
inline std::optional<double> MemoriaMb(qint64 pid, const QByteArray& clave) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    for (const QByteArray& linea : f.readAll().split('\n')) {
        if (linea.startsWith(clave + ':')) {
            return linea.mid(clave.size() + 1).trimmed().split(' ').first().toLongLong() * 1024 / 1e6;
        }
    }
    return std::nullopt;
}
