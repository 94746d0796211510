#pragma once

#include <QList>
#include <QString>

// One diagnostic record of the database driver: what ADO called a provider
// error. A failed call keeps every record the driver gave, in its order.
struct ErrorProveedor {
    QString sqlState;    // five characters, e.g. "23000", "08S01"
    qint64 nativo = 0;   // the driver's or server's own error number
    QString descripcion; // the driver's text
};

using ErroresProveedor = QList<ErrorProveedor>;
