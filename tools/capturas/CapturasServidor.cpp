#include "Capturas.h"
#include "config/IconoConfiguracion.h"
#include "platform/Reloj.h"
#include "server/gui/Server.h"

#include <QLabel>
#include <QPainter>

// The server window with a queue in it, and the tray icon's menu as the
// operator sees it after the load step.

namespace {

// The picture's clock stands still at a lunchtime, so that the drawing is the
// same on every run; the window reads it again when it is shown.
const QDateTime kAhora(QDate(2026, 12, 5), QTime(13, 42, 10));

QDateTime Hace(int segundos) {
    return kAhora.addSecs(-segundos);
}

std::unique_ptr<QWidget> VentanaConCola() {
    Reloj::Establecer([] { return kAhora; });
    auto ventana = std::make_unique<Server>(1);
    ventana->Timer1().stop();
    ventana->Cola->EstablecerEstado(QStringLiteral("Sirviendo la cola de impresion"), true);
    ventana->Cola->MostrarPendientes({
        {1041, "Caja", "", 1, "R", "caja1", Hace(3), 27, true},
        {1042, "Cocina", "", 2, "C", "mesero3", Hace(2), 31, true},
        {1043, "Barra", "Caja", 1, "C", "barra", Hace(2), 6, true},
        {1044, "Cocina", "", 2, "C", "mesero1", Hace(1), 12, false},
        {1045, "Caja", "", 1, "R", "caja2", Hace(0), 4, false},
    });
    const struct {
        int hace;
        qint64 id;
        qint64 impresora;
        const char* puerto;
        const char* tipo;
        const char* usuario;
        int renglones;
    } impresos[] = {
        {95, 1035, 1, "LPT1", "R", "caja1", 24}, {81, 1036, 2, "COM1", "C", "mesero2", 18},
        {64, 1037, 1, "LPT1", "R", "caja2", 1},  {40, 1038, 2, "COM1", "C", "mesero3", 22},
        {22, 1039, 1, "LPT1", "R", "caja1", 29}, {9, 1040, 2, "COM1", "C", "mesero1", 15},
    };
    for (const auto& i : impresos) {
        const QDateTime momento = Hace(i.hace);
        Reloj::Establecer([momento] { return momento; });
        ventana->Cola->AgregarImpreso(i.id, i.impresora, i.puerto, i.tipo, i.usuario, i.renglones);
    }
    Reloj::Establecer([] { return kAhora; });
    return ventana;
}

// The notification area with the icon, and the menu popped up under it.
std::unique_ptr<QWidget> MenuBandeja() {
    QPixmap menu;
    {
        Server ventana(1);
        ventana.Timer1().stop();
        ventana.mnuTrayIniciar->setEnabled(false); // as the load step leaves it
        ventana.mnuTray->adjustSize();
        ventana.mnuTray->setActiveAction(ventana.mnuTrayDetener);
        menu = ventana.mnuTray->grab();
    }
    const int alto = 32;
    const int ancho = std::max(menu.width() + 120, 260);
    QPixmap imagen(ancho, alto + menu.height() + 24);
    imagen.fill(QColor(236, 239, 243));
    QPainter p(&imagen);
    p.fillRect(0, 0, ancho, alto, QColor(214, 214, 214));
    p.setPen(QColor(150, 150, 150));
    p.drawLine(0, alto - 1, ancho, alto - 1);
    const int xIcono = ancho - 40;
    p.drawPixmap(xIcono, 5, IconoConfiguracion().pixmap(22, 22));
    p.drawPixmap(xIcono + 11 - menu.width(), alto, menu);
    p.end();
    auto etiqueta = std::make_unique<QLabel>();
    etiqueta->setPixmap(imagen);
    etiqueta->setFixedSize(imagen.size());
    return etiqueta;
}

// As "Restaurar" shows it on a till's 1024 × 768 screen: maximised, with
// printing stopped until "Reanudar" or the close box.
std::unique_ptr<QWidget> VentanaRestaurada() {
    std::unique_ptr<QWidget> ventana = VentanaConCola();
    auto* servidor = static_cast<Server*>(ventana.get());
    servidor->Cola->EstablecerEstado(QStringLiteral("Servicio detenido: no se imprime nada"), false);
    servidor->setWindowState(Qt::WindowMaximized);
    return ventana;
}

const bool registradas = RegistrarCaptura({QStringLiteral("servidor.png"), VentanaConCola}) &&
                         RegistrarCaptura({QStringLiteral("servidor-1024x768.png"), VentanaRestaurada, {1024, 768}}) &&
                         RegistrarCaptura({QStringLiteral("menu-bandeja.png"), MenuBandeja});

} // namespace
