#include "server/SaludImpresoras.h"

#include "database/BaseDatos.h"
#include "database/ColumnaOpcional.h"
#include "platform/Ajustes.h"
#include "platform/Servicio.h"
#include "ports/NombrePuerto.h"
#include "ports/PuertoCom.h"
#include "ports/PuertoSerie.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QFileInfo>
#include <algorithm>
#include <cstdio>

SaludImpresoras::SaludImpresoras(qint16 numeroTerminal, RepositorioCola& repositorio, ctlImpresora& pr2)
    : m_numeroTerminal(numeroTerminal), m_repositorio(repositorio), m_pr2(pr2) {}

bool SaludImpresoras::ConfirmarRecepcion() const {
    const bool red = m_pr2.SinLinea();
    const QString valor =
        Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"),
                      red ? QStringLiteral("ConfirmarRecepcionRed") : QStringLiteral("ConfirmarRecepcion"),
                      red ? QStringLiteral("1") : QStringLiteral("0"))
            .trimmed();
    return red ? valor != u'0' : valor == u'1';
}

void SaludImpresoras::CargaCompleta() {
    // What a previous run found is found again: each port is opened as
    // the printers load, and a device that is gone is shown at once. A
    // database where the column cannot be written loads all the same.
    AnotarOpcional(m_columnaFalla, QStringLiteral("Falla"), kSinFalla, QStringLiteral("las fallas"), 0, [this] {
        Conexion::Instancia().Ejecutar(
            QStringLiteral("UPDATE Impresora SET Falla = NULL WHERE ID_Terminal = ? AND Falla IS NOT NULL"),
            {qint64(m_numeroTerminal)});
        m_fallasEscritas.clear();
    });
    m_dispositivos.clear();
}

void SaludImpresoras::Olvidar(const QSet<qint64>& idas) {
    for (const qint64 id : idas) {
        m_fallas.remove(id);
        m_ausentes.remove(id);
        m_dispositivos.remove(id);
        m_fallasEscritas.remove(id);
    }
}

void SaludImpresoras::Configurada(qint64 idImpresora, const NombrePuerto& puerto, bool lista) {
    QString ruta;
    if (puerto.clase == NombrePuerto::Clase::Serie) {
        const PuertoCom::Destino destino = PuertoCom::Interpretar(PuertoSerie::Dispositivo(puerto.numero));
        if (destino.tipo != PuertoCom::Destino::Tipo::Tcp && !destino.ruta.isEmpty()) {
            ruta = destino.ruta;
            m_dispositivos.insert(idImpresora, {puerto.nombre, ruta});
        }
    }
    // A device that is not there is said by RevisarDispositivos.
    if (!lista && (ruta.isEmpty() || QFileInfo::exists(ruta))) {
        Hallado(idImpresora, puerto.nombre, CausaApertura(puerto.nombre));
    }
}

void SaludImpresoras::SinAbrir(const ImpresoraCola& impresora, bool apagada, const QString& estado) {
    const qint64 idImpresora = impresora.id;
    const QString& puerto = impresora.puerto;
    if (m_pr2.SinLinea()) {
        m_fallidas.insert(idImpresora);
    }
    // A printer found switched off (Apagada) has said so already; a
    // missing device keeps the words the device check clears.
    const QString causa = NombrePuerto::Valido(puerto)
                              ? CausaApertura(puerto)
                              : QStringLiteral("Puerto no es un puerto (COM1 a COM9, LPT1 a LPT9)");
    if (!apagada && !causa.isEmpty() && !m_ausentes.contains(idImpresora)) {
        Hallado(idImpresora, puerto, causa);
    }
    Redirigir(impresora, estado);
}

void SaludImpresoras::Desviar(const ImpresoraCola& impresora) {
    if (impresora.respaldo) {
        Redirigir(impresora, QStringLiteral("F"));
    } else {
        Retener(impresora);
    }
}

void SaludImpresoras::Confirmada(qint64 idImpresora, qint64 idTrabajo) {
    m_sinConfirmar.remove(idImpresora);
    m_fallosTrabajo.remove(idTrabajo);
}

QString SaludImpresoras::Resumen() {
    int impresoras = 0;
    int enRespaldo = 0;
    QStringList fallas;
    try {
        const std::unique_ptr<Recordset> filas = Conexion::Instancia().Consultar(
            QStringLiteral("SELECT Id_Impresora, Redirigido, Nombre_Impresora FROM Impresora WHERE ID_Terminal = ? "
                           "AND esdecheques = 0 ORDER BY Id_Impresora"),
            {qint64(m_numeroTerminal)});
        for (; !filas->Fin(); filas->MoveNext()) {
            ++impresoras;
            const QString id = filas->Texto(QStringLiteral("Id_Impresora"));
            enRespaldo += filas->Texto(QStringLiteral("Redirigido")) != id;
            const std::optional<qint64> numero = EnteroProbado(filas->Campo(0));
            const auto falla = numero ? m_fallas.constFind(*numero) : m_fallas.cend();
            if (falla != m_fallas.cend()) {
                const QString nombre =
                    TextoAcotado(filas->Texto(QStringLiteral("Nombre_Impresora")), RepositorioCola::kLargoNombre);
                fallas << (nombre.isEmpty() ? QStringLiteral("impresora ") + id : nombre) + QStringLiteral(": ") +
                              *falla;
            }
        }
    } catch (const ErrorEjecucion&) {
        return QStringLiteral("sirviendo la cola de la terminal ") + QString::number(m_numeroTerminal);
    }
    const QString plural = impresoras == 1 ? QString() : QStringLiteral("s");
    QString texto = fallas.isEmpty() ? QStringLiteral("sirviendo %1 impresora%2").arg(impresoras).arg(plural)
                                     : QStringLiteral("sirviendo %1 de %2 impresora%3")
                                           .arg(impresoras - fallas.size())
                                           .arg(impresoras)
                                           .arg(plural);
    if (enRespaldo > 0) {
        texto += QStringLiteral(", %1 en respaldo").arg(enRespaldo);
    }
    for (const QString& falla : fallas) {
        texto += QStringLiteral("; ") + falla;
    }
    return texto;
}

void SaludImpresoras::RevisarDispositivos() {
    for (auto it = m_dispositivos.cbegin(); it != m_dispositivos.cend(); ++it) {
        const qint64 id = it.key();
        const QString& ruta = it->second;
        if (!QFileInfo::exists(ruta)) {
            if (!m_ausentes.contains(id)) {
                Hallado(id, it->first, QStringLiteral("no existe ") + ruta + AvisoTmp(ruta), true);
            }
        } else if (m_ausentes.contains(id)) {
            // Back, but perhaps not the group's or not a printer yet: it is
            // opened as at the start, and shown by what that finds.
            QString letra;
            const bool lista = m_pr2.InicializarPuerto(it->first, &letra);
            Hallado(id, it->first, lista ? QString() : CausaApertura(it->first));
        }
    }
}

QString SaludImpresoras::AvisoTmp(const QString& ruta) {
    // The service has a /tmp of its own: a link made there by hand is not
    // the one it sees.
    for (const QString& tmp : {QStringLiteral("/tmp/"), QStringLiteral("/var/tmp/")}) {
        if (Servicio::Gestionado() && ruta.startsWith(tmp)) {
            return QStringLiteral(" (el servicio tiene su propio /tmp, PrivateTmp=yes, y no ve ") + ruta +
                   QStringLiteral("; use una ruta fuera de /tmp y /var/tmp)");
        }
    }
    return QString();
}

QString SaludImpresoras::CausaApertura(const QString& puerto) {
    const auto dispositivo = std::find_if(m_dispositivos.cbegin(), m_dispositivos.cend(),
                                          [&](const QPair<QString, QString>& d) { return d.first == puerto; });
    return m_pr2.Causa() + (dispositivo == m_dispositivos.cend() ? QString() : AvisoTmp(dispositivo->second));
}

void SaludImpresoras::Hallado(qint64 idImpresora, const QString& puerto, const QString& falla, bool ausente) {
    const auto antes = m_fallas.constFind(idImpresora);
    if (antes == m_fallas.cend() ? falla.isEmpty() : *antes == falla) {
        return;
    }
    QString linea;
    if (falla.isEmpty()) {
        m_fallas.remove(idImpresora);
        m_ausentes.remove(idImpresora);
        linea = QStringLiteral("Cola Impresion, impresora %1 (%2) imprime de nuevo").arg(idImpresora).arg(puerto);
    } else {
        m_fallas.insert(idImpresora, falla);
        if (ausente) {
            m_ausentes.insert(idImpresora);
        } else {
            m_ausentes.remove(idImpresora);
        }
        linea = QStringLiteral("Cola Impresion, impresora %1 (%2) no puede imprimir: %3")
                    .arg(idImpresora)
                    .arg(puerto, falla);
    }
    Registrar(linea);
    std::fprintf(stderr, "orlan-cola: %s\n", linea.toLocal8Bit().constData());
    std::fflush(stderr);
    EscribirFallas();
    if (Servicio::Gestionado()) {
        Servicio::Estado(Resumen());
    }
}

void SaludImpresoras::EscribirFallas() {
    QSet<qint64> ids(m_fallasEscritas.keyBegin(), m_fallasEscritas.keyEnd());
    ids.unite(QSet<qint64>(m_fallas.keyBegin(), m_fallas.keyEnd()));
    for (const qint64 id : ids) {
        const QString falla = m_fallas.value(id).left(kLargoFalla);
        if (m_columnaFalla == false || m_fallasEscritas.value(id) == falla) {
            continue;
        }
        AnotarOpcional(m_columnaFalla, QStringLiteral("Falla"), kSinFalla, QStringLiteral("la falla"), id, [&] {
            m_repositorio.AnotarFalla(id, falla);
            if (falla.isEmpty()) {
                m_fallasEscritas.remove(id);
            } else {
                m_fallasEscritas.insert(id, falla);
            }
        });
    }
}

bool SaludImpresoras::Ocupada(const ImpresoraCola& impresora) {
    const qint64 id = impresora.id;
    if (!m_pr2.Ocupada()) {
        m_ocupadas.remove(id);
        return false;
    }
    m_fallidas.insert(id); // not asked again in this tick
    auto ocupada = m_ocupadas.find(id);
    if (ocupada == m_ocupadas.end() || ocupada->visto.hasExpired(kPlazoOcupada / 2)) {
        // Not seen busy for a while: a new spell.
        ocupada = m_ocupadas.insert(id, Ocupacion());
        ocupada->desde.start();
        Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) ocupada: %3; sus trabajos esperan")
                      .arg(id)
                      .arg(impresora.puerto, m_pr2.Causa()));
    }
    ocupada->visto.start();
    if (!ocupada->desde.hasExpired(kPlazoOcupada)) {
        m_pr2.LiberarPuertos(); // its place in the printer's backlog goes too
        return true;
    }
    // Busy for longer than any job of ours could keep it: it does not answer.
    m_ocupadas.remove(id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) sigue sin contestar tras %3 s: falla")
                  .arg(id)
                  .arg(impresora.puerto)
                  .arg(kPlazoOcupada / 1000));
    Hallado(id, impresora.puerto, QStringLiteral("sigue ocupada sin contestar tras %1 s").arg(kPlazoOcupada / 1000));
    Desviar(impresora);
    return true;
}

SaludImpresoras::Confirmacion SaludImpresoras::Confirmado(const ImpresoraCola& impresora, qint64 idTrabajo) {
    const qint64 id = impresora.id;
    if (m_pr2.ConfirmarRecepcion()) {
        if (impresora.estado == QStringLiteral("F")) {
            // Held before a restart of this server, and confirming again.
            m_repositorio.AnotarEstado(id, QStringLiteral("A"));
        }
        if (m_pr2.VentanaPendiente()) {
            return Confirmacion::EnVentana;
        }
        Confirmada(id, idTrabajo);
        return Confirmacion::Si;
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
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2): %3").arg(id).arg(impresora.puerto, m_pr2.Causa()));
    Hallado(id, impresora.puerto,
            QStringLiteral("no confirmo el trabajo") +
                (m_pr2.Causa().isEmpty() ? QString() : QStringLiteral(": ") + m_pr2.Causa()));
    Desviar(impresora);
    return Confirmacion::No;
}

void SaludImpresoras::Retener(const ImpresoraCola& impresora) {
    m_retenidas.insert(impresora.id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) sin respaldo: sus trabajos esperan hasta que "
                             "responda, vuelva o se la restablezca")
                  .arg(impresora.id)
                  .arg(impresora.puerto));
    // Visible to orlan-admin and the panel; the routing stays.
    m_repositorio.AnotarEstado(impresora.id, QStringLiteral("F"));
}

bool SaludImpresoras::Retenida(const ImpresoraCola& impresora) {
    const qint64 id = impresora.id;
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
    const QString& puerto = impresora.puerto;
    const bool respondio =
        NombrePuerto::Valido(puerto) && m_pr2.InicializarPuerto(puerto, &letra) && (letra == u"A" || letra == u"C");
    const bool restablecida = impresora.estado.value_or(QString()) != u"F";
    if (!respondio && !restablecida) {
        return true;
    }
    m_retenidas.remove(id);
    m_fallidas.remove(id);
    m_sinConfirmar.remove(id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) %3: sus trabajos siguen")
                  .arg(id)
                  .arg(puerto, respondio ? QStringLiteral("responde de nuevo") : QStringLiteral("restablecida")));
    if (respondio && !restablecida) {
        m_repositorio.AnotarEstado(id, QStringLiteral("A"));
    }
    return false;
}

bool SaludImpresoras::Apagada(const ImpresoraCola& impresora) {
    if (!m_pr2.CalloTrasResponder() || !ConfirmarRecepcion()) {
        return false;
    }
    // With ConfirmarRecepcion = 1 a serial printer that answered before and
    // is silent now is switched off behind its adapter: what is sent is lost.
    m_fallidas.insert(impresora.id);
    Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) respondia y ya no contesta: apagada")
                  .arg(impresora.id)
                  .arg(impresora.puerto));
    Hallado(impresora.id, impresora.puerto, QStringLiteral("respondia y ya no contesta: apagada"));
    Desviar(impresora);
    return true;
}

void SaludImpresoras::FalloRenglon(const ImpresoraCola& impresora, qint64 idTrabajo) {
    const qint64 id = impresora.id;
    Hallado(id, impresora.puerto,
            QStringLiteral("fallo al imprimir") +
                (m_pr2.Causa().isEmpty() ? QString() : QStringLiteral(": ") + m_pr2.Causa()));
    if (impresora.respaldo) {
        m_repositorio.Redirigir(id, *impresora.respaldo, std::nullopt);
    } else if (!m_fallidas.contains(id)) {
        // Nowhere to send its jobs: they wait here, and the printer is not
        // tried again in this tick. One line per printer per tick.
        Registrar(QStringLiteral("Cola Impresion, impresora %1 (%2) fallo y no tiene respaldo: el trabajo %3 espera")
                      .arg(id)
                      .arg(impresora.puerto)
                      .arg(idTrabajo));
        m_fallidas.insert(id);
    }
}

void SaludImpresoras::AnotarPapel(qint64 idImpresora, bool bajo) {
    const auto anotado = m_papelAnotado.constFind(idImpresora);
    if (m_columnaPapel == false || (anotado != m_papelAnotado.cend() && *anotado == bajo)) {
        return;
    }
    // Written after the job's lines are gone: a failure here never prints
    // the job again.
    AnotarOpcional(m_columnaPapel, QStringLiteral("PapelBajo"),
                   QStringLiteral("el panel no muestra el papel por terminarse"), QStringLiteral("el papel"),
                   idImpresora, [&] {
                       m_repositorio.AnotarPapel(idImpresora, bajo);
                       m_papelAnotado.insert(idImpresora, bajo);
                   });
}

void SaludImpresoras::AnotarOpcional(std::optional<bool>& existe, const QString& columna, const QString& sinColumna,
                                     const QString& que, qint64 idImpresora, const std::function<void()>& escribir) {
    if (existe == false) {
        return;
    }
    // A lost connection is left to the next statement; any other failure
    // is said once and the column is not written again.
    try {
        if (!existe) {
            existe = ExisteColumna(QStringLiteral("Impresora"), columna);
            if (!*existe) {
                Registrar(QStringLiteral("Cola Impresion, la tabla Impresora no tiene la columna ") + columna +
                          QStringLiteral(": ") + sinColumna);
                return;
            }
        }
        escribir();
    } catch (const ErrorEjecucion& e) {
        if (!ConexionPerdida(e)) {
            existe = false;
            Registrar(QStringLiteral("Cola Impresion, no se pudo anotar %1 de la impresora %2, no se vuelve a "
                                     "intentar: %3")
                          .arg(que)
                          .arg(idImpresora)
                          .arg(e.Descripcion()));
        }
    }
}

void SaludImpresoras::Redirigir(const ImpresoraCola& impresora, const QString& estado) {
    const QString actual = m_repositorio.RedirigidoActual(impresora.id);
    // A NULL backup never differs from anything, so no update is made.
    if (impresora.respaldo && QString::number(*impresora.respaldo) != actual) {
        m_repositorio.Redirigir(impresora.id, *impresora.respaldo, estado);
    }
}
