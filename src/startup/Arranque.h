#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

// MostrarMensaje lives with the platform's message box and the exit statuses
// with the support layer, where the windows reach them too.
#include "platform/MostrarMensaje.h"
#include "support/SalidaArranque.h"

// The program's start-up: reads the terminal number, opens the database
// connection and serves the queue.

struct OpcionesArranque {
    // Service mode: no window and no tray icon; messages go to standard error.
    // Window mode (false) runs inside a QApplication whose message boxes are
    // already installed.
    bool servicio = false;
    // Window mode: creates the server window and runs its load step, which
    // serves the queue from then on; returns whether the load step completed.
    // Empty: the queue is served without a window.
    std::function<bool()> mostrarVentana;
    // Service mode under a service manager: a start that fails on the settings,
    // the credentials or the database does not end the program; it is tried
    // again after a pause, and at once when the settings or credentials file
    // changes. A connection the database refused for its credentials waits a
    // pause that doubles from primeraPausa up to pausaMaxima, so as not to
    // hammer the server; one that failed otherwise (a database server still
    // down after a power cut) is tried every pausaConexion, and the first
    // job prints seconds after the database is back. The status line
    // (Servicio::Estado) says why it waits.
    bool reintentar = false;
    std::chrono::milliseconds primeraPausa{5000};
    std::chrono::milliseconds pausaMaxima{300000};
    std::chrono::milliseconds pausaConexion{5000};
};

// The start-up steps in order: points the settings' warnings at the event log,
// reads "ORLAN"/"Configuracion"/"Terminal" into NumeroTerminal (missing, 0,
// not a number or out of 16 bits: the installation message and
// kSalidaInstalacion, without touching the database), then Conectar
// (kSalidaConexion when it fails), then loads the terminal's printers and
// serves the queue until SIGTERM or SIGINT. In window mode the server window
// does the loading and serving, and a failed load leaves it on screen instead
// of ending the program. Returns the process's exit status.
//
// In service mode every way of failing to start also writes one line to
// standard error and the event log naming what to fix (the setting and its
// file, the credentials file, ODBCSYSINI, the driver's SQLSTATE and text), and
// a terminal that cannot serve anything is warned about the same way.
// Once the queue is served the service manager is told (Servicio::Listo); with
// `reintentar` it is told too after the first failed attempt, so that starting
// the unit does not wait for a database that may take hours to appear.
int Arrancar(const OpcionesArranque& opciones);

// The pause after `fallos` failed attempts before this one: `primera`, doubled
// for each earlier failure, never longer than `maxima`.
std::chrono::milliseconds PausaReintento(int fallos, std::chrono::milliseconds primera,
                                         std::chrono::milliseconds maxima);

// What keeps terminal `terminal` from serving, each with its fix, worded for
// the event log from the checks diagnostico runs too (Revision::RevisarTerminal):
// no row in Terminal, no 'TERMINAL' row in Parametros (every redirection would
// fail), no printers in Impresora, a printer out of service (state NULL or
// "D"), redirected or held, a row's Modo the port's section contradicts, a
// port the server cannot open or has no [Puertos] entry, a missing or broken
// backup. Empty when all is in place or the tables cannot be read.
QStringList AvisosTerminal(qint16 terminal);
