#include "server/Reclamos.h"

#include "database/ColumnaOpcional.h"
#include "platform/Ajustes.h"
#include "platform/BloqueoProceso.h"
#include "platform/Rutas.h"
#include "server/InterpretarRenglon.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QRandomGenerator>
#include <algorithm>

namespace {

// A claim's number: new for every claim and every renewal, never 0.
qint64 NuevaFicha() {
    return static_cast<qint64>(QRandomGenerator::global()->generate64() >> 2) + 1;
}

QString Lista(const QVector<qint64>& ids) {
    QStringList textos;
    for (const qint64 id : ids) {
        textos << QString::number(id);
    }
    return textos.join(QStringLiteral(", "));
}

// [Cola] VenceReclamo: the seconds another server's claim on a job must stand
// unchanged before this server takes the job over, 20 unless set. A server
// renews its claim every few seconds while it prints (Renovar), so
// only the claim of a server that died stands that long.
qint64 VenceReclamoMs() {
    constexpr qint64 kPredeterminado = 20;
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

Reclamos::Reclamos(RepositorioCola& repositorio, ctlImpresora& pr2, std::function<QList<qint64>()> enVentana)
    : m_repositorio(repositorio), m_pr2(pr2), m_enVentana(std::move(enVentana)) {
    m_latido.setInterval(1000);
    QObject::connect(&m_latido, &QTimer::timeout, [this] { Renovar(); });
}

bool Reclamos::TomarTerminal() {
    const QString ruta = Rutas::RaizUnidad() + QStringLiteral("/orlan-cola.bloqueo");
    QString error;
    switch (BloqueoProceso::Tomar(ruta, &error)) {
    case BloqueoProceso::Resultado::YaPropio:
        return true;
    case BloqueoProceso::Resultado::Ajeno:
        Registrar(QStringLiteral("Cola Impresion, otro orlan-cola sirve ya esta terminal (%1 esta bloqueado): este "
                                 "no sirve la cola")
                      .arg(ruta));
        return false;
    case BloqueoProceso::Resultado::Error:
        // Served as before, but without the proof that no other server of
        // this terminal holds its claims: they are left to expire.
        Registrar(QStringLiteral("Cola Impresion, no se pudo bloquear %1: %2; los reclamos de esta terminal vencen "
                                 "como los de otra")
                      .arg(ruta, error));
        return true;
    case BloqueoProceso::Resultado::Tomado:
        break;
    }
    // This process is the terminal's only server: a claim of this terminal
    // is one its previous server left when it died, perhaps in the middle of
    // the job. The job is printed again at once, marked as a possible copy.
    if (m_tabla == Tabla::SinDetectar) {
        DetectarReclamos();
    }
    if (m_tabla == Tabla::ConTabla) {
        const QVector<qint64> propios = m_repositorio.ReclamosDeTerminal();
        if (!propios.isEmpty()) {
            m_repositorio.SoltarTerminal();
            for (const qint64 id : propios) {
                m_copias.insert(id, QStringLiteral("esta terminal lo reclamaba cuando se detuvo"));
            }
            Registrar(QStringLiteral("Cola Impresion, %1 trabajo(s) reclamado(s) por esta terminal antes de "
                                     "reiniciarse se imprimen de nuevo: %2")
                          .arg(propios.size())
                          .arg(Lista(propios)));
        }
    }
    return true;
}

void Reclamos::Renovar() {
    // Every 5 s, or thrice within the expiry when that is shorter.
    const qint64 cada = std::clamp<qint64>(m_venceReclamoMs / 3, 200, 5000);
    if (m_renovado.isValid() && m_renovado.elapsed() < cada) {
        return;
    }
    QList<qint64> trabajos = m_enVentana();
    if (m_reclamoEnCurso == 0 && trabajos.isEmpty()) {
        return;
    }
    m_renovado.start();
    if (m_reclamoEnCurso != 0) {
        trabajos.append(m_reclamoEnCurso);
    }
    for (const qint64 id : trabajos) {
        const auto ficha = m_fichas.find(id);
        if (ficha == m_fichas.end()) {
            continue; // printed unclaimed: a database without the claim table
        }
        const qint64 nueva = NuevaFicha();
        try {
            if (m_repositorio.RenovarReclamo(ficha.key(), ficha.value(), nueva)) {
                ficha.value() = nueva;
                continue;
            }
            Registrar(QStringLiteral("Cola Impresion, trabajo %1: otra terminal tomo su reclamo mientras se imprimia")
                          .arg(ficha.key()));
            m_fichas.erase(ficha);
        } catch (const ErrorEjecucion& e) {
            // Called inside the printer's waits: the job goes on, and the
            // tick's next statement meets a lost connection.
            Registrar(QStringLiteral("Cola Impresion, no se pudo renovar el reclamo del trabajo %1: %2")
                          .arg(ficha.key())
                          .arg(e.Descripcion()));
            return;
        }
    }
}

void Reclamos::EnCurso(qint64 idTrabajo) {
    m_reclamoEnCurso = idTrabajo;
    if (m_enVentana().isEmpty()) {
        m_renovado.start(); // its claim is new; others may wait for their renewal
    }
    m_latido.start();
}

void Reclamos::Terminado() {
    m_latido.stop();
    m_reclamoEnCurso = 0;
}

void Reclamos::Impreso(qint64 idTrabajo) {
    m_fichas.remove(idTrabajo);
    m_copias.remove(idTrabajo);
}

void Reclamos::MarcarCopia(qint64 idTrabajo) {
    const auto copia = m_copias.constFind(idTrabajo);
    if (copia == m_copias.cend()) {
        return;
    }
    // Its last server may have printed some or all of it before it died.
    const bool marcar = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Cola"), QStringLiteral("MarcarCopias"),
                                      QStringLiteral("1"))
                            .trimmed() != u'0';
    Registrar(QStringLiteral("Cola Impresion, trabajo %1 se imprime de nuevo%2: %3")
                  .arg(idTrabajo)
                  .arg(marcar ? QStringLiteral(" marcado COPIA") : QString())
                  .arg(*copia));
    if (marcar) {
        InterpretarRenglon(m_pr2, QStringLiteral("<B>*** COPIA: puede estar repetido ***</B>"));
        m_pr2.Avanzar(1); // on a line of its own, whatever the job's first line holds
    }
}

void Reclamos::DetectarReclamos() {
    // The probe's column list names the table's whole shape: a table of that
    // name made otherwise is no claim table.
    if (ExisteColumna(QStringLiteral("ReclamoTrabajo"), QStringLiteral("IdTrabajo, ID_Terminal, Ficha"))) {
        m_tabla = Tabla::ConTabla;
        return;
    }
    m_tabla = Tabla::SinTabla;
    Registrar(QStringLiteral("Cola Impresion, la base de datos no tiene la tabla ReclamoTrabajo ('orlan-admin "
                             "esquema MOTOR --reclamos' la crea): sin ella cada trabajo se revisa antes de "
                             "imprimirlo, pero si una impresora se restablece mientras otra terminal imprime sus "
                             "trabajos, alguno puede salir en las dos"));
}

bool Reclamos::Reclamar(const TrabajoCola& trabajo, qint64 idImpresora, QVector<RenglonCola>& detalle) {
    const qint64 id = trabajo.id;
    if (m_tabla == Tabla::SinDetectar) {
        DetectarReclamos();
    }
    m_venceReclamoMs = VenceReclamoMs();
    const qint64 ficha = NuevaFicha();
    if (!trabajo.conRenglones) {
        // Written without lines: it has nothing to print twice but a blank
        // slip. Without the claims table the header cleanup after any job
        // of any terminal may already have taken its header, and the
        // snapshot's word stands. With it, a header without lines may also
        // be a job another server printed, whose claim stays until its
        // header goes: claimed here, it is this server's to print.
        if (m_tabla == Tabla::ConTabla) {
            try {
                if (!m_repositorio.Reclamar(id, idImpresora, ficha, false)) {
                    return false;
                }
            } catch (const ErrorEjecucion& e) {
                if (e.Numero() != ErrorEjecucion::kErrorIntegridad) {
                    throw;
                }
                return false;
            }
            m_fichas.insert(id, ficha);
        }
        detalle = m_repositorio.Renglones(id);
        return true;
    }
    const auto Desaparecidos = [&] {
        if (!m_repositorio.TieneRenglones(id)) {
            Registrar(QStringLiteral("Cola Impresion, trabajo %1: sus renglones ya no estan, no se imprime").arg(id));
        }
        return false;
    };
    if (m_tabla == Tabla::SinTabla) {
        const auto renglones = m_repositorio.ReclamarConRenglones(id, idImpresora, 0);
        if (!renglones) {
            return Desaparecidos();
        }
        detalle = *renglones;
        return true;
    }

    try {
        if (const auto renglones = m_repositorio.ReclamarConRenglones(id, idImpresora, ficha)) {
            detalle = *renglones;
            m_fichas.insert(id, ficha);
            m_ajenos.remove(id);
            return true;
        }
    } catch (const ErrorEjecucion& e) {
        if (e.Numero() != ErrorEjecucion::kErrorIntegridad) {
            throw;
        }
    }
    // A claim taken over below is this server's: its lines are read then.
    const auto Propio = [&](qint64 nueva) {
        m_fichas.insert(id, nueva);
        m_ajenos.remove(id);
        detalle = m_repositorio.Renglones(id);
        if (detalle.isEmpty()) {
            Soltar(id);
            return Desaparecidos();
        }
        return true;
    };

    // Not claimed: the job is no longer this server's, or a claim stands.
    const std::optional<ReclamoCola> reclamo = m_repositorio.Reclamo(id);
    if (!reclamo) {
        return Desaparecidos();
    }
    if (reclamo->ficha == RepositorioCola::kFichaDudosa) {
        // Given back by a server whose printer did not confirm it: free, and
        // perhaps on paper already.
        if (!m_repositorio.TomarReclamo(id, idImpresora, RepositorioCola::kFichaDudosa, ficha)) {
            return false;
        }
        m_copias.insert(id, QStringLiteral("la terminal %1 lo envio a una impresora que no confirmo haberlo impreso")
                                .arg(reclamo->terminalTexto));
        return Propio(ficha);
    }
    if (m_fichas.value(id) == reclamo->ficha && reclamo->ficha != 0) {
        return Propio(reclamo->ficha); // claimed by this server in a tick that ended early
    }
    for (auto it = m_ajenos.begin(); it != m_ajenos.end();) {
        // Jobs no longer met (printed elsewhere, say) are forgotten.
        it = it.value().visto.hasExpired(m_venceReclamoMs + 60000) ? m_ajenos.erase(it) : std::next(it);
    }
    ReclamoAjeno& ajeno = m_ajenos[id];
    // A claim stands unchanged only if this server kept looking: across a
    // gap (the database hung, this server printed a long job) its holder may
    // have been unable to renew it, and the count starts again.
    const bool seguido =
        ajeno.visto.isValid() && !ajeno.visto.hasExpired(std::max(kHuecoReclamoMs, m_venceReclamoMs / 2));
    ajeno.visto.start();
    if (!ajeno.desde.isValid() || ajeno.ficha != reclamo->ficha || !seguido) {
        if (ajeno.ficha != reclamo->ficha) {
            Registrar(QStringLiteral("Cola Impresion, trabajo %1: lo imprime la terminal %2")
                          .arg(id)
                          .arg(reclamo->terminalTexto));
        }
        ajeno.ficha = reclamo->ficha;
        ajeno.desde.start();
        return false;
    }
    if (ajeno.desde.elapsed() < m_venceReclamoMs) {
        return false;
    }
    // The claim outlived any job: its server died holding it.
    if (!m_repositorio.TomarReclamo(id, idImpresora, reclamo->ficha, ficha)) {
        return false;
    }
    Registrar(
        QStringLiteral("Cola Impresion, trabajo %1: el reclamo de la terminal %2 vencio, lo imprime esta terminal")
            .arg(id)
            .arg(reclamo->terminalTexto));
    m_copias.insert(id, QStringLiteral("el reclamo de la terminal %1 vencio").arg(reclamo->terminalTexto));
    return Propio(ficha);
}

void Reclamos::Soltar(qint64 idTrabajo, bool dudoso) {
    const auto it = m_fichas.constFind(idTrabajo);
    if (it == m_fichas.cend()) {
        return;
    }
    if (dudoso) {
        m_repositorio.SoltarDudoso(it.value());
    } else {
        m_repositorio.Soltar(it.value());
    }
    m_fichas.erase(it);
}
