#include "panel/EstadoTienda.h"

#include "database/BaseDatos.h"
#include "database/RepositorioCola.h"
#include "ports/NombrePuerto.h"

#include <QHash>
#include <QJsonArray>
#include <QMap>
#include <iterator>

namespace {

// The widest name the schema scripts allow; a longer one was written by
// another program and is shown cut.
constexpr int kLargoNombre = 50;

// Stored text as the panel shows it: cut to `largo` characters, control
// characters (a NUL, a line break) as "?".
QString Mostrable(const QVariant& v, int largo = kLargoNombre) {
    return NombrePuerto::Citar(v.toString(), largo);
}

std::optional<QString> TextoONulo(const QVariant& v, int largo = kLargoNombre) {
    return v.isNull() ? std::nullopt : std::optional<QString>(Mostrable(v, largo));
}

// The width of our Falla column.
constexpr int kLargoFalla = 200;

// A value of an int column, or nothing when it holds no such number: other
// programs write these rows, and SQLite keeps text, a fraction or a number
// past int in an int column; cut to int such a number could name another
// printer.
std::optional<int> Entero(const QVariant& v) {
    const std::optional<qint64> n = EnteroProbado(v);
    return n ? std::optional<int>(static_cast<int>(*n)) : std::nullopt;
}

template <typename T> QJsonValue Nulable(const std::optional<T>& v) {
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

// A label value as the text format wants it: backslash, double quote and line
// feed escaped.
QString Etiqueta(const QString& valor) {
    QString r;
    r.reserve(valor.size());
    for (QChar c : valor) {
        if (c == u'\\') {
            r += QStringLiteral("\\\\");
        } else if (c == u'"') {
            r += QStringLiteral("\\\"");
        } else if (c == u'\n') {
            r += QStringLiteral("\\n");
        } else {
            r += c;
        }
    }
    return r;
}

} // namespace

EstadoTienda LeerEstadoTienda(bool nombresTerminal, bool papelBajo, bool falla) {
    Conexion& c = Conexion::Instancia();
    EstadoTienda estado;
    estado.generado = QDateTime::currentDateTime();
    estado.conPapelBajo = papelBajo;
    estado.conFalla = falla;

    QHash<int, qsizetype> posicion;
    auto filas = c.Consultar(QStringLiteral("SELECT Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                                            "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques") +
                             (papelBajo ? QStringLiteral(", PapelBajo") : QString()) +
                             (falla ? QStringLiteral(", Falla") : QString()) +
                             QStringLiteral(" FROM Impresora ORDER BY ID_Terminal, Id_Impresora"));
    for (; !filas->Fin(); filas->MoveNext()) {
        // A row without a number for its id, terminal or serving printer names
        // no printer anybody serves: it is left out, not the whole state.
        const auto id = Entero(filas->Campo(0)), terminal = Entero(filas->Campo(1)),
                   redirigido = Entero(filas->Campo(6));
        if (!id || !terminal || !redirigido) {
            continue;
        }
        ImpresoraTienda i;
        i.id = *id;
        i.terminal = *terminal;
        i.puerto = Mostrable(filas->Campo(2));
        i.puertoValido = NombrePuerto::Leer(filas->Campo(2).toString()).has_value();
        i.modo = Mostrable(filas->Campo(3).toString().trimmed());
        i.nombre = TextoONulo(filas->Campo(4));
        i.respaldo = Entero(filas->Campo(5));
        i.redirigido = *redirigido;
        i.estado = TextoONulo(filas->Campo(7));
        i.cheques = Entero(filas->Campo(8)).value_or(0) != 0;
        if (papelBajo) {
            if (const auto bajo = Entero(filas->Campo(9))) {
                i.papelBajo = *bajo != 0;
            }
        }
        if (falla) {
            i.falla = TextoONulo(filas->Campo(papelBajo ? 10 : 9), kLargoFalla);
        }
        posicion.insert(i.id, estado.impresoras.size());
        estado.impresoras.append(i);
    }

    // Counts per addressed printer and writer state; the database's own clock
    // comes along so that ages do not depend on this machine's clock.
    filas = c.Consultar(
        QStringLiteral("SELECT id_impresora, Escribiendo, COUNT(*) AS Cuantos, MIN(FechaHora) AS MasAntigua, "
                       "CURRENT_TIMESTAMP AS Ahora FROM ColaImpresion GROUP BY id_impresora, Escribiendo"));
    for (; !filas->Fin(); filas->MoveNext()) {
        const auto dirigida = posicion.constFind(Entero(filas->Campo(0)).value_or(-1));
        if (dirigida == posicion.cend()) {
            continue; // addressed to a printer that does not exist: nobody serves it
        }
        ImpresoraTienda& propia = estado.impresoras[*dirigida];
        // Anything but a number is no release: the queue prints Escribiendo = 0 only.
        const std::optional<int> escribiendo = Entero(filas->Campo(1));
        const int cuantos = filas->Campo(2).toInt();
        if (escribiendo == 2) {
            propia.apartados += cuantos;
            continue;
        }
        if (escribiendo != 0) {
            propia.escribiendose += cuantos;
            continue;
        }
        const auto servidora = posicion.constFind(propia.redirigido);
        if (servidora == posicion.cend()) {
            continue;
        }
        ImpresoraTienda& destino = estado.impresoras[*servidora];
        destino.pendientes += cuantos;
        const auto desde = SegundosFechaHora(filas->Campo(3));
        const auto ahora = SegundosFechaHora(filas->Campo(4));
        if (desde && ahora) {
            const qint64 espera = std::max<qint64>(0, *ahora - *desde);
            destino.esperaMasAntigua = std::max(destino.esperaMasAntigua.value_or(0), espera);
        }
    }

    // The first line through the primary key, once per set-aside job: a join
    // would read every line of the queue.
    filas = c.Consultar(
        QStringLiteral("SELECT col.IdTrabajo, col.id_impresora, (SELECT det.Datos FROM DetalleColaImpresion det "
                       "WHERE det.IdTrabajo = col.IdTrabajo AND det.IdRenglon = (SELECT MIN(d2.IdRenglon) "
                       "FROM DetalleColaImpresion d2 WHERE d2.IdTrabajo = col.IdTrabajo)) AS Datos "
                       "FROM ColaImpresion col WHERE col.Escribiendo = 2 ORDER BY col.IdTrabajo"));
    for (; !filas->Fin(); filas->MoveNext()) {
        const auto dirigida = posicion.constFind(Entero(filas->Campo(1)).value_or(-1));
        if (dirigida != posicion.cend()) {
            estado.impresoras[*dirigida].trabajosApartados.append(
                {filas->Campo(0).toLongLong(), filas->Campo(2).toString()});
        }
    }

    QMap<int, TerminalTienda> terminales;
    filas = c.Consultar(nombresTerminal ? QStringLiteral("SELECT ID_Terminal, Nombre FROM Terminal")
                                        : QStringLiteral("SELECT ID_Terminal FROM Terminal"));
    for (; !filas->Fin(); filas->MoveNext()) {
        if (const auto id = Entero(filas->Campo(0))) {
            terminales.insert(*id, {*id, nombresTerminal ? TextoONulo(filas->Campo(1)) : std::nullopt});
        }
    }
    for (const ImpresoraTienda& i : std::as_const(estado.impresoras)) {
        if (!terminales.contains(i.terminal)) {
            terminales.insert(i.terminal, {i.terminal, std::nullopt});
        }
    }
    estado.terminales = terminales.values();
    return estado;
}

QJsonObject EstadoJson(const EstadoTienda& estado, bool renglones) {
    QJsonArray impresoras;
    for (const ImpresoraTienda& i : estado.impresoras) {
        QJsonArray apartados;
        for (const TrabajoApartado& t : i.trabajosApartados) {
            QJsonObject trabajo{{"id", t.id}};
            if (renglones) {
                trabajo.insert("primer_renglon", t.primerRenglon);
            }
            apartados.append(trabajo);
        }
        impresoras.append(QJsonObject{
            {"id", i.id},
            {"nombre", Nulable(i.nombre)},
            {"terminal", i.terminal},
            {"puerto", i.puerto},
            {"puerto_valido", i.puertoValido},
            {"modo", i.modo},
            {"estado", Nulable(i.estado)},
            {"redirigido", i.redirigido},
            {"respaldo", Nulable(i.respaldo)},
            {"cheques", i.cheques},
            {"papel_bajo", Nulable(i.papelBajo)},
            {"falla", Nulable(i.falla)},
            {"pendientes", i.pendientes},
            {"escribiendose", i.escribiendose},
            {"apartados", i.apartados},
            {"espera_mas_antigua_s", Nulable(i.esperaMasAntigua)},
            {"trabajos_apartados", apartados},
        });
    }
    QJsonArray terminales;
    for (const TerminalTienda& t : estado.terminales) {
        terminales.append(QJsonObject{{"id", t.id}, {"nombre", Nulable(t.nombre)}});
    }
    const QDateTime generado = estado.generado.toOffsetFromUtc(estado.generado.offsetFromUtc());
    return QJsonObject{
        {"generado", generado.toString(Qt::ISODate)}, {"terminales", terminales}, {"impresoras", impresoras}};
}

QByteArray Metricas(const EstadoTienda& estado) {
    struct Familia {
        const char* nombre;
        const char* ayuda;
    };
    const Familia familias[] = {
        {"orlan_trabajos_pendientes", "Trabajos listos que esperan a la impresora, propios o redirigidos a ella."},
        {"orlan_trabajos_apartados", "Trabajos apartados por no poder imprimirse."},
        {"orlan_impresora_estado", "Estado de la impresora (letra de Estado_Impresora; sin estado cuenta como D)."},
        {"orlan_impresora_redirigida", "1 cuando los trabajos de la impresora van a otra."},
        {"orlan_espera_mas_antigua_segundos", "Edad del trabajo pendiente mas antiguo con hora registrada."},
        {"orlan_impresora_papel_bajo", "1 cuando la impresora avisa que el papel esta por terminarse (sigue "
                                       "imprimiendo)."},
        {"orlan_impresora_falla", "1 cuando su servidor no pudo imprimir en ella la ultima vez que lo intento."},
    };
    QString texto;
    for (int f = 0; f < int(std::size(familias)); ++f) {
        if ((f == 5 && !estado.conPapelBajo) || (f == 6 && !estado.conFalla)) {
            continue; // the database cannot say it: no series rather than a false 0
        }
        texto += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n")
                     .arg(QLatin1String(familias[f].nombre), QString::fromUtf8(familias[f].ayuda));
        for (const ImpresoraTienda& i : estado.impresoras) {
            const QString etiquetas = QStringLiteral("id=\"%1\",impresora=\"%2\",terminal=\"%3\"")
                                          .arg(i.id)
                                          .arg(Etiqueta(i.nombre.value_or(QString())))
                                          .arg(i.terminal);
            const QString serie = QLatin1String(familias[f].nombre) + u'{' + etiquetas;
            switch (f) {
            case 0:
                texto += serie + QStringLiteral("} %1\n").arg(i.pendientes);
                break;
            case 1:
                texto += serie + QStringLiteral("} %1\n").arg(i.apartados);
                break;
            case 2: {
                QStringList letras{"A", "P", "F", "D", "C"};
                if (!letras.contains(i.Letra())) {
                    letras.append(i.Letra());
                }
                for (const QString& letra : letras) {
                    texto +=
                        serie +
                        QStringLiteral(",estado=\"%1\"} %2\n").arg(Etiqueta(letra)).arg(letra == i.Letra() ? 1 : 0);
                }
                break;
            }
            case 3:
                texto += serie + QStringLiteral("} %1\n").arg(i.Redirigida() ? 1 : 0);
                break;
            case 4:
                if (i.esperaMasAntigua) {
                    texto += serie + QStringLiteral("} %1\n").arg(*i.esperaMasAntigua);
                }
                break;
            case 5:
                texto += serie + QStringLiteral("} %1\n").arg(i.papelBajo.value_or(false) ? 1 : 0);
                break;
            default:
                texto += serie + QStringLiteral("} %1\n").arg(i.falla ? 1 : 0);
            }
        }
    }
    return texto.toUtf8();
}
