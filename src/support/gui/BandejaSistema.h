#pragma once

#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>
#include <optional>

class QWidget;

// The server's icon in the desktop's notification area. A right-button press
// on the icon (Qt's Context activation) calls the hooked window's public slot
// SysTrayMouseEventHandler, by name; every other click on the icon does
// nothing. The hook and the icon are process-wide and live until the process
// ends: nothing removes the icon, the desktop drops it with the process.

// Hooks the window: from now on ProcVentana routes the icon's right-button
// presses to it. A second call while the hooked window exists changes nothing.
void Enganchar(QWidget* ventana);

// What the icon's activation does: a Context activation (right button) calls
// the hooked window's SysTrayMouseEventHandler and returns -1; anything else,
// or no hooked window, returns 0 and does nothing.
int ProcVentana(QSystemTrayIcon::ActivationReason motivo);

// Puts the icon with its tip into the notification area, its activations
// going to ProcVentana. Only one icon exists: a second call while the first
// icon's window lives is ignored, as the desktop refuses a duplicate.
void AgregarIconoBandeja(QWidget* ventana, qint64 identificador, const QIcon& icono, const QString& tip);

// Whether the desktop has a notification area to show the icon in. Tests
// (which run without one) may force the answer; std::nullopt asks the desktop.
bool BandejaDisponible();
void EstablecerBandejaDisponible(std::optional<bool> disponible);

// For tests and pictures: the hooked window and the icon, null when none.
QWidget* VentanaEnganchada();
QSystemTrayIcon* IconoBandeja();
