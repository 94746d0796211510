#pragma once

#include "testsupport/ServidorPostgres.h"

#include <QString>
#include <QStringList>
#include <libpq-fe.h>

// A till next to the database: its own libpq connection on the test server's
// socket, whatever link the queue server's connection crosses. Writes jobs as
// a point-of-sale terminal does and reads single values.
class CajaDirecta {
public:
    explicit CajaDirecta(const QString& base) {
        const QByteArray datos = QString("host='%1' dbname='%2' user='%3' password='%4'")
                                     .arg(ServidorPostgres::Compartido().DirectorioSocket(), base,
                                          ServidorPostgres::kUsuario, ServidorPostgres::kContrasena)
                                     .toUtf8();
        m_pg = PQconnectdb(datos.constData());
    }
    ~CajaDirecta() { PQfinish(m_pg); }
    CajaDirecta(const CajaDirecta&) = delete;
    CajaDirecta& operator=(const CajaDirecta&) = delete;

    bool Lista() const { return PQstatus(m_pg) == CONNECTION_OK; }

    // The first column of the first row as text; empty for none or a failure.
    QString Valor(const QString& sql) {
        PGresult* r = PQexec(m_pg, sql.toUtf8().constData());
        const QString valor = PQntuples(r) > 0 ? QString::fromUtf8(PQgetvalue(r, 0, 0)) : QString();
        PQclear(r);
        return valor;
    }

    // Job `id` for printer 1, released with its lines in one transaction.
    // The lines must not hold quotes.
    bool Liberar(int id, const QStringList& lineas) {
        QString sql = QString("BEGIN; INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                              "VALUES (%1, 'R', 'caja', 0, 1);")
                          .arg(id);
        for (int i = 0; i < lineas.size(); ++i) {
            sql += QString(" INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (%1, %2, '%3');")
                       .arg(id)
                       .arg(i + 1)
                       .arg(lineas[i]);
        }
        PGresult* r = PQexec(m_pg, (sql + " COMMIT").toUtf8().constData());
        const bool bien = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return bien;
    }

private:
    PGconn* m_pg = nullptr;
};
