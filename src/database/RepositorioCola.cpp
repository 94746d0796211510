#include "database/RepositorioCola.h"

#include "database/BaseDatos.h"
#include "support/Bitacora.h"

#include <QDate>
#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace {

// Bad rows kept for the log and diagnostico: a writer that floods the
// tables with them must not grow this process without end.
constexpr qsizetype kRechazadasMaximas = 1000;

const QString kTablaTrabajos = QStringLiteral("ColaImpresion");
const QString kTablaImpresoras = QStringLiteral("Impresora");

QString Citado(const QVariant& valor) {
    if (valor.isNull()) {
        return QStringLiteral("NULL");
    }
    return u'\'' + TextoAcotado(valor.toString(), 40) + u'\'';
}

QString NoEsClave(const QString& columna, const QVariant& valor) {
    return QStringLiteral("%1 %2 no es un numero entero de %3 a %4")
        .arg(columna, Citado(valor))
        .arg(kIdMinimo)
        .arg(kIdMaximo);
}

// The job still released and still routed to the printer about to print it;
// bound to (job, printer).
const QString kCondicionTrabajo =
    QStringLiteral("ColaImpresion.IdTrabajo = ? AND ColaImpresion.Escribiendo = 0 AND ColaImpresion.id_impresora IN "
                   "(SELECT Id_Impresora FROM Impresora WHERE Redirigido = ?)");
// The same, and with its lines; bound to (job, printer, job).
const QString kCondicionReclamo =
    kCondicionTrabajo + QStringLiteral(" AND EXISTS (SELECT 1 FROM DetalleColaImpresion det WHERE det.IdTrabajo = ?)");

} // namespace

std::optional<qint64> EnteroProbado(const QVariant& valor, qint64 minimo, qint64 maximo) {
    qint64 numero = 0;
    switch (valor.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        numero = valor.toLongLong();
        break;
    case QMetaType::ULongLong:
        if (valor.toULongLong() > quint64(std::numeric_limits<qint64>::max())) {
            return std::nullopt;
        }
        numero = valor.toLongLong();
        break;
    case QMetaType::Double: {
        const double real = valor.toDouble();
        if (!std::isfinite(real) || std::trunc(real) != real || std::fabs(real) > 9.0e15) {
            return std::nullopt;
        }
        numero = static_cast<qint64>(real);
        break;
    }
    case QMetaType::QString: {
        static const QRegularExpression digitos(QStringLiteral("^[+-]?[0-9]{1,19}$"));
        const QString texto = valor.toString();
        bool ok = false;
        numero = texto.toLongLong(&ok);
        if (!ok || !digitos.match(texto).hasMatch()) {
            return std::nullopt;
        }
        break;
    }
    default:
        return std::nullopt;
    }
    if (numero < minimo || numero > maximo) {
        return std::nullopt;
    }
    return numero;
}

QString AhoraFechaHora() {
    return Conexion::Instancia().EsPostgres() ? QStringLiteral("LOCALTIMESTAMP") : QStringLiteral("CURRENT_TIMESTAMP");
}

std::optional<qint64> SegundosFechaHora(const QVariant& valor) {
    if (valor.isNull()) {
        return std::nullopt;
    }
    const QString t = valor.toString();
    static const int kPosiciones[6][2] = {{0, 4}, {5, 2}, {8, 2}, {11, 2}, {14, 2}, {17, 2}};
    int partes[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        partes[i] = QStringView(t).mid(kPosiciones[i][0], kPosiciones[i][1]).toInt(&ok);
        if (!ok) {
            return std::nullopt;
        }
    }
    const QDate fecha(partes[0], partes[1], partes[2]);
    if (!fecha.isValid()) {
        return std::nullopt;
    }
    return fecha.toJulianDay() * 86400 + partes[3] * 3600 + partes[4] * 60 + partes[5];
}

QString TextoAcotado(const QString& texto, int largo) {
    QString acotado;
    acotado.reserve(std::min<qsizetype>(texto.size(), largo));
    for (const QChar c : texto) {
        if (acotado.size() >= largo) {
            break;
        }
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F) {
            acotado += c;
        }
    }
    return acotado;
}

RepositorioCola::RepositorioCola(qint16 numeroTerminal) : m_numeroTerminal(numeroTerminal) {
    const QString t = QString::number(numeroTerminal);
    m_consultaTrabajos =
        QStringLiteral("SELECT IdTrabajo,Tipo,Usuario,imp.Redirigido") +
        // Whether the job had lines when the snapshot was taken: one whose
        // lines are gone by the time it is served is not printed as a blank
        // receipt (another terminal printed it).
        QStringLiteral(", CASE WHEN EXISTS (SELECT 1 FROM DetalleColaImpresion det WHERE det.IdTrabajo = "
                       "col.IdTrabajo) THEN 1 ELSE 0 END AS ConRenglones") +
        // The serving printer's row comes with its jobs: a statement less for
        // every job, which a database far away pays in round trips.
        QStringLiteral(", srv.Puerto, srv.Id_Impresora, srv.Id_Impresora_Respaldo, srv.Estado_Impresora, "
                       "srv.ID_Terminal") +
        QStringLiteral(" FROM ColaImpresion col, Impresora imp") +
        QStringLiteral(" LEFT JOIN Impresora srv ON srv.Id_Impresora = imp.Redirigido") +
        QStringLiteral(" Where Col.Escribiendo = 0") + QStringLiteral(" AND col.id_impresora = imp.Id_Impresora") +
        QStringLiteral(" AND imp.Redirigido in (select id_impresora from impresora where id_terminal = ") + t +
        QStringLiteral(" and esdecheques = 0)") + QStringLiteral(" ORDER BY IDtrabajo");
}

void RepositorioCola::Rechazar(const QString& tabla, const QVariant& clave, const QString& motivo,
                               const QString& efecto) {
    // The reason names the wrong value: a port or a backup seen through
    // several rows or jobs is one report.
    const QString citada = Citado(clave);
    const QString vista = tabla + u'\n' + motivo;
    if (m_vistas.contains(vista) || m_rechazadas.size() >= kRechazadasMaximas) {
        return;
    }
    m_vistas.insert(vista);
    m_rechazadas.append({tabla, citada, motivo});
    if (m_registrar) {
        Registrar(
            QStringLiteral("Cola Impresion, fila no valida en %1 (%2): %3; %4").arg(tabla, citada, motivo, efecto));
        if (m_rechazadas.size() == kRechazadasMaximas) {
            Registrar(QStringLiteral("Cola Impresion, demasiadas filas no validas: no se registran mas"));
        }
    }
}

QVector<TrabajoCola> RepositorioCola::Trabajos(bool conEspera) {
    // The database's clock comes in the same statement: one reading a tick.
    if (conEspera && m_consultaConEspera.isEmpty()) {
        // Built once the backend is known: its clock is named in it.
        m_consultaConEspera = QString(m_consultaTrabajos)
                                  .replace(QStringLiteral(" FROM ColaImpresion col"),
                                           QStringLiteral(", col.FechaHora, ") + AhoraFechaHora() +
                                               QStringLiteral(" AS Ahora FROM ColaImpresion col"));
    }
    const std::unique_ptr<Recordset> filas =
        Conexion::Instancia().Consultar(conEspera ? m_consultaConEspera : m_consultaTrabajos);
    m_escritas.clear();
    QVector<TrabajoCola> trabajos;
    trabajos.reserve(filas->RecordCount());
    for (; !filas->Fin(); filas->MoveNext()) {
        const QVariant id = filas->Campo(0);
        const QVariant redirigido = filas->Campo(3);
        const std::optional<qint64> idProbado = EnteroProbado(id);
        const std::optional<qint64> redirigidoProbado = EnteroProbado(redirigido);
        if (!idProbado) {
            Rechazar(kTablaTrabajos, id, NoEsClave(QStringLiteral("IdTrabajo"), id));
            continue;
        }
        if (!redirigidoProbado) {
            Rechazar(kTablaTrabajos, id, NoEsClave(QStringLiteral("Redirigido de su impresora"), redirigido));
            continue;
        }
        trabajos.append({*idProbado, *redirigidoProbado, filas->Campo(1).toString(), filas->Campo(2).toString(),
                         filas->Campo(4).toLongLong() != 0, std::nullopt, LeerImpresora(*filas, 5)});
        if (conEspera) {
            const QVariant fecha = filas->Campo(10);
            const std::optional<qint64> desde = SegundosFechaHora(fecha), ahora = SegundosFechaHora(filas->Campo(11));
            if (desde && ahora) {
                trabajos.last().espera = *ahora - *desde;
            } else if (!fecha.isNull()) {
                Rechazar(kTablaTrabajos, id, QStringLiteral("FechaHora %1 no es una fecha y hora").arg(Citado(fecha)),
                         QStringLiteral("se imprime sin mirar su edad"));
            }
        }
    }
    return trabajos;
}

std::optional<ImpresoraCola> RepositorioCola::Impresora(qint64 id) {
    const std::unique_ptr<Recordset> fila = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Puerto, Id_Impresora, Id_Impresora_Respaldo, Estado_Impresora, ID_Terminal") +
        QStringLiteral(" FROM Impresora WHERE Id_Impresora = ") + QString::number(id));
    if (fila->Fin()) {
        return std::nullopt;
    }
    return LeerImpresora(*fila, 0);
}

std::optional<ImpresoraCola> RepositorioCola::ImpresoraDe(const TrabajoCola& trabajo) {
    return m_escritas.contains(trabajo.redirigido) ? Impresora(trabajo.redirigido) : trabajo.impresora;
}

std::optional<ImpresoraCola> RepositorioCola::LeerImpresora(const Recordset& fila, int columna) {
    const QVariant clave = fila.Campo(columna + 1);
    if (clave.isNull()) {
        return std::nullopt; // no such row
    }
    ImpresoraCola impresora;
    const std::optional<qint64> idProbado = EnteroProbado(clave);
    if (!idProbado) {
        Rechazar(kTablaImpresoras, clave, NoEsClave(QStringLiteral("Id_Impresora"), clave));
        return std::nullopt;
    }
    impresora.id = *idProbado;
    const QVariant respaldo = fila.Campo(columna + 2);
    if (!respaldo.isNull()) {
        impresora.respaldo = EnteroProbado(respaldo);
        if (!impresora.respaldo) {
            Rechazar(kTablaImpresoras, clave, NoEsClave(QStringLiteral("Id_Impresora_Respaldo"), respaldo));
            return std::nullopt;
        }
    }
    impresora.puerto = fila.Campo(columna).toString();
    if (!NombrePuerto::Leer(impresora.puerto)) {
        Rechazar(kTablaImpresoras, clave,
                 QStringLiteral("Puerto %1 no es un puerto (COM1 a COM9, LPT1 a LPT9): la impresora no imprime")
                     .arg(Citado(impresora.puerto)));
    }
    const QVariant estado = fila.Campo(columna + 3);
    if (!estado.isNull()) {
        impresora.estado = estado.toString();
    }
    impresora.terminal =
        EnteroProbado(fila.Campo(columna + 4), std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    return impresora;
}

QString RepositorioCola::ConsultaRenglones() const {
    return QStringLiteral("SELECT  ") +
           Conexion::Instancia().TextoEntero(QStringLiteral("CASE datos WHEN datos THEN datos ELSE '<N>' END")) +
           QStringLiteral(" as Dato, Idrenglon") + QStringLiteral(" FROM DetalleColaImpresion ") +
           QStringLiteral(" WHERE IdTrabajo = ");
}

QVector<RenglonCola> RepositorioCola::LeerRenglones(Recordset& filas) {
    QVector<RenglonCola> renglones;
    renglones.reserve(filas.RecordCount());
    for (; !filas.Fin(); filas.MoveNext()) {
        renglones.append({filas.Campo(1).toString(), filas.Campo(0).toString()});
    }
    return renglones;
}

QVector<RenglonCola> RepositorioCola::Renglones(qint64 idTrabajo) {
    return LeerRenglones(*Conexion::Instancia().Consultar(ConsultaRenglones() + QString::number(idTrabajo) +
                                                          QStringLiteral(" ORDER BY IdRenglon")));
}

bool RepositorioCola::TieneRenglones(qint64 idTrabajo) {
    return !Conexion::Instancia()
                .Consultar(QStringLiteral("SELECT 1 FROM DetalleColaImpresion WHERE IdTrabajo = ?"), {idTrabajo})
                ->Fin();
}

std::optional<QVector<RenglonCola>> RepositorioCola::ReclamarConRenglones(qint64 idTrabajo, qint64 idImpresora,
                                                                          qint64 ficha) {
    Conexion& conexion = Conexion::Instancia();
    const QString lineas = ConsultaRenglones() + QString::number(idTrabajo);
    const QString orden = QStringLiteral(" ORDER BY IdRenglon");
    QVector<RenglonCola> renglones;
    if (ficha == 0) {
        // Without claims the conditions are only checked, in the same
        // statement as the lines: a job that fails them has no lines here.
        renglones = LeerRenglones(
            *conexion.Consultar(lineas + QStringLiteral(" AND EXISTS (SELECT 1 FROM ColaImpresion WHERE ") +
                                    kCondicionReclamo + u')' + orden,
                                {idTrabajo, idImpresora, idTrabajo}));
    } else if (conexion.EsPostgres()) {
        // The claim and the lines in one round trip. The lines are read in
        // the statement's snapshot, the one in which the claim found them:
        // a claim made always brings lines, none means it was not made.
        renglones = LeerRenglones(*conexion.Consultar(
            QStringLiteral("WITH r AS (") + SentenciaReclamo(true) + QStringLiteral(" RETURNING IdTrabajo) ") + lineas +
                QStringLiteral(" AND EXISTS (SELECT 1 FROM r)") + orden,
            {qint64(m_numeroTerminal), ficha, idTrabajo, idImpresora, idTrabajo, idTrabajo}));
    } else {
        // Two statements on the other backends; each on SQLite is a call
        // into this process, where only the claim's commit costs.
        if (!Reclamar(idTrabajo, idImpresora, ficha)) {
            return std::nullopt;
        }
        return Renglones(idTrabajo);
    }
    if (renglones.isEmpty()) {
        return std::nullopt;
    }
    return renglones;
}

QVector<ImpresoraTerminal> RepositorioCola::ImpresorasTerminal() {
    const std::unique_ptr<Recordset> filas = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Puerto, Modo, Nombre_Impresora, Id_Impresora") + QStringLiteral(" From impresora") +
        QStringLiteral(" WHERE ID_Terminal = ") + QString::number(m_numeroTerminal));
    QVector<ImpresoraTerminal> impresoras;
    for (; !filas->Fin(); filas->MoveNext()) {
        const QVariant puerto = filas->Campo(0);
        const std::optional<NombrePuerto> nombre = NombrePuerto::Leer(puerto.toString());
        if (!nombre) {
            Rechazar(kTablaImpresoras, puerto,
                     QStringLiteral("Puerto %1 no es un puerto (COM1 a COM9, LPT1 a LPT9): la impresora no imprime")
                         .arg(Citado(puerto)));
            continue;
        }
        impresoras.append({*nombre, filas->Campo(1).toString().left(8),
                           TextoAcotado(filas->Campo(2).toString(), kLargoNombre), EnteroProbado(filas->Campo(3))});
    }
    return impresoras;
}

namespace {

// The first column of a statement's rows, the values that are keys.
QVector<qint64> Claves(const QString& sql, const QVector<QVariant>& parametros) {
    const std::unique_ptr<Recordset> filas = Conexion::Instancia().Consultar(sql, parametros);
    QVector<qint64> ids;
    for (; !filas->Fin(); filas->MoveNext()) {
        if (const std::optional<qint64> id = EnteroProbado(filas->Campo(0))) {
            ids.append(*id);
        }
    }
    return ids;
}

} // namespace

QSet<qint64> RepositorioCola::IdsImpresorasTerminal() {
    const QVector<qint64> ids =
        Claves(QStringLiteral("SELECT Id_Impresora FROM Impresora WHERE ID_Terminal = ? AND esdecheques = 0"),
               {qint64(m_numeroTerminal)});
    return QSet<qint64>(ids.begin(), ids.end());
}

void RepositorioCola::BorrarRenglones(qint64 idTrabajo) {
    Conexion::Instancia().Ejecutar(QStringLiteral("DELETE FROM DetalleColaImpresion WHERE IdTrabajo = ") +
                                   QString::number(idTrabajo));
}

QString SentenciaLimpieza() {
    // IdTrabajo is part of the lines' primary key, so it is never NULL there
    // and this deletes exactly the rows of "IdTrabajo NOT IN (SELECT IdTrabajo
    // FROM DetalleColaImpresion)". Every backend plans NOT EXISTS as an
    // anti-join through that key's index; NOT IN with a large lines table
    // becomes a subplan that rescans the lines for every header.
    return QStringLiteral("DELETE FROM ColaImpresion WHERE NOT EXISTS (SELECT 1 FROM DetalleColaImpresion det WHERE "
                          "det.IdTrabajo = ColaImpresion.IdTrabajo) AND Escribiendo=0");
}

void RepositorioCola::Limpiar() {
    Conexion::Instancia().Ejecutar(SentenciaLimpieza());
}

void RepositorioCola::Barrer(bool conReclamos) {
    Conexion& conexion = Conexion::Instancia();
    if (!conReclamos) {
        Limpiar();
        return;
    }
    // A printed job keeps its claim until its header goes, so that no other
    // server takes a header without lines for a job written without them.
    // The claims of a server that died after printing go too.
    const QString huerfanos = QStringLiteral(
        "DELETE FROM ReclamoTrabajo WHERE NOT EXISTS (SELECT 1 FROM ColaImpresion col WHERE col.IdTrabajo = "
        "ReclamoTrabajo.IdTrabajo)");
    if (conexion.EsPostgres()) {
        // One statement (two on the other backends): the statement's
        // snapshot still holds the headers it removes, whose ids it returns.
        conexion.Ejecutar(QStringLiteral("WITH c AS (") + SentenciaLimpieza() +
                          QStringLiteral(" RETURNING IdTrabajo) ") + huerfanos +
                          QStringLiteral(" OR IdTrabajo IN (SELECT IdTrabajo FROM c)"));
    } else {
        Limpiar();
        conexion.Ejecutar(huerfanos);
    }
}

QString RepositorioCola::RedirigidoActual(qint64 idImpresora) {
    return ObtenerValor(QStringLiteral("Redirigido"), QStringLiteral("Impresora"),
                        QStringLiteral("Id_Impresora=") + QString::number(idImpresora));
}

namespace {

// A state the server writes: one letter, never text from a row.
QString Letra(const QString& estado) {
    return estado.size() == 1 && estado[0].isLetter() && estado[0].unicode() < 0x80 ? estado : QStringLiteral("F");
}

} // namespace

bool RepositorioCola::Redirigir(qint64 idImpresora, qint64 respaldo, const std::optional<QString>& estado) {
    m_escritas.insert(idImpresora);
    QString asignaciones = QStringLiteral("Redirigido = ") + QString::number(respaldo);
    if (estado) {
        asignaciones += QStringLiteral(", Estado_Impresora='") + Letra(*estado) + u'\'';
    }
    return Actualizar(QStringLiteral("Impresora"), asignaciones,
                      QStringLiteral("Id_Impresora=") + QString::number(idImpresora));
}

bool RepositorioCola::AnotarEstado(qint64 idImpresora, const QString& estado) {
    m_escritas.insert(idImpresora);
    return Actualizar(QStringLiteral("Impresora"), QStringLiteral("Estado_Impresora='") + Letra(estado) + u'\'',
                      QStringLiteral("Id_Impresora=") + QString::number(idImpresora));
}

void RepositorioCola::Apartar(qint64 idTrabajo) {
    Conexion::Instancia().Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = 2 WHERE IdTrabajo = ?"),
                                   {idTrabajo});
}

void RepositorioCola::AnotarPapel(qint64 idImpresora, bool bajo) {
    Conexion::Instancia().Ejecutar(QStringLiteral("UPDATE Impresora SET PapelBajo = ? WHERE Id_Impresora = ?"),
                                   {bajo ? 1 : 0, idImpresora});
}

void RepositorioCola::AnotarFalla(qint64 idImpresora, const QString& falla) {
    // Only this terminal's row: a printer moved to another terminal is that
    // server's to describe.
    Conexion::Instancia().Ejecutar(
        QStringLiteral("UPDATE Impresora SET Falla = ? WHERE Id_Impresora = ? AND ID_Terminal = ?"),
        {falla.isEmpty() ? QVariant() : QVariant(falla), idImpresora, qint64(m_numeroTerminal)});
}

QString RepositorioCola::SentenciaReclamo(bool conRenglones) {
    // On PostgreSQL two servers can both pass the NOT EXISTS; the primary
    // key then refuses the second. Bound to (terminal, claim, job, printer,
    // [job,] job).
    return QStringLiteral("INSERT INTO ReclamoTrabajo (IdTrabajo, ID_Terminal, Ficha) SELECT IdTrabajo, ?, ? FROM "
                          "ColaImpresion WHERE ") +
           (conRenglones ? kCondicionReclamo : kCondicionTrabajo) +
           QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM ReclamoTrabajo rec WHERE rec.IdTrabajo = ?)");
}

bool RepositorioCola::Reclamar(qint64 idTrabajo, qint64 idImpresora, qint64 ficha, bool conRenglones) {
    QVector<QVariant> valores{qint64(m_numeroTerminal), ficha, idTrabajo, idImpresora, idTrabajo};
    if (conRenglones) {
        valores.append(idTrabajo);
    }
    return Conexion::Instancia().Ejecutar(SentenciaReclamo(conRenglones), valores) == 1;
}

std::optional<ReclamoCola> RepositorioCola::Reclamo(qint64 idTrabajo) {
    const std::unique_ptr<Recordset> fila = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT ID_Terminal, Ficha FROM ReclamoTrabajo WHERE IdTrabajo = ?"), {idTrabajo});
    if (fila->Fin()) {
        return std::nullopt;
    }
    ReclamoCola reclamo;
    reclamo.terminalTexto = TextoAcotado(fila->Campo(0).toString(), 20);
    reclamo.terminal =
        EnteroProbado(fila->Campo(0), std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max())
            .value_or(0);
    // A claim whose number is no number still stands; it expires as any other
    // and is then taken by its job, whatever it holds.
    reclamo.ficha =
        EnteroProbado(fila->Campo(1), std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max())
            .value_or(0);
    return reclamo;
}

bool RepositorioCola::TomarReclamo(qint64 idTrabajo, qint64 idImpresora, qint64 anterior, qint64 ficha) {
    Conexion& conexion = Conexion::Instancia();
    const QString sql = QStringLiteral("UPDATE ReclamoTrabajo SET ID_Terminal = ?, Ficha = ? WHERE IdTrabajo = ?") +
                        QStringLiteral(" AND Ficha = ? AND EXISTS (SELECT 1 FROM ColaImpresion WHERE ") +
                        kCondicionReclamo + u')';
    const qint64 terminal = m_numeroTerminal;
    if (conexion.Ejecutar(sql, {terminal, ficha, idTrabajo, anterior, idTrabajo, idImpresora, idTrabajo}) == 1) {
        return true;
    }
    if (anterior != 0) {
        return false;
    }
    // The claim's number was no number: the row is replaced whole.
    conexion.Ejecutar(QStringLiteral("DELETE FROM ReclamoTrabajo WHERE IdTrabajo = ?"), {idTrabajo});
    return Reclamar(idTrabajo, idImpresora, ficha);
}

void RepositorioCola::Soltar(qint64 ficha) {
    Conexion::Instancia().Ejecutar(QStringLiteral("DELETE FROM ReclamoTrabajo WHERE Ficha = ?"), {ficha});
}

void RepositorioCola::SoltarDudoso(qint64 ficha) {
    Conexion::Instancia().Ejecutar(QStringLiteral("UPDATE ReclamoTrabajo SET Ficha = ? WHERE Ficha = ?"),
                                   {kFichaDudosa, ficha});
}

namespace {

const QString kConRenglones = QStringLiteral(
    " AND EXISTS (SELECT 1 FROM DetalleColaImpresion det WHERE det.IdTrabajo = ReclamoTrabajo.IdTrabajo)");

} // namespace

QVector<qint64> RepositorioCola::ReclamosDeTerminal() {
    return Claves(QStringLiteral("SELECT IdTrabajo FROM ReclamoTrabajo WHERE ID_Terminal = ?") + kConRenglones +
                      QStringLiteral(" ORDER BY IdTrabajo"),
                  {qint64(m_numeroTerminal)});
}

void RepositorioCola::SoltarTerminal() {
    Conexion::Instancia().Ejecutar(QStringLiteral("DELETE FROM ReclamoTrabajo WHERE ID_Terminal = ?") + kConRenglones,
                                   {qint64(m_numeroTerminal)});
}

bool RepositorioCola::RenovarReclamo(qint64 idTrabajo, qint64 anterior, qint64 nueva) {
    return Conexion::Instancia().Ejecutar(
               QStringLiteral("UPDATE ReclamoTrabajo SET Ficha = ? WHERE IdTrabajo = ? AND Ficha = ?"),
               {nueva, idTrabajo, anterior}) == 1;
}
