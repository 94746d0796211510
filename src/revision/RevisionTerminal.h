#pragma once

#include <QList>
#include <QMap>
#include <QString>

// The checks of what keeps a terminal from serving its queue, run by the
// server when it starts (its warnings) and by `orlan-admin diagnostico`. Both
// take their verdicts from here and only word them their own way, so that a
// terminal the server warns about is the terminal diagnostico calls broken.
namespace Revision {

enum class Gravedad { Bien, Aviso, Falla };

// One verdict: which check, how bad, about what ("Terminal", "terminal 3",
// "impresora 2") and the facts a text needs (values read, port names, ids).
struct Hallazgo {
    QString comprobacion;
    Gravedad gravedad = Gravedad::Bien;
    QString sujeto;
    QMap<QString, QString> datos;

    QString Dato(const QString& nombre) const { return datos.value(nombre); }
};

// Check names, and the facts each finding carries in `datos`. Every printer's
// finding has id, nombre and puerto; "puerto" adds dispositivo for a COM port
// and sin_puertos when its [Puertos] entry is missing; "respaldo" has cadena
// (Bien) or falta: "ninguno", "no_existe" or "cheques", with actual and respaldo.
inline constexpr char kNumeroTerminal[] = "numero_terminal";       // valor
inline constexpr char kConexion[] = "conexion";                    // causa
inline constexpr char kFilaTerminal[] = "fila_terminal";           // terminal
inline constexpr char kParametroTerminal[] = "parametro_terminal"; // terminal
inline constexpr char kImpresoras[] = "impresoras";                // terminal
inline constexpr char kEstado[] = "estado_impresora";              // estado
inline constexpr char kRedirigida[] = "redirigida";                // redirigido
inline constexpr char kRetenida[] = "retenida";
inline constexpr char kModo[] = "modo"; // modo_fila, modo_puerto
inline constexpr char kPuerto[] = "puerto";
inline constexpr char kRespaldo[] = "respaldo";
inline constexpr char kFilaNoValida[] = "fila_no_valida"; // tabla, clave, motivo

// "ORLAN"/"Configuracion"/"Terminal" as the server reads it (trimmed). Falla
// when it is missing, 0, not a number or out of 16 bits: the server stops with
// the installation message. Aviso for a negative number: the server serves
// it, but ID_Terminal of a terminal is 1 to 32767 and its rows are unlikely to
// exist. `numero` gets the number whenever the server would go on (not Falla).
Hallazgo RevisarNumeroTerminal(const QString& valor, qint16* numero);

// Opens the connection (Conectar); Falla with the driver's explanation.
Hallazgo RevisarConexion();

// Terminal `terminal`'s rows, in the order a technician fixes them: its row
// in Terminal, the Parametros row 'TERMINAL', that it has printers; then for
// each printer (not cheque printers), its state (NULL or "D": out of
// service, Falla), whether its jobs go elsewhere or are held (Aviso), a `Modo`
// of the row that differs from the port's section in orlan.ini (Aviso: the
// server prints in the port's), its port ("puerto": Falla for a name the
// server cannot open, Aviso for a COM port without [Puertos] entry, Bien with
// the device otherwise) and its chain of backups ("respaldo"); last, every row
// of the terminal's queue and printers that the server skips because a value
// that would enter a statement is not what it must be ("fila_no_valida", Aviso). The "puerto"
// and "respaldo" findings are there for every printer, Bien included; the
// others only when something is wrong. Throws ErrorEjecucion when the tables
// cannot be read.
QList<Hallazgo> RevisarTerminal(qint16 terminal);

// The technician's text for a finding (diagnostico's wording), with how to fix
// it when it is not Bien.
QString Describir(const Hallazgo& hallazgo);

} // namespace Revision
