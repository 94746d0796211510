#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <optional>

// A job whose number stands on its first and on its last line, so that a
// receipt tells which job it is and whether it came out whole.
inline QList<std::optional<QString>> Marcado(int id) {
    const QString n = QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0'));
    return {QStringLiteral("Trabajo ") + n, QStringLiteral("2 tacos al pastor, 1 agua de horchata"),
            QStringLiteral("Mesa 4, mesero Juan"), QStringLiteral("Fin ") + n};
}

// The receipts (each up to a cut, ESC m) that printers took, read for jobs
// that carry "Trabajo NNNNNN" on their first line and "Fin NNNNNN" on their
// last: per job, the copies that came out whole and those cut short; and the
// receipts with no job on them at all (a job printed with its lines gone).
struct Recibos {
    QMap<int, int> enteros, parciales;
    int enBlanco = 0;
};

inline Recibos ContarRecibos(const QList<QByteArray>& capturas) {
    static const QRegularExpression marca(QStringLiteral("(Trabajo|Fin) (\\d{6})"));
    Recibos r;
    for (const QByteArray& captura : capturas) {
        for (qsizetype desde = 0, corte; desde < captura.size(); desde = corte + 2) {
            corte = captura.indexOf("\x1B\x6D", desde);
            corte = corte < 0 ? captura.size() : corte;
            const QByteArray recibo = captura.mid(desde, corte - desde);
            QSet<int> inicios, fines;
            for (auto m = marca.globalMatch(QString::fromLatin1(recibo)); m.hasNext();) {
                const auto e = m.next();
                (e.captured(1) == QStringLiteral("Trabajo") ? inicios : fines).insert(e.captured(2).toInt());
            }
            for (int id : inicios) {
                ++(fines.contains(id) ? r.enteros : r.parciales)[id];
            }
            r.enBlanco += inicios.isEmpty() && recibo.contains("\x1B\x40") ? 1 : 0;
        }
    }
    return r;
}
