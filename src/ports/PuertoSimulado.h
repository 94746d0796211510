#pragma once

#include "ports/PuertoES.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

// A parallel port with a receipt printer attached, modelled register by
// register at one base address B (default 0x378):
//
//   B        data: latched on write; read back, except on a bidirectional
//            port (PS/2, EPP, ECP) set to input (control bit 5), where nothing
//            drives the lines and 0xFF is read.
//   B+1      status: the printer's lines (raw: bit 7 high = not busy, bit 5
//            high = paper end, bit 3 low = error). On an EPP port bit 0 is the
//            time-out bit, cleared by writing 1 to it.
//   B+2      control: the low six bits as written; bits 6-7 read 1. A rising
//            raw bit 0 is the strobe: the printer takes the data byte if it is
//            ready (bit 7 high, bit 5 low, bit 3 high), otherwise the byte is
//            lost.
//   B+3      EPP address register (EPP ports only); writing it sets the
//            time-out bit, as no EPP device answers the cycle.
//   B+0x402  ECR (ECP ports only): FIFO empty, not full; bits 2-7 as written.
//
// Anything else, and every register of "no hardware", reads 0xFF and ignores
// writes, as an empty bus does. The port answers the classification probes as
// the chosen kind of port would.
//
// Files (with Opciones::archivos, the default), under the drive root
// <root> = $XDG_DATA_HOME/orlan (default ~/.local/share/orlan):
//
//   <root>/lpt/378.bin     every byte the printer took, appended (B in hex).
//                          Bytes are collected in memory and written when
//                          64 KiB are pending and at every Vaciar(); the output
//                          routines call Vaciar() before they return, so what a
//                          print call sent is in the file, for every reader to
//                          see, when it returns (written, not synced to the
//                          device). The destructor flushes too. The file stays
//                          open between writes and is opened again when it has
//                          been removed or replaced.
//   <root>/lpt/378.estado  when present, the printer's condition: one word,
//                          listo (0xD8), ocupado (0x58), sin-papel (0xF8),
//                          error (0xD0), or a raw status byte "0x..". Read on
//                          the first status read, then again on the first
//                          status read a second or more after the last reading
//                          (time alone decides, however few or many reads
//                          come). Unknown text is ignored; without the file the
//                          condition set through EstablecerEstado applies.
//
// Tests install a port with PuertoSimulado::Instalar and drive it through the
// members below.
class PuertoSimulado final : public PuertoES {
public:
    enum class Tipo { Ecp, Epp, Ps2, Spp, SinHardware };

    // Raw status bytes of the printer's usual conditions.
    static constexpr quint8 kListo = 0xD8;
    static constexpr quint8 kOcupado = 0x58;
    static constexpr quint8 kSinPapel = 0xF8;
    static constexpr quint8 kError = 0xD0;

    struct Opciones {
        quint16 base = 0x378;
        Tipo tipo = Tipo::Spp;
        bool archivos = true; // capture file and condition file under <root>/lpt/
        bool memoria = true;  // keep the captured bytes for Capturado()
    };

    PuertoSimulado();
    explicit PuertoSimulado(const Opciones& opciones);
    ~PuertoSimulado() override;

    // Installs a new simulated port as the port-I/O backend and returns it. It
    // lives until another backend is installed (PuertoES::Establecer).
    static PuertoSimulado& Instalar();
    static PuertoSimulado& Instalar(const Opciones& opciones);

    int read8(quint16 direccion) override;
    bool write8(quint16 direccion, quint8 valor) override;
    QString Error() const override { return QString(); }
    void Vaciar() override;

    quint16 Base() const { return m_base; }
    Tipo TipoPuerto() const { return m_tipo; }
    void EstablecerTipo(Tipo tipo);

    // The printer's raw status lines while no condition file is present.
    void EstablecerEstado(quint8 crudo) { m_estadoFijado = crudo; }
    // The condition in effect (file or EstablecerEstado), without busy spells.
    quint8 Estado();

    // Busy (raw bit 7 low) for the next `lecturas` status reads.
    void OcupadoDurante(int lecturas) { m_ocupadoLecturas = lecturas; }
    // Busy while the clock of platform/Reloj.h is before `hasta`.
    void OcupadoHasta(const QDateTime& hasta);

    // After the printer has taken `bytes` more bytes its condition becomes
    // `crudo` (paper running out in the middle of a job, a printer failing).
    void CambiarEstadoTras(qint64 bytes, quint8 crudo) {
        m_bytesHastaCambio = bytes;
        m_estadoTras = crudo;
    }

    // Bytes the printer took, bytes strobed while it was not ready.
    QByteArray Capturado() const { return m_capturado; }
    QByteArray Perdidos() const { return m_perdidos; }
    void LimpiarCaptura();

    // Status reads and strobes so far.
    qint64 LecturasEstado() const { return m_lecturasEstado; }
    qint64 Estrobos() const { return m_estrobos; }

    // The next status read reads the condition file again, whatever its age.
    void ReleerEstado() { m_releer = true; }

    QString RutaCaptura() const { return m_rutaCaptura; }
    QString RutaEstado() const { return m_rutaEstado; }

private:
    quint8 LeerEstado();
    bool AbrirCaptura();
    quint8 Condicion();
    bool Ocupado(bool consumir);
    void RevisarArchivoEstado();
    void Estrobo();
    bool Bidireccional() const { return m_tipo == Tipo::Ps2 || m_tipo == Tipo::Epp || m_tipo == Tipo::Ecp; }

    quint16 m_base;
    Tipo m_tipo;
    bool m_archivos;
    bool m_memoria;
    QString m_rutaCaptura;
    QString m_rutaEstado;

    quint8 m_datos = 0;
    quint8 m_control = 0;
    quint8 m_direccionEpp = 0;
    quint8 m_ecr = 0x15;
    bool m_tiempoAgotadoEpp = false;

    quint8 m_estadoFijado = kListo;
    std::optional<quint8> m_estadoArchivo;
    bool m_releer = true;         // the next status read reads the file whatever the time
    qint64 m_proximaRevision = 0; // monotonic milliseconds (Reloj::MonotonoGrueso)
    int m_ocupadoLecturas = 0;
    std::optional<QDateTime> m_ocupadoHasta;
    qint64 m_bytesHastaCambio = 0;
    quint8 m_estadoTras = kListo;

    std::unique_ptr<char[]> m_pendiente; // not yet in the capture file
    qsizetype m_usados = 0;
    int m_archivo = -1;
    quint64 m_dispositivo = 0;
    quint64 m_nodo = 0;
    QByteArray m_capturado;
    QByteArray m_perdidos;
    qint64 m_lecturasEstado = 0;
    qint64 m_estrobos = 0;
    bool m_avisado = false;
};
