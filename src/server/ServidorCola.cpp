#include "server/ServidorCola.h"

#include "platform/Ajustes.h"
#include "platform/Senales.h"
#include "server/InterpretarRenglon.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

namespace {

const QString kOrigen = QStringLiteral("Base de Datos");

// Leaves the tick's guard however the tick ends.
struct Guardia {
    bool& bandera;
    explicit Guardia(bool& b) : bandera(b) { bandera = true; }
    ~Guardia() { bandera = false; }
};

// The link to the server is gone (the database layer puts this record first
// when the connection no longer answers).
bool EnlacePerdido(const ErrorEjecucion& e) {
    return !e.Errores().isEmpty() && e.Errores().first().sqlState == QStringLiteral("08S01");
}

// A port name that the settings cannot keep as a section of its own (it holds
// "]", "=" or a line break, say) is no known kind of port: the printer is
// treated as out of service and nothing is written under that name.
bool PuertoValido(const QString& puerto) {
    if (Ajustes::NombreValido(puerto)) {
        return true;
    }
    const QString cita = puerto.size() > 80 ? puerto.left(80) + QStringLiteral("...") : puerto;
    Registrar(QStringLiteral("Puerto de impresora no valido: ") + cita);
    return false;
}

// Whether the printer must answer ready after a job before the job is
// deleted. Serial printers that answer the paper-status request: [Cola]
// ConfirmarRecepcion=1, off by default (the job is then deleted once the port
// has taken its bytes). Network and USB printers, whose device takes bytes
// whether or not the printer has them: [Cola] ConfirmarRecepcionRed, on
// unless 0.
bool ConfirmarRecepcion(const ctlImpresora& pr) {
    const bool red = pr.SinLinea();
    const QString valor =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"),
                      red ? QStringLiteral("ConfirmarRecepcionRed") : QStringLiteral("ConfirmarRecepcion"),
                      red ? QStringLiteral("1") : QStringLiteral("0"))
            .trimmed();
    return red ? valor != u'0' : valor == u'1';
}
} // namespace

QString SentenciaLimpieza() {
    // IdTrabajo is part of the lines' primary key, so it is never NULL there
    // and this deletes exactly the rows of "IdTrabajo NOT IN (SELECT IdTrabajo
    // FROM DetalleColaImpresion)". Every backend plans NOT EXISTS as an
    // anti-join through that key's index; NOT IN with a large lines table
    // becomes a subplan that rescans the lines for every header.
    return QStringLiteral("DELETE FROM ColaImpresion WHERE NOT EXISTS (SELECT 1 FROM DetalleColaImpresion det WHERE "
                          "det.IdTrabajo = ColaImpresion.IdTrabajo) AND Escribiendo=0");
}

void RegistrarFallaCola(const ErrorEjecucion& e) {
    Registrar(QStringLiteral("Cola Impresion, ") + e.Descripcion());
    ManejarErrorBD(kOrigen, e.Numero(), e.Descripcion(), e.Errores());
}

ServidorCola::ServidorCola(qint16 numeroTerminal, QObject* parent) : QObject(parent), m_numeroTerminal(numeroTerminal) {
    const QString t = QString::number(numeroTerminal);
    m_consultaTrabajos =
        QStringLiteral("SELECT IdTrabajo,Tipo,Usuario,imp.Redirigido") +
        QStringLiteral(" FROM ColaImpresion col, Impresora imp") + QStringLiteral(" Where Col.Escribiendo = 0") +
        QStringLiteral(" AND col.id_impresora = imp.Id_Impresora") +
        QStringLiteral(" AND imp.Redirigido in (select id_impresora from impresora where id_terminal = ") + t +
        QStringLiteral(" and esdecheques = 0)") + QStringLiteral(" ORDER BY IDtrabajo");
    // Terminals started together would otherwise poll the database at the
    // same instants for as long as they run: the first tick falls anywhere in
    // the first period, and a precise timer keeps the phase (a coarse one
    // rounds a 2-s period to a 500-ms grid).
    constexpr int kPeriodo = 2000;
    m_timer1.setTimerType(Qt::PreciseTimer);
    connect(&m_timer1, &QTimer::timeout, this, [this] {
        if (m_timer1.interval() != kPeriodo) {
            m_timer1.setInterval(kPeriodo);
        }
        Timer1_Timer();
    });
    m_timer1.start(QRandomGenerator::global()->bounded(kPeriodo));
    m_despertador.setSingleShot(true);
    m_despertador.setInterval(0);
    connect(&m_despertador, &QTimer::timeout, this, [this] {
        if (m_enTick) {
            m_despertarPendiente = true;
        } else {
            Timer1_Timer();
        }
    });
}

void ServidorCola::Despertar() {
    if (!m_despertador.isActive()) {
        m_despertador.start();
    }
}

bool ServidorCola::Cargar() {
    if (!Conexion::Instancia().Abierta()) {
        return false;
    }
    try {
        CargarImpresoras();
        Registrar(QStringLiteral("Iniciando Cola de Impresion "));
        m_activo = true;
        if (Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("Despertar"),
                          QStringLiteral("0"))
                    .trimmed() == u'1' &&
            !m_aviso) {
            m_aviso = AvisoCambios::Crear();
            if (m_aviso) {
                connect(m_aviso.get(), &AvisoCambios::Cambio, this, &ServidorCola::Despertar);
            }
        }
        return true;
    } catch (const ErrorEjecucion& e) {
        RegistrarFallaCola(e);
        return false;
    }
}

void ServidorCola::CargarImpresoras() {
    m_sql = QStringLiteral("SELECT Puerto, Modo, Nombre_Impresora") + QStringLiteral(" From impresora") +
            QStringLiteral(" WHERE ID_Terminal = ") + QString::number(m_numeroTerminal);
    m_rsImpresora = Conexion::Instancia().Consultar(m_sql);
    for (; !m_rsImpresora->Fin(); m_rsImpresora->MoveNext()) {
        const QString puerto = m_rsImpresora->Texto(QStringLiteral("Puerto"));
        if (!PuertoValido(puerto)) {
            continue;
        }
        Ajustes::Guardar(QStringLiteral("ORLAN"), puerto, QStringLiteral("Nombre"),
                         m_rsImpresora->Texto(QStringLiteral("Nombre_impresora")));
        m_pr2.ConfigurarPuerto(puerto, m_rsImpresora->Texto(QStringLiteral("Modo")));
    }
}

void ServidorCola::Timer1_Timer() {
    if (!m_activo || m_enTick) {
        return;
    }
    {
        Guardia guardia(m_enTick);
        Tick();
    }
    if (std::exchange(m_despertarPendiente, false)) {
        m_despertador.start();
    }
}

void ServidorCola::Tick() {
    if (m_reconectar) {
        // A server that went away and came back is served again without a
        // restart; until it answers every tick just tries once more.
        QElapsedTimer intento;
        intento.start();
        if (!Conectar()) {
            // Logged once per outage, and whenever a login held the tick for
            // longer than a tick's interval (a server that does not answer
            // runs each login into its time-out).
            const ErroresProveedor& errores = Conexion::Instancia().Errores();
            if (!m_sinConexionRegistrado || intento.elapsed() >= m_timer1.interval()) {
                Registrar(QStringLiteral("Cola Impresion, sin conexion con la base de datos: ") +
                          (errores.isEmpty() ? QString() : errores.first().descripcion));
                m_sinConexionRegistrado = true;
            }
            return;
        }
        m_reconectar = false;
        m_sinConexionRegistrado = false;
        Registrar(QStringLiteral("Cola Impresion, conexion con la base de datos restablecida"));
    }
    m_apartarDefectuosos = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"),
                                         QStringLiteral("ApartarTrabajosDefectuosos"), QStringLiteral("0"))
                               .trimmed() == QStringLiteral("1");
    m_fallidas.clear();
    const ctlImpresora::Uso uso(m_pr2);
    try {
        m_sql = m_consultaTrabajos;
        const std::unique_ptr<Recordset> trabajos = Conexion::Instancia().Consultar(m_sql);
        // A stop asked for ends the tick between jobs: the rest wait in the
        // queue for the next start.
        for (; !trabajos->Fin() && !Senales::Pedida(); trabajos->MoveNext()) {
            ServirTrabajo(*trabajos);
        }
    } catch (const ErrorEjecucion& e) {
        RegistrarFallaCola(e);
        m_reconectar = EnlacePerdido(e);
    }
}

void ServidorCola::ServirTrabajo(const Recordset& trabajo) {
    Conexion& conexion = Conexion::Instancia();
    m_sql = QStringLiteral("SELECT Puerto, Id_Impresora, Id_Impresora_Respaldo, Estado_Impresora, ID_Terminal") +
            QStringLiteral(" FROM Impresora WHERE Id_Impresora = ") + trabajo.Texto(QStringLiteral("Redirigido"));
    m_rsImpresora = conexion.Consultar(m_sql);
    const Recordset& impresora = *m_rsImpresora;

    const QVariant terminal = impresora.Campo(QStringLiteral("ID_Terminal"));
    if (terminal.isNull() || terminal.toLongLong() != m_numeroTerminal) {
        return;
    }

    const QVariant estado = impresora.Campo(QStringLiteral("Estado_Impresora"));
    if (!estado.isNull() && estado.toString() != QStringLiteral("D")) {
        const QString idTrabajo = trabajo.Texto(QStringLiteral("IdTrabajo"));
        m_sql = QStringLiteral("SELECT  ") +
                conexion.TextoEntero(QStringLiteral("CASE datos WHEN datos THEN datos ELSE '<N>' END")) +
                QStringLiteral(" as Dato, Idrenglon") + QStringLiteral(" FROM DetalleColaImpresion ") +
                QStringLiteral(" WHERE IdTrabajo = ") + idTrabajo + QStringLiteral(" ORDER BY IdRenglon");
        m_rsDetalle = conexion.Consultar(m_sql);

        const QString puerto = impresora.Texto(QStringLiteral("Puerto"));
        const QString idImpresora = impresora.Texto(QStringLiteral("Id_Impresora"));
        QString estadoImpresora = QStringLiteral("D");
        if (m_rsDetalle->RecordCount() == 0 && m_sinRenglones.contains(idTrabajo)) {
            // Printed whole already; only its header is left to remove.
        } else if (m_fallidas.contains(idImpresora)) {
            // Found failing earlier in this tick: asking it again for every
            // job queued for it would hold every other printer back.
        } else if (m_apartarDefectuosos && Apartar(idTrabajo)) {
            // Nothing of it was sent; the printer's later jobs go on.
        } else if (Retenida(impresora)) {
            // It did not confirm a job and has shown no change since.
        } else if (PuertoValido(puerto) && m_pr2.InicializarPuerto(puerto, &estadoImpresora) && !Apagada(impresora)) {
            m_pr2.DocumentType(trabajo.Texto(QStringLiteral("Tipo")));
            bool impreso = true;
            for (; !m_rsDetalle->Fin(); m_rsDetalle->MoveNext()) {
                if (InterpretarRenglon(m_pr2, SinNulos(idTrabajo)) == ResultadoRenglon::FalloImpresion) {
                    // The job stays for the backup printer; this printer still
                    // gets the rest of the job and its cut.
                    impreso = false;
                    FalloRenglon(impresora, idTrabajo);
                }
                m_pr2.Avanzar();
            }
            m_pr2.Avanzar(3);
            m_pr2.Cortar();
            if (Senales::Pedida()) {
                // A stop ends the job where it is: it stays queued, here.
                return;
            }
            if (!impreso && m_pr2.SinLinea()) {
                m_fallidas.insert(idImpresora); // a write failed: the device is closed
            }
            if (impreso && ConfirmarRecepcion(m_pr2)) {
                impreso = Confirmado(impresora, idTrabajo);
            }
            if (impreso) {
                conexion.Ejecutar(QStringLiteral("DELETE FROM DetalleColaImpresion WHERE IdTrabajo = ") + idTrabajo);
                m_sinRenglones.insert(idTrabajo);
                emit TrabajoImpreso(idTrabajo.toLongLong(),
                                    impresora.Campo(QStringLiteral("Id_Impresora")).toLongLong(), puerto,
                                    trabajo.Texto(QStringLiteral("Tipo")), trabajo.Texto(QStringLiteral("Usuario")),
                                    m_rsDetalle->RecordCount());
            }
        } else {
            if (m_pr2.SinLinea()) {
                m_fallidas.insert(idImpresora);
            }
            Redirigir(impresora, estadoImpresora);
        }
    } else {
        Redirigir(impresora, QStringLiteral("D"));
    }
    conexion.Ejecutar(SentenciaLimpieza());
    // Every header without lines is gone now.
    m_sinRenglones.clear();
}

bool ServidorCola::Confirmado(const Recordset& impresora, const QString& idTrabajo) {
    const QString id = impresora.Texto(QStringLiteral("Id_Impresora"));
    if (m_pr2.ConfirmarRecepcion()) {
        m_sinConfirmar.remove(id);
        m_fallosTrabajo.remove(idTrabajo);
        if (impresora.Texto(QStringLiteral("Estado_Impresora")) == u"F") {
            // Held before a restart of this server, and confirming again.
            Actualizar(QStringLiteral("Impresora"), QStringLiteral("Estado_Impresora='A'"),
                       QStringLiteral("Id_Impresora=") + id);
        }
        return true;
    }
    // The printer went away, ran out of paper or did not answer, so the job
    // may not be on paper: it stays. Sent again to the same printer it could
    // come out twice, so it goes to the backup, or, without one, the printer
    // is held until it shows a change (Retenida).
    m_fallidas.insert(id);
    const int veces = ++m_fallosTrabajo[idTrabajo];
    Registrar(QStringLiteral("Cola Impresion, la impresora no confirmo el trabajo %1 (%2 de este trabajo, %3 "
                             "seguidas de la impresora)")
                  .arg(idTrabajo)
                  .arg(veces)
                  .arg(++m_sinConfirmar[id]));
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2): %3")
                  .arg(id, impresora.Texto(QStringLiteral("Puerto")), m_pr2.Causa()));
    if (!impresora.Campo(QStringLiteral("Id_Impresora_Respaldo")).isNull()) {
        Redirigir(impresora, QStringLiteral("F"));
    } else {
        Retener(impresora);
    }
    return false;
}

void ServidorCola::Retener(const Recordset& impresora) {
    const QString id = impresora.Texto(QStringLiteral("Id_Impresora"));
    m_retenidas.insert(id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) sin respaldo: sus trabajos esperan hasta que "
                             "responda, vuelva o se la restablezca")
                  .arg(id, impresora.Texto(QStringLiteral("Puerto"))));
    // Visible to orlan-admin and the panel; the routing stays.
    Actualizar(QStringLiteral("Impresora"), QStringLiteral("Estado_Impresora='F'"),
               QStringLiteral("Id_Impresora=") + id);
}

bool ServidorCola::Retenida(const Recordset& impresora) {
    const QString id = impresora.Texto(QStringLiteral("Id_Impresora"));
    if (!m_retenidas.contains(id)) {
        return false;
    }
    if (m_fallidas.contains(id)) {
        return true;
    }
    // Asked once a tick. An answer, or the operator setting its state back
    // ("A"), is the change that lets it print again.
    m_fallidas.insert(id);
    QString letra;
    const QString puerto = impresora.Texto(QStringLiteral("Puerto"));
    const bool respondio =
        PuertoValido(puerto) && m_pr2.InicializarPuerto(puerto, &letra) && (letra == u"A" || letra == u"C");
    const bool restablecida = impresora.Texto(QStringLiteral("Estado_Impresora")) != u"F";
    if (!respondio && !restablecida) {
        return true;
    }
    m_retenidas.remove(id);
    m_fallidas.remove(id);
    m_sinConfirmar.remove(id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) %3: sus trabajos siguen")
                  .arg(id, puerto, respondio ? QStringLiteral("responde de nuevo") : QStringLiteral("restablecida")));
    if (respondio && !restablecida) {
        Actualizar(QStringLiteral("Impresora"), QStringLiteral("Estado_Impresora='A'"),
                   QStringLiteral("Id_Impresora=") + id);
    }
    return false;
}

bool ServidorCola::Apagada(const Recordset& impresora) {
    if (!m_pr2.CalloTrasResponder() || !ConfirmarRecepcion(m_pr2)) {
        return false;
    }
    // With ConfirmarRecepcion = 1 a serial printer that answered before and
    // is silent now is switched off behind its adapter: what is sent is lost.
    const QString id = impresora.Texto(QStringLiteral("Id_Impresora"));
    m_fallidas.insert(id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) respondia y ya no contesta: apagada")
                  .arg(id, impresora.Texto(QStringLiteral("Puerto"))));
    if (!impresora.Campo(QStringLiteral("Id_Impresora_Respaldo")).isNull()) {
        Redirigir(impresora, QStringLiteral("F"));
    } else {
        Retener(impresora);
    }
    return true;
}

void ServidorCola::FalloRenglon(const Recordset& impresora, const QString& idTrabajo) {
    const QString id = impresora.Texto(QStringLiteral("Id_Impresora"));
    const QVariant respaldo = impresora.Campo(QStringLiteral("Id_Impresora_Respaldo"));
    if (!respaldo.isNull()) {
        Actualizar(QStringLiteral("Impresora"), QStringLiteral("Redirigido = ") + respaldo.toString(),
                   QStringLiteral("Id_Impresora=") + id);
    } else if (!m_fallidas.contains(id)) {
        // Nowhere to send its jobs: they wait here, and the printer is not
        // tried again in this tick. One line per printer per tick.
        Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) fallo y no tiene respaldo: el trabajo %3 espera")
                      .arg(id, impresora.Texto(QStringLiteral("Puerto")), idTrabajo));
        m_fallidas.insert(id);
    }
}

QString ServidorCola::SinNulos(const QString& idTrabajo) const {
    QString dato = m_rsDetalle->Texto(QStringLiteral("Dato"));
    // A NUL byte has nothing to print: it alone is left out, the rest of the
    // line is printed.
    if (const qsizetype nulos = dato.count(QChar(0)); nulos > 0) {
        dato.remove(QChar(0));
        Registrar(QStringLiteral("Cola Impresion, trabajo %1, renglon %2: caracteres nulos omitidos (%3)")
                      .arg(idTrabajo, m_rsDetalle->Texto(QStringLiteral("Idrenglon")))
                      .arg(nulos));
    }
    return dato;
}

bool ServidorCola::Apartar(const QString& idTrabajo) {
    QString motivo;
    for (; !m_rsDetalle->Fin() && motivo.isEmpty(); m_rsDetalle->MoveNext()) {
        try {
            ComprobarRenglon(m_rsDetalle->Texto(QStringLiteral("Dato")));
        } catch (const ErrorEjecucion& e) {
            motivo =
                QStringLiteral("renglon %1, %2").arg(m_rsDetalle->Texto(QStringLiteral("Idrenglon")), e.Descripcion());
        }
    }
    m_rsDetalle->MoveFirst();
    if (motivo.isEmpty()) {
        return false;
    }
    // The job query takes only Escribiendo = 0, so the job is logged once and
    // left alone until someone puts it back.
    Conexion::Instancia().Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = 2 WHERE IdTrabajo = ") +
                                   idTrabajo);
    Registrar(QStringLiteral("Cola Impresion, trabajo %1 apartado, no se puede imprimir: %2").arg(idTrabajo, motivo));
    return true;
}

void ServidorCola::Redirigir(const Recordset& impresora, const QString& estado) {
    const QString id = impresora.Texto(QStringLiteral("Id_Impresora"));
    const QVariant respaldo = impresora.Campo(QStringLiteral("Id_Impresora_Respaldo"));
    const QString actual =
        ObtenerValor(QStringLiteral("Redirigido"), QStringLiteral("Impresora"), QStringLiteral("Id_Impresora=") + id);
    // A NULL backup never differs from anything, so no update is made.
    if (!respaldo.isNull() && respaldo.toString() != actual) {
        Actualizar(QStringLiteral("Impresora"),
                   QStringLiteral("Redirigido = ") + respaldo.toString() + QStringLiteral(", Estado_Impresora='") +
                       estado + u'\'',
                   QStringLiteral("Id_Impresora=") + id);
    }
}
