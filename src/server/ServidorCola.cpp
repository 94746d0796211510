#include "server/ServidorCola.h"

#include "database/ColumnaOpcional.h"
#include "platform/Ajustes.h"
#include "platform/Senales.h"
#include "platform/Servicio.h"
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

// [Cola] VenceReclamo: the seconds another server's claim on a job must stand
// unchanged before this server takes the job over, 300 unless set. Longer
// than a job can hold a terminal, so that only the claim of a server that
// died expires.
qint64 VenceReclamoMs() {
    constexpr qint64 kPredeterminado = 300;
    const QString valor = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("VenceReclamo"),
                                        QString::number(kPredeterminado))
                              .trimmed();
    bool ok = false;
    const qint64 segundos = valor.toLongLong(&ok);
    if (ok && segundos >= 0 && segundos <= 86400) {
        return segundos * 1000;
    }
    static QString avisado;
    if (avisado != valor) {
        avisado = valor;
        Registrar(QStringLiteral("Cola Impresion, ajuste VenceReclamo no valido: '%1'; se usan %2 segundos")
                      .arg(valor.left(40))
                      .arg(kPredeterminado));
    }
    return kPredeterminado * 1000;
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
        // Whether the job had lines when the snapshot was taken: one whose
        // lines are gone by the time it is served is not printed as a blank
        // receipt (another terminal printed it).
        QStringLiteral(", CASE WHEN EXISTS (SELECT 1 FROM DetalleColaImpresion det WHERE det.IdTrabajo = "
                       "col.IdTrabajo) THEN 1 ELSE 0 END AS ConRenglones") +
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

QString ServidorCola::Resumen() {
    int impresoras = 0;
    int enRespaldo = 0;
    try {
        const std::unique_ptr<Recordset> filas = Conexion::Instancia().Consultar(
            QStringLiteral("SELECT Id_Impresora, Redirigido FROM Impresora WHERE ID_Terminal = ") +
            QString::number(m_numeroTerminal) + QStringLiteral(" AND esdecheques = 0"));
        for (; !filas->Fin(); filas->MoveNext()) {
            ++impresoras;
            enRespaldo += filas->Texto(QStringLiteral("Redirigido")) != filas->Texto(QStringLiteral("Id_Impresora"));
        }
    } catch (const ErrorEjecucion&) {
        return QStringLiteral("sirviendo la cola de la terminal ") + QString::number(m_numeroTerminal);
    }
    QString texto = QStringLiteral("sirviendo %1 impresora%2").arg(impresoras).arg(impresoras == 1 ? "" : "s");
    if (enRespaldo > 0) {
        texto += QStringLiteral(", %1 en respaldo").arg(enRespaldo);
    }
    return texto;
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
    // The service manager's watchdog restarts a server whose ticks stopped
    // ending; the status line is refreshed every half minute, not every tick,
    // and only for a manager that shows it.
    Servicio::Vivo();
    if (Servicio::Gestionado() && !m_reconectar && --m_ticksHastaResumen <= 0) {
        m_ticksHastaResumen = 15;
        Servicio::Estado(Resumen());
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
            Servicio::Estado(QStringLiteral("sin base de datos: ") +
                             (errores.isEmpty() ? QString() : errores.first().descripcion));
            if (!m_sinConexionRegistrado || intento.elapsed() >= m_timer1.interval()) {
                Registrar(QStringLiteral("Cola Impresion, sin conexion con la base de datos: ") +
                          (errores.isEmpty() ? QString() : errores.first().descripcion));
                m_sinConexionRegistrado = true;
            }
            return;
        }
        m_reconectar = false;
        m_sinConexionRegistrado = false;
        m_ticksHastaResumen = 0;
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
        m_reconectar = ConexionPerdida(e);
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
        } else if (!Reclamar(trabajo, idImpresora, m_rsDetalle->RecordCount())) {
            // Another terminal prints it, or it is no longer this terminal's.
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
                // A stop ends the job where it is: it stays queued, and its
                // claim goes back so that the next start serves it at once.
                Soltar(idTrabajo);
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
            if (m_pr2.SinLinea()) {
                AnotarPapel(idImpresora, m_pr2.PapelBajo());
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
    Soltar(trabajo.Texto(QStringLiteral("IdTrabajo")));
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

void ServidorCola::AnotarPapel(const QString& idImpresora, bool bajo) {
    const auto anotado = m_papelAnotado.constFind(idImpresora);
    if (m_columnaPapel == false || (anotado != m_papelAnotado.cend() && *anotado == bajo)) {
        return;
    }
    // Written after the job's lines are gone: a failure here never prints
    // the job again. A lost connection is left to the next statement.
    try {
        if (!m_columnaPapel) {
            m_columnaPapel = ExisteColumna(QStringLiteral("Impresora"), QStringLiteral("PapelBajo"));
            if (!*m_columnaPapel) {
                Registrar(QStringLiteral("Cola Impresion, la tabla Impresora no tiene la columna PapelBajo: el "
                                         "panel no muestra el papel por terminarse"));
                return;
            }
        }
        Conexion::Instancia().Ejecutar(QStringLiteral("UPDATE Impresora SET PapelBajo = %1 WHERE Id_Impresora = %2")
                                           .arg(bajo ? 1 : 0)
                                           .arg(idImpresora));
        m_papelAnotado.insert(idImpresora, bajo);
    } catch (const ErrorEjecucion& e) {
        if (!ConexionPerdida(e)) {
            m_columnaPapel = false;
            Registrar(QStringLiteral("Cola Impresion, no se pudo anotar el papel de la impresora %1, no se vuelve "
                                     "a intentar: %2")
                          .arg(idImpresora, e.Descripcion()));
        }
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

void ServidorCola::DetectarReclamos() {
    // The probe's column list names the table's whole shape: a table of that
    // name made otherwise is no claim table.
    if (ExisteColumna(QStringLiteral("ReclamoTrabajo"), QStringLiteral("IdTrabajo, ID_Terminal, Ficha"))) {
        m_reclamos = Reclamos::ConTabla;
        return;
    }
    m_reclamos = Reclamos::SinTabla;
    Registrar(QStringLiteral("Cola Impresion, la base de datos no tiene la tabla ReclamoTrabajo ('orlan-admin "
                             "esquema MOTOR --reclamos' la crea): sin ella cada trabajo se revisa antes de "
                             "imprimirlo, pero si una impresora se restablece mientras otra terminal imprime sus "
                             "trabajos, alguno puede salir en las dos"));
}

bool ServidorCola::Reclamar(const Recordset& trabajo, const QString& idImpresora, int renglones) {
    const QString id = trabajo.Texto(QStringLiteral("IdTrabajo"));
    const bool conRenglones = trabajo.Campo(QStringLiteral("ConRenglones")).toLongLong() != 0;
    if (!conRenglones) {
        // Written without lines: it has nothing to print twice but a blank
        // slip, and the header cleanup after any job of any terminal may
        // already have taken its header. The snapshot's word stands.
        return true;
    }
    if (renglones == 0) {
        Registrar(QStringLiteral("Cola Impresion, trabajo %1: sus renglones ya no estan, no se imprime").arg(id));
        return false;
    }
    if (m_reclamos == Reclamos::SinDetectar) {
        DetectarReclamos();
    }
    // Still released, still routed to the printer about to print it, and
    // with its lines.
    const QString condicion =
        QStringLiteral("ColaImpresion.IdTrabajo = ") + id +
        QStringLiteral(" AND ColaImpresion.Escribiendo = 0 AND ColaImpresion.id_impresora IN (SELECT Id_Impresora "
                       "FROM Impresora WHERE Redirigido = ") +
        idImpresora + QStringLiteral(") AND EXISTS (SELECT 1 FROM DetalleColaImpresion det WHERE det.IdTrabajo = ") +
        id + u')';
    Conexion& conexion = Conexion::Instancia();
    if (m_reclamos == Reclamos::SinTabla) {
        return ObtenerValor(QStringLiteral("COUNT(*)"), QStringLiteral("ColaImpresion"), condicion).toInt() > 0;
    }

    m_venceReclamoMs = VenceReclamoMs();
    const QString terminal = QString::number(m_numeroTerminal);
    const qint64 ficha = static_cast<qint64>(QRandomGenerator::global()->generate64() >> 2);
    try {
        // On PostgreSQL two servers can both pass the NOT EXISTS; the primary
        // key then refuses the second.
        if (conexion.Ejecutar(QStringLiteral("INSERT INTO ReclamoTrabajo (IdTrabajo, ID_Terminal, Ficha) SELECT "
                                             "IdTrabajo, ") +
                              terminal + u',' + QString::number(ficha) + QStringLiteral(" FROM ColaImpresion WHERE ") +
                              condicion +
                              QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM ReclamoTrabajo rec WHERE "
                                             "rec.IdTrabajo = ") +
                              id + u')') == 1) {
            m_fichas.insert(id, ficha);
            m_ajenos.remove(id);
            return true;
        }
    } catch (const ErrorEjecucion& e) {
        if (e.Numero() != ErrorEjecucion::kErrorIntegridad) {
            throw;
        }
    }

    // Not claimed: the job is no longer this server's, or a claim stands.
    const std::unique_ptr<Recordset> reclamo =
        conexion.Consultar(QStringLiteral("SELECT ID_Terminal, Ficha FROM ReclamoTrabajo WHERE IdTrabajo = ") + id);
    if (reclamo->Fin()) {
        return false;
    }
    const qint64 suya = reclamo->Campo(QStringLiteral("Ficha")).toLongLong();
    if (m_fichas.value(id) == suya) {
        return true; // claimed by this server in a tick that ended early
    }
    for (auto it = m_ajenos.begin(); it != m_ajenos.end();) {
        // Jobs no longer met (printed elsewhere, say) are forgotten.
        it = it.value().visto.hasExpired(m_venceReclamoMs + 60000) ? m_ajenos.erase(it) : std::next(it);
    }
    ReclamoAjeno& ajeno = m_ajenos[id];
    ajeno.visto.start();
    if (!ajeno.desde.isValid() || ajeno.ficha != suya) {
        ajeno.ficha = suya;
        ajeno.desde.start();
        Registrar(QStringLiteral("Cola Impresion, trabajo %1: lo imprime la terminal %2")
                      .arg(id, reclamo->Texto(QStringLiteral("ID_Terminal"))));
        return false;
    }
    if (ajeno.desde.elapsed() < m_venceReclamoMs) {
        return false;
    }
    // The claim outlived any job: its server died holding it.
    if (conexion.Ejecutar(QStringLiteral("UPDATE ReclamoTrabajo SET ID_Terminal = ") + terminal +
                          QStringLiteral(", Ficha = ") + QString::number(ficha) +
                          QStringLiteral(" WHERE IdTrabajo = ") + id + QStringLiteral(" AND Ficha = ") +
                          QString::number(suya) + QStringLiteral(" AND EXISTS (SELECT 1 FROM ColaImpresion WHERE ") +
                          condicion + u')') != 1) {
        return false;
    }
    Registrar(
        QStringLiteral("Cola Impresion, trabajo %1: el reclamo de la terminal %2 vencio, lo imprime esta terminal")
            .arg(id, reclamo->Texto(QStringLiteral("ID_Terminal"))));
    m_fichas.insert(id, ficha);
    m_ajenos.remove(id);
    return true;
}

void ServidorCola::Soltar(const QString& idTrabajo) {
    const auto it = m_fichas.constFind(idTrabajo);
    if (it == m_fichas.cend()) {
        return;
    }
    // Claims on jobs whose header is gone go too: those of a server that
    // died after printing.
    Conexion::Instancia().Ejecutar(QStringLiteral("DELETE FROM ReclamoTrabajo WHERE Ficha = ") +
                                   QString::number(it.value()) +
                                   QStringLiteral(" OR NOT EXISTS (SELECT 1 FROM ColaImpresion col WHERE "
                                                  "col.IdTrabajo = ReclamoTrabajo.IdTrabajo)"));
    m_fichas.erase(it);
}
