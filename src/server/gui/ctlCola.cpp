#include "server/gui/ctlCola.h"

#include "database/BaseDatos.h"
#include "platform/Reloj.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// `ancha` is the column that takes the room left over (the printer's name).
QTreeWidget* NuevaVista(const QStringList& columnas, int ancha, QWidget* padre) {
    auto* vista = new QTreeWidget(padre);
    vista->setHeaderLabels(columnas);
    vista->setRootIsDecorated(false);
    vista->setUniformRowHeights(true);
    vista->setAlternatingRowColors(true);
    vista->setSelectionMode(QAbstractItemView::SingleSelection);
    vista->header()->setStretchLastSection(false);
    vista->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    vista->header()->setSectionResizeMode(ancha, QHeaderView::Stretch);
    return vista;
}

// A time of today as hours only, an older one with its date.
QString Hora(const QDateTime& momento) {
    if (!momento.isValid()) {
        return QString();
    }
    return momento.date() == Reloj::Ahora().date() ? momento.toString(QStringLiteral("HH:mm:ss"))
                                                   : momento.toString(QStringLiteral("dd/MM HH:mm"));
}

// The writer's time stamp as the drivers hand it over: a date-time, or text
// such as "2026-12-05 12:00:00" (SQLite) with or without fractions.
QDateTime FechaHora(const QVariant& valor) {
    if (valor.isNull()) {
        return {};
    }
    if (valor.metaType().id() == QMetaType::QDateTime) {
        return valor.toDateTime();
    }
    const QString texto = valor.toString().trimmed();
    QDateTime momento = QDateTime::fromString(texto, Qt::ISODateWithMs);
    if (!momento.isValid()) {
        momento = QDateTime::fromString(texto.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return momento;
}

// Keeps the list where the operator left it while its rows are replaced.
class PosicionVista {
public:
    explicit PosicionVista(QTreeWidget* vista) : m_vista(vista), m_valor(vista->verticalScrollBar()->value()) {}
    ~PosicionVista() { m_vista->verticalScrollBar()->setValue(m_valor); }

private:
    QTreeWidget* m_vista;
    int m_valor;
};

} // namespace

ctlCola::ctlCola(qint16 numeroTerminal, QWidget* padre) : QWidget(padre), m_numeroTerminal(numeroTerminal) {
    // The jobs the tick would serve (the same routing: the job's printer is
    // redirected to a non-cheque printer of this terminal), released or not.
    m_consulta = QStringLiteral("SELECT col.IdTrabajo, col.Tipo, col.Usuario, col.FechaHora, col.Escribiendo,"
                                " imp.Nombre_Impresora, imp.Id_Impresora, srv.Id_Impresora AS IdServidora,"
                                " srv.Nombre_Impresora AS Servidora,"
                                " (SELECT COUNT(*) FROM DetalleColaImpresion det WHERE det.IdTrabajo = col.IdTrabajo)"
                                " AS Renglones"
                                " FROM ColaImpresion col, Impresora imp, Impresora srv"
                                " WHERE col.id_impresora = imp.Id_Impresora AND srv.Id_Impresora = imp.Redirigido"
                                " AND srv.ID_Terminal = ? AND srv.esdecheques = 0 ORDER BY col.IdTrabajo");

    m_estado = new QLabel(this);
    m_estado->setTextFormat(Qt::PlainText);
    m_tituloPendientes = new QLabel(this);
    m_vistaPendientes = NuevaVista({QStringLiteral("Trabajo"), QStringLiteral("Impresora"), QStringLiteral("Tipo"),
                                    QStringLiteral("Usuario"), QStringLiteral("Hora"), QStringLiteral("Renglones"),
                                    QStringLiteral("Estado")},
                                   1, this);
    m_tituloImpresos = new QLabel(this);
    m_vistaImpresos = NuevaVista({QStringLiteral("Impreso"), QStringLiteral("Trabajo"), QStringLiteral("Impresora"),
                                  QStringLiteral("Tipo"), QStringLiteral("Usuario"), QStringLiteral("Renglones")},
                                 2, this);

    auto* capas = new QVBoxLayout(this);
    capas->setContentsMargins(0, 0, 0, 0);
    capas->addWidget(m_estado);
    capas->addWidget(m_tituloPendientes);
    capas->addWidget(m_vistaPendientes, 3);
    capas->addWidget(m_tituloImpresos);
    capas->addWidget(m_vistaImpresos, 2);
    DibujarPendientes();
    DibujarImpresos();
}

bool ctlCola::EnPantalla() const {
    return isVisible() && !window()->isMinimized();
}

void ctlCola::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    DibujarImpresos(); // what was printed while the window was away
    Actualizar();
}

void ctlCola::Actualizar() {
    if (!EnPantalla() || !Conexion::Instancia().Abierta()) {
        return;
    }
    QVector<TrabajoPendiente> trabajos;
    bool nombresNuevos = false;
    try {
        ++m_consultas;
        const std::unique_ptr<Recordset> filas =
            Conexion::Instancia().Consultar(m_consulta, {qint64(m_numeroTerminal)});
        for (; !filas->Fin(); filas->MoveNext()) {
            TrabajoPendiente t;
            t.idTrabajo = filas->Campo(QStringLiteral("IdTrabajo")).toLongLong();
            t.impresora = filas->Texto(QStringLiteral("Nombre_Impresora"));
            t.idServidora = filas->Campo(QStringLiteral("IdServidora")).toLongLong();
            m_nombres.insert(t.idServidora, filas->Texto(QStringLiteral("Servidora")));
            if (filas->Campo(QStringLiteral("Id_Impresora")).toLongLong() != t.idServidora) {
                t.servidaPor = filas->Texto(QStringLiteral("Servidora"));
            }
            t.tipo = filas->Texto(QStringLiteral("Tipo"));
            t.usuario = filas->Texto(QStringLiteral("Usuario"));
            t.fechaHora = FechaHora(filas->Campo(QStringLiteral("FechaHora")));
            t.renglones = filas->Campo(QStringLiteral("Renglones")).toInt();
            t.liberado = filas->Campo(QStringLiteral("Escribiendo")).toLongLong() == 0;
            trabajos << t;
        }
        // Names of the printers that printed while the window was away.
        const bool faltanNombres = std::any_of(m_impresos.cbegin(), m_impresos.cend(), [this](const TrabajoImpreso& t) {
            return !m_nombres.contains(t.idImpresora);
        });
        if (faltanNombres) {
            nombresNuevos = true;
            ++m_consultas;
            const std::unique_ptr<Recordset> impresoras = Conexion::Instancia().Consultar(
                QStringLiteral("SELECT Id_Impresora, Nombre_Impresora FROM Impresora WHERE ID_Terminal = ?"),
                {qint64(m_numeroTerminal)});
            for (; !impresoras->Fin(); impresoras->MoveNext()) {
                m_nombres.insert(impresoras->Campo(0).toLongLong(),
                                 impresoras->Texto(QStringLiteral("Nombre_Impresora")));
            }
            for (const TrabajoImpreso& t : m_impresos) {
                m_nombres.insert(t.idImpresora, m_nombres.value(t.idImpresora)); // asked once only
            }
        }
        m_ultimoError.clear();
    } catch (const ErrorEjecucion& e) {
        // The tick reports database failures itself; the display says so and
        // logs each new failure once, not every two seconds.
        if (e.Descripcion() != m_ultimoError) {
            m_ultimoError = e.Descripcion();
            Registrar(QStringLiteral("Cola Impresion, no se pudo leer la cola: ") + m_ultimoError);
        }
        m_tituloPendientes->setText(QStringLiteral("No se pudo leer la cola: ") + m_ultimoError);
        return;
    }
    MostrarPendientes(trabajos);
    if (nombresNuevos || m_impresosAtrasados) {
        DibujarImpresos();
    }
}

void ctlCola::MostrarPendientes(const QVector<TrabajoPendiente>& trabajos) {
    m_pendientes = trabajos;
    for (const TrabajoPendiente& t : trabajos) {
        m_nombres.insert(t.idServidora, t.servidaPor.isEmpty() ? t.impresora : t.servidaPor);
    }
    DibujarPendientes();
}

void ctlCola::DibujarPendientes() {
    int listos = 0;
    const PosicionVista posicion(m_vistaPendientes);
    m_vistaPendientes->clear();
    QList<QTreeWidgetItem*> filas;
    for (const TrabajoPendiente& t : m_pendientes) {
        listos += t.liberado ? 1 : 0;
        const QString impresora =
            t.servidaPor.isEmpty() ? t.impresora : t.impresora + QStringLiteral(" \u2192 ") + t.servidaPor;
        auto* fila = new QTreeWidgetItem({QString::number(t.idTrabajo), impresora, t.tipo, t.usuario, Hora(t.fechaHora),
                                          QString::number(t.renglones),
                                          t.liberado ? QStringLiteral("Listo") : QStringLiteral("Escribiendose")});
        fila->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        fila->setTextAlignment(5, Qt::AlignRight | Qt::AlignVCenter);
        if (!t.liberado) {
            fila->setForeground(6, QColor(150, 90, 0));
        }
        filas << fila;
    }
    m_vistaPendientes->addTopLevelItems(filas);
    m_tituloPendientes->setText(
        QStringLiteral("En cola: %1 trabajos (%2 listos para imprimir)").arg(m_pendientes.size()).arg(listos));
}

void ctlCola::AgregarImpreso(qint64 idTrabajo, qint64 idImpresora, const QString& puerto, const QString& tipo,
                             const QString& usuario, int renglones) {
    m_impresos.append({Reloj::Ahora(), idTrabajo, idImpresora, puerto, tipo, usuario, renglones});
    if (m_impresos.size() > kMaxImpresos) {
        m_impresos.remove(0, m_impresos.size() - kMaxImpresos);
    }
    if (!EnPantalla()) {
        m_impresosAtrasados = true; // drawn when the window is next on screen
    } else if (!m_impresosAtrasados) {
        // One row more on top, not the whole list again: a rush prints many
        // jobs in one tick.
        m_vistaImpresos->insertTopLevelItem(0, FilaImpreso(m_impresos.last()));
        while (m_vistaImpresos->topLevelItemCount() > m_impresos.size()) {
            delete m_vistaImpresos->takeTopLevelItem(m_vistaImpresos->topLevelItemCount() - 1);
        }
        m_tituloImpresos->setText(QStringLiteral("Impresos desde el inicio: %1").arg(m_impresos.size()));
    }
}

void ctlCola::Purgar() {
    m_impresos.clear();
    DibujarImpresos();
}

QString ctlCola::NombreImpresora(qint64 id, const QString& puerto) const {
    const QString nombre = m_nombres.value(id);
    return nombre.isEmpty() ? puerto : nombre + QStringLiteral(" (") + puerto + u')';
}

QTreeWidgetItem* ctlCola::FilaImpreso(const TrabajoImpreso& t) const {
    auto* fila =
        new QTreeWidgetItem({Hora(t.hora), QString::number(t.idTrabajo), NombreImpresora(t.idImpresora, t.puerto),
                             t.tipo, t.usuario, QString::number(t.renglones)});
    fila->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    fila->setTextAlignment(5, Qt::AlignRight | Qt::AlignVCenter);
    return fila;
}

void ctlCola::DibujarImpresos() {
    m_impresosAtrasados = false;
    const PosicionVista posicion(m_vistaImpresos);
    m_vistaImpresos->clear();
    QList<QTreeWidgetItem*> filas;
    for (auto t = m_impresos.crbegin(); t != m_impresos.crend(); ++t) {
        filas << FilaImpreso(*t);
    }
    m_vistaImpresos->addTopLevelItems(filas);
    m_tituloImpresos->setText(QStringLiteral("Impresos desde el inicio: %1").arg(m_impresos.size()));
}

void ctlCola::EstablecerEstado(const QString& estado, bool activo) {
    m_estado->setText(estado);
    QFont letra = m_estado->font();
    letra.setBold(true);
    m_estado->setFont(letra);
    QPalette paleta = m_estado->palette();
    paleta.setColor(QPalette::WindowText, activo ? QColor(0, 110, 30) : QColor(170, 30, 30));
    m_estado->setPalette(paleta);
}
