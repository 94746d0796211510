#include "revision/RevisionTerminal.h"

#include "database/BaseDatos.h"
#include "database/FalloConexion.h"
#include "database/RepositorioCola.h"
#include "platform/Ajustes.h"
#include "ports/NombrePuerto.h"
#include "ports/PuertoSerie.h"

#include <QRegularExpression>
#include <QSet>
#include <limits>
#include <memory>

namespace Revision {

namespace {

Hallazgo Nuevo(const char* comprobacion, Gravedad gravedad, const QString& sujeto, QMap<QString, QString> datos = {}) {
    return Hallazgo{QLatin1String(comprobacion), gravedad, sujeto, std::move(datos)};
}

QString Valor(const Recordset& fila, const char* campo) {
    const QVariant v = fila.Campo(QLatin1String(campo));
    return v.isNull() ? QString() : v.toString();
}

QString Archivo() {
    return Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
}

// Follows the backups from printer `id` until a printer repeats or the chain ends.
Hallazgo RevisarRespaldos(const QString& id) {
    const QString sujeto = QStringLiteral("impresora ") + id;
    QStringList cadena{id};
    QSet<QString> vistas{id};
    QString actual = id;
    // Only numbers enter the statements: a value another program wrote in
    // the column is a backup that does not exist.
    const auto fila = [](const QString& id, const char* columna) -> std::unique_ptr<Recordset> {
        const std::optional<qint64> numero = EnteroProbado(id);
        if (!numero) {
            return nullptr;
        }
        return Conexion::Instancia().Consultar(
            QStringLiteral("SELECT %1 FROM Impresora WHERE Id_Impresora = ?").arg(QLatin1String(columna)), {*numero});
    };
    for (;;) {
        const auto propia = fila(actual, "Id_Impresora_Respaldo");
        const QString respaldo = !propia || propia->Fin() ? QString() : Valor(*propia, "Id_Impresora_Respaldo");
        if (respaldo.isEmpty()) {
            if (actual == id) {
                return Nuevo(kRespaldo, Gravedad::Aviso, sujeto, {{"id", id}, {"falta", "ninguno"}});
            }
            break;
        }
        const auto siguiente = fila(respaldo, "esdecheques");
        if (!siguiente || siguiente->Fin() || siguiente->Campo(0).toInt() != 0) {
            return Nuevo(
                kRespaldo, Gravedad::Falla, sujeto,
                {{"id", id},
                 {"actual", actual},
                 {"respaldo", respaldo},
                 {"falta", !siguiente || siguiente->Fin() ? QStringLiteral("no_existe") : QStringLiteral("cheques")}});
        }
        cadena << respaldo;
        if (vistas.contains(respaldo)) {
            break;
        }
        vistas.insert(respaldo);
        actual = respaldo;
    }
    return Nuevo(kRespaldo, Gravedad::Bien, sujeto, {{"id", id}, {"cadena", cadena.join(QStringLiteral(" -> "))}});
}

// Where the server sends a port's bytes; a COM port without its [Puertos]
// entry falls back to /dev/ttyS(n-1), seldom where a till's printer is.
Hallazgo RevisarPuerto(QMap<QString, QString> datos) {
    const QString puerto = datos.value(QStringLiteral("puerto"));
    const QString sujeto = QStringLiteral("impresora ") + datos.value(QStringLiteral("id"));
    const std::optional<NombrePuerto> nombre = NombrePuerto::Leer(puerto);
    if (!nombre) {
        datos.insert(QStringLiteral("puerto"), TextoAcotado(puerto, 40));
        return Nuevo(kPuerto, Gravedad::Falla, sujeto, datos);
    }
    if (nombre->clase != NombrePuerto::Clase::Serie) {
        return Nuevo(kPuerto, Gravedad::Bien, sujeto, datos);
    }
    const int numero = nombre->numero;
    datos.insert(QStringLiteral("dispositivo"), PuertoSerie::Dispositivo(numero));
    const QString propio = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Puertos"),
                                         QStringLiteral("COM%1").arg(numero), QString());
    if (propio.isEmpty()) {
        datos.insert(QStringLiteral("sin_puertos"), QStringLiteral("1"));
        return Nuevo(kPuerto, Gravedad::Aviso, sujeto, datos);
    }
    return Nuevo(kPuerto, Gravedad::Bien, sujeto, datos);
}

// The rows of the queue the server skips, read as the server reads them.
QList<Hallazgo> RevisarFilas(qint16 terminal) {
    RepositorioCola repositorio(terminal);
    repositorio.EstablecerRegistro(false);
    repositorio.ImpresorasTerminal();
    QSet<qint64> impresoras;
    for (const TrabajoCola& trabajo : repositorio.Trabajos()) {
        if (!impresoras.contains(trabajo.redirigido)) {
            impresoras.insert(trabajo.redirigido);
            repositorio.Impresora(trabajo.redirigido);
        }
    }
    QList<Hallazgo> hallazgos;
    for (const FilaRechazada& fila : repositorio.Rechazadas()) {
        hallazgos << Nuevo(kFilaNoValida, Gravedad::Aviso, QStringLiteral("terminal %1").arg(terminal),
                           {{QStringLiteral("tabla"), fila.tabla},
                            {QStringLiteral("clave"), fila.clave},
                            {QStringLiteral("motivo"), fila.motivo}});
    }
    return hallazgos;
}

QString Impresora(const Hallazgo& h) {
    return QStringLiteral("impresora ") + h.Dato("id") + QStringLiteral(" '") + h.Dato("nombre") +
           QStringLiteral("' en ") + h.Dato("puerto") + QStringLiteral(": ");
}

QString Restablecer(const Hallazgo& h) {
    return QStringLiteral("'orlan-admin restablecer ") + h.Dato("id") + QStringLiteral("' la vuelve a servir");
}

} // namespace

Hallazgo RevisarNumeroTerminal(const QString& valor, qint16* numero) {
    bool esNumero = false;
    const int n = valor.trimmed().toInt(&esNumero);
    const bool cabe = n >= std::numeric_limits<qint16>::min() && n <= std::numeric_limits<qint16>::max();
    const QMap<QString, QString> datos{{QStringLiteral("valor"), valor.trimmed()}};
    if (!esNumero || !cabe || n == 0) {
        return Nuevo(kNumeroTerminal, Gravedad::Falla, QStringLiteral("Terminal"), datos);
    }
    *numero = static_cast<qint16>(n);
    return Nuevo(kNumeroTerminal, n < 0 ? Gravedad::Aviso : Gravedad::Bien, QStringLiteral("Terminal"), datos);
}

Hallazgo RevisarConexion() {
    if (!Conectar()) {
        return Nuevo(kConexion, Gravedad::Falla, QStringLiteral("base de datos"), {{"causa", ExplicarFalloConexion()}});
    }
    return Nuevo(kConexion, Gravedad::Bien, QStringLiteral("base de datos"));
}

QList<Hallazgo> RevisarTerminal(qint16 terminal) {
    QList<Hallazgo> hallazgos;
    const QString numero = QString::number(terminal);
    const QString sujeto = QStringLiteral("terminal ") + numero;
    const QMap<QString, QString> deTerminal{{QStringLiteral("terminal"), numero}};
    const bool fila =
        Conexion::Instancia()
            .Consultar(QStringLiteral("SELECT COUNT(*) FROM Terminal WHERE ID_Terminal = ?"), {qint64(terminal)})
            ->Campo(0)
            .toLongLong() != 0;
    hallazgos << Nuevo(kFilaTerminal, fila ? Gravedad::Bien : Gravedad::Falla, sujeto, deTerminal);
    if (ObtenerValor(QStringLiteral("COUNT(*)"), QStringLiteral("Parametros"),
                     QStringLiteral("Id_Parametro = 'TERMINAL'"))
            .toInt() == 0) {
        hallazgos << Nuevo(kParametroTerminal, Gravedad::Falla, sujeto, deTerminal);
    }
    const auto impresoras = Conexion::Instancia().Consultar(
        QStringLiteral("SELECT Id_Impresora, Puerto, Modo, Nombre_Impresora, Redirigido, Estado_Impresora, "
                       "Id_Impresora_Respaldo FROM Impresora WHERE ID_Terminal = ? AND esdecheques = 0 ORDER BY "
                       "Id_Impresora"),
        {qint64(terminal)});
    if (impresoras->Fin()) {
        hallazgos << Nuevo(kImpresoras, Gravedad::Falla, sujeto, deTerminal);
        return hallazgos;
    }
    for (; !impresoras->Fin(); impresoras->MoveNext()) {
        const Recordset& f = *impresoras;
        const QString id = Valor(f, "Id_Impresora");
        const QString puerto = Valor(f, "Puerto");
        const QString de = QStringLiteral("impresora ") + id;
        QMap<QString, QString> datos{{QStringLiteral("id"), id},
                                     {QStringLiteral("nombre"), Valor(f, "Nombre_Impresora")},
                                     {QStringLiteral("puerto"), puerto}};
        const QString estado = Valor(f, "Estado_Impresora");
        // The server leaves a printer in state NULL or "D" out of its round:
        // its jobs go to its backup, or wait when it has none.
        if (estado.isEmpty() || estado == u"D") {
            auto d = datos;
            d.insert(QStringLiteral("estado"), estado.isEmpty() ? QStringLiteral("NULL") : estado);
            hallazgos << Nuevo(kEstado, Gravedad::Falla, de, d);
        } else if (Valor(f, "Redirigido") != id) {
            auto d = datos;
            d.insert(QStringLiteral("redirigido"), Valor(f, "Redirigido"));
            hallazgos << Nuevo(kRedirigida, Gravedad::Aviso, de, d);
        } else if (estado == u"F" && Valor(f, "Id_Impresora_Respaldo").isEmpty()) {
            hallazgos << Nuevo(kRetenida, Gravedad::Aviso, de, datos);
        }
        // The server prints in the dialect of the port's section, not the row's.
        if (Ajustes::NombreValido(puerto)) {
            const QString modo =
                Ajustes::Leer(QStringLiteral("orlan"), puerto, QStringLiteral("Modo"), QStringLiteral("E"));
            if (modo != Valor(f, "Modo")) {
                auto d = datos;
                d.insert(QStringLiteral("modo_fila"), Valor(f, "Modo"));
                d.insert(QStringLiteral("modo_puerto"), modo);
                hallazgos << Nuevo(kModo, Gravedad::Aviso, de, d);
            }
        }
        hallazgos << RevisarPuerto(datos);
        hallazgos << RevisarRespaldos(id);
    }
    hallazgos << RevisarFilas(terminal);
    return hallazgos;
}

QString Describir(const Hallazgo& h) {
    const QString seccion = QStringLiteral(" en [Configuracion] de ") + Archivo();
    const QString terminal = h.Dato("terminal");
    const QString c = h.comprobacion;
    if (c == kNumeroTerminal) {
        const QString texto = QStringLiteral("Terminal=") + h.Dato("valor");
        if (h.gravedad == Gravedad::Falla) {
            return texto + QStringLiteral(" no es un numero de terminal: escriba Terminal=N (1 a 32767)") + seccion;
        }
        if (h.gravedad == Gravedad::Aviso) {
            return texto + QStringLiteral(" es negativo: el servidor sirve las filas de ID_Terminal = ") +
                   h.Dato("valor") +
                   QStringLiteral(", pero el numero de una terminal es de 1 a 32767; escriba "
                                  "Terminal=N") +
                   seccion;
        }
        return texto;
    }
    if (c == kConexion) {
        return h.gravedad == Gravedad::Bien
                   ? QStringLiteral("conexion con la base de datos")
                   : QStringLiteral("no se pudo conectar con la base de datos: ") + h.Dato("causa");
    }
    if (c == kFilaTerminal) {
        return h.gravedad == Gravedad::Bien
                   ? QStringLiteral("terminal ") + terminal + QStringLiteral(" en la tabla Terminal")
                   : QStringLiteral("la terminal ") + terminal +
                         QStringLiteral(" no esta en la tabla Terminal: 'orlan-admin terminal agregar ") + terminal +
                         u'\'';
    }
    if (c == kParametroTerminal) {
        return QStringLiteral("falta la fila 'TERMINAL' de Parametros: las redirecciones fallarian; "
                              "'orlan-admin terminal agregar N' o 'orlan-admin restablecer N' la crean");
    }
    if (c == kImpresoras) {
        return QStringLiteral("la terminal ") + terminal +
               QStringLiteral(" no tiene impresoras: 'orlan-admin impresora agregar --terminal ") + terminal +
               QStringLiteral(" --puerto COM1 --modo E --nombre Caja'");
    }
    if (c == kEstado) {
        return Impresora(h) + QStringLiteral("fuera de servicio (Estado_Impresora ") + h.Dato("estado") +
               QStringLiteral("): sus trabajos van al respaldo; ") + Restablecer(h);
    }
    if (c == kRedirigida) {
        return Impresora(h) + QStringLiteral("sus trabajos van a la impresora ") + h.Dato("redirigido") +
               QStringLiteral("; ") + Restablecer(h);
    }
    if (c == kRetenida) {
        return Impresora(h) +
               QStringLiteral("no confirmo un trabajo y no tiene respaldo: sus trabajos esperan hasta que conteste; ") +
               Restablecer(h);
    }
    if (c == kModo) {
        return Impresora(h) + QStringLiteral("Modo ") + h.Dato("modo_fila") +
               QStringLiteral(" en la base de datos, pero se imprime en el Modo ") + h.Dato("modo_puerto") +
               QStringLiteral(" de [") + h.Dato("puerto") + QStringLiteral("] en ") + Archivo() +
               QStringLiteral("; escriba Modo=") + h.Dato("modo_fila") + QStringLiteral(" alli");
    }
    if (c == kFilaNoValida) {
        return QStringLiteral("fila no valida en ") + h.Dato("tabla") + QStringLiteral(" (") + h.Dato("clave") +
               QStringLiteral("): ") + h.Dato("motivo") +
               QStringLiteral("; el servidor la omite: corrijala o borrela en la base de datos");
    }
    if (c == kPuerto) {
        if (h.gravedad == Gravedad::Falla) {
            return Impresora(h) + QStringLiteral("el servidor no puede abrir un puerto llamado '") + h.Dato("puerto") +
                   QStringLiteral("': corrija Puerto en la tabla Impresora (COM1 a COM9 o LPT1 a LPT9)");
        }
        if (h.gravedad == Gravedad::Aviso) {
            return Impresora(h) + QStringLiteral("sin ") + h.Dato("puerto") + QStringLiteral("= en [Puertos] de ") +
                   Archivo() + QStringLiteral(": se usa ") + h.Dato("dispositivo") + QStringLiteral("; escriba ") +
                   h.Dato("puerto") + QStringLiteral("=RUTA (o tcp:HOST:PUERTO) alli");
        }
        return Impresora(h) + QStringLiteral("puerto configurado");
    }
    if (c == kRespaldo) {
        const QString id = h.Dato("id");
        if (h.gravedad == Gravedad::Bien) {
            return QStringLiteral("respaldos de la impresora ") + id + QStringLiteral(": ") + h.Dato("cadena");
        }
        if (h.Dato("falta") == u"ninguno") {
            return QStringLiteral("impresora ") + id +
                   QStringLiteral(" sin respaldo: si falla, sus trabajos esperan a que vuelva; "
                                  "'orlan-admin impresora respaldo ") +
                   id + QStringLiteral(" M' le da uno");
        }
        const QString texto =
            QStringLiteral("impresora ") + h.Dato("actual") + QStringLiteral(": su respaldo ") + h.Dato("respaldo");
        return h.Dato("falta") == u"cheques" ? texto + QStringLiteral(" es de cheques y nadie serviria sus trabajos")
                                             : texto + QStringLiteral(" no existe; 'orlan-admin impresora respaldo ") +
                                                   h.Dato("actual") + QStringLiteral(" M' lo corrige");
    }
    return h.sujeto + QStringLiteral(": ") + c;
}

} // namespace Revision
