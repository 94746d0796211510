#pragma once

class QWidget;

// The main window of window mode (the server window). The GUI registers it
// once it exists; until then VentanaPrincipal() is null.
void RegistrarVentanaPrincipal(QWidget* ventana);
QWidget* VentanaPrincipal();

// Brings the main window back (shown, not modal) and then asks the given form
// to unload; the form may refuse. Errors on the way are ignored: a missing
// main window or form is simply skipped.
void VolverAlServidor(QWidget* PfForma);
