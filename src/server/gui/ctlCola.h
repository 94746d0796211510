#pragma once

#include <QDateTime>
#include <QHash>
#include <QLabel>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

// A pending job of this terminal as the queue display shows it.
struct TrabajoPendiente {
    qint64 idTrabajo = 0;
    QString impresora;      // the printer the job was written for
    QString servidaPor;     // the printer serving it when redirected to another; empty otherwise
    qint64 idServidora = 0; // the printer serving it
    QString tipo;
    QString usuario;
    QDateTime fechaHora; // invalid when the writer left none
    int renglones = 0;
    bool liberado = false; // the writer has finished it (Escribiendo = 0)
};

// A job the tick printed since the server started.
struct TrabajoImpreso {
    QDateTime hora;
    qint64 idTrabajo = 0;
    qint64 idImpresora = 0;
    QString puerto;
    QString tipo;
    QString usuario;
    int renglones = 0;
};

// The server window's queue display `Cola`: the jobs waiting for the printers
// this terminal serves (released by their writer or still being written) and
// the jobs printed since start, newest first, each with its time.
//
// It reads the database only while the window is on screen (shown and not
// minimised): Actualizar, called on every timer tick, then runs one query for
// the pending jobs. What was printed reaches it from the tick itself
// (AgregarImpreso), so a hidden window costs the tick nothing.
class ctlCola : public QWidget {
    Q_OBJECT
public:
    explicit ctlCola(qint16 numeroTerminal, QWidget* padre = nullptr);

    // Queries the pending jobs and redraws, when the window is on screen and
    // the connection is open.
    void Actualizar();
    // Empties the list of printed jobs shown. Queued jobs are not touched.
    void Purgar();

    // A job the tick has just printed. The list keeps the newest kMaxImpresos.
    void AgregarImpreso(qint64 idTrabajo, qint64 idImpresora, const QString& puerto, const QString& tipo,
                        const QString& usuario, int renglones);
    // Shows these pending jobs (what Actualizar does with its query's rows).
    void MostrarPendientes(const QVector<TrabajoPendiente>& trabajos);

    // The service state shown above the lists ("Sirviendo la cola", "Detenido").
    void EstablecerEstado(const QString& estado, bool activo);

    const QVector<TrabajoPendiente>& Pendientes() const { return m_pendientes; }
    const QVector<TrabajoImpreso>& Impresos() const { return m_impresos; }
    // Queries run so far; a hidden window runs none.
    int Consultas() const { return m_consultas; }

    static constexpr int kMaxImpresos = 1000;

protected:
    void showEvent(QShowEvent* evento) override;

private:
    bool EnPantalla() const;
    void DibujarPendientes();
    void DibujarImpresos();
    QTreeWidgetItem* FilaImpreso(const TrabajoImpreso& trabajo) const;
    QString NombreImpresora(qint64 id, const QString& puerto) const;

    qint16 m_numeroTerminal;
    QString m_consulta;
    QLabel* m_estado;
    QLabel* m_tituloPendientes;
    QTreeWidget* m_vistaPendientes;
    QLabel* m_tituloImpresos;
    QTreeWidget* m_vistaImpresos;
    QVector<TrabajoPendiente> m_pendientes;
    QVector<TrabajoImpreso> m_impresos; // oldest first
    QHash<qint64, QString> m_nombres;   // printer names seen in the pending jobs
    QString m_ultimoError;
    bool m_impresosAtrasados = false; // the printed list changed while off screen
    int m_consultas = 0;
};
