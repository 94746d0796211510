#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class ctlImpresora;

// The printer configuration form: for each printer port it keeps the
// printer's command mode, serial line settings and print features in the
// settings store (application "orlan", section = the printer name as chosen
// in selectimpresora) and prints a test page through the server window's
// printer control.
//
// Keys written by "Guardar Cambios", in this order: "Modo" (first character
// of the mode text), "Tipo" (fourth character of the printer name),
// "Settings" (speed, first character of the parity text, data bits and stop
// bits joined by ","), then "negrita", "extendido", "subrayado", "invertido",
// "caja", "corte" and "logotipo" ("1" ticked, "0" clear). The printer
// control reads "Modo" and "Settings" when it opens the port; the feature
// keys are read back only here, and "logotipo" not even here.
//
// The form is modeless: the server keeps polling while it is open, and both
// print through the same control `pr2`, which must outlive the form. "Salir"
// closes it; the caller decides whether closing deletes it
// (Qt::WA_DeleteOnClose).
class frmConfigPrinters : public QDialog {
public:
    explicit frmConfigPrinters(ctlImpresora& pr2, QWidget* parent = nullptr);

    // Fills the mode, the serial lists and the six feature boxes from the
    // stored settings of `impresora`; the logo box keeps its state. Runs when
    // the form opens (with "COM1"), after a save and before a test page.
    //
    // "Settings" is split at fixed positions, and only when it is longer than
    // six characters: stop bits, data bits and parity are the last, third
    // last and fifth last characters, the speed is all but the last six. That
    // assumes one-character fields: "9600,N,8,1.5" shows stop bits "5", data
    // bits "1", parity "8" and speed "9600,N". A feature value that is not a
    // whole number of 16 bits throws ErrorEjecucion (type mismatch, or
    // overflow when too large) naming the port, the key and the value, with
    // the boxes before it loaded; the form opening shows that error in its
    // registry error box.
    void CargarConfiguracion(const QString& impresora);

    // "Guardar Cambios": stores the keys, reopens the printer through
    // pr2.InicializarPuerto (unless a job is printing through pr2, whose own
    // next opening takes the keys) and reloads the form. A write that the settings
    // store refuses, or a printer name the control cannot take, shows the
    // platform's message box "Se ha presentado un error de registro:" with the
    // description, titled "Error"; keys stored before the failure stay stored.
    void btn_guardar_Click();

    // "Prueba de Impresion": opens the printer, reloads its stored settings
    // and prints its name, the driver identification, a "Normal" line and one
    // line for each ticked feature (logo, bold, expanded, underline,
    // inverted), then cuts if the paper-cut box is ticked. The cash-drawer box
    // is not used. While a job prints through pr2 the page is refused with an
    // information box "Se esta imprimiendo un trabajo. ...". A printer name the control cannot take shows the
    // platform's message box "Se ha presentado un error de impresion:" with the description, titled "Error".
    void btn_test_Click();

    // "Salir".
    void Command1_Click();

    // The controls, named as the form names them.
    QComboBox* selectimpresora = nullptr;
    QComboBox* selectmodo = nullptr;
    QComboBox* selectbps = nullptr;
    QComboBox* selectpar = nullptr;
    QComboBox* selectbitsd = nullptr;
    QComboBox* selectbitsp = nullptr;
    QLabel* Label1 = nullptr;    // "Velocidad"
    QLabel* Label2 = nullptr;    // "Paridad"
    QLabel* Label3 = nullptr;    // "Bits de datos"
    QLabel* Label4 = nullptr;    // "Bits de parada"
    QGroupBox* Frame1 = nullptr; // "Caracteristicas"
    QCheckBox* ch_Negrita = nullptr;
    QCheckBox* ch_Subrayado = nullptr;
    QCheckBox* Ch_Extendido = nullptr;
    QCheckBox* Ch_Invertido = nullptr;
    QCheckBox* Ch_Caja = nullptr;
    QCheckBox* Ch_Corte = nullptr;
    QCheckBox* Ch_Logo = nullptr;
    QGroupBox* Frame2 = nullptr; // the logo
    QLabel* Image1 = nullptr;    // the printer control's logo, dot for dot
    QPushButton* btn_guardar = nullptr;
    QPushButton* btn_test = nullptr;
    QPushButton* Command1 = nullptr;

    // Closing (the window's button, Escape, "Salir") ends here; refused while
    // a save or a test page runs.
    void reject() override;

private:
    // While a save or a test page runs, the parallel port's wait lets other
    // window events through: the buttons are disabled and closing is refused
    // until it ends, so that the form neither nests its own actions nor goes
    // away under them.
    class Ocupado;

    ctlImpresora& m_pr2;
    bool m_ocupado = false;
};
