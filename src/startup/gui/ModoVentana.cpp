#include "startup/gui/ModoVentana.h"

#include "dialogs/Fuentes.h"
#include "dialogs/frmMsg.h"
#include "platform/ProcesoHijo.h"
#include "startup/Arranque.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

bool PantallaDisponible(int argc, char** argv, QString* motivo) {
    const QString plataforma = qEnvironmentVariable("QT_QPA_PLATFORM");
    const QString x11 = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (plataforma.isEmpty() && x11.isEmpty() && wayland.isEmpty()) {
        *motivo = QStringLiteral("no hay pantalla (DISPLAY, WAYLAND_DISPLAY y QT_QPA_PLATFORM estan vacias)");
        return false;
    }
    const bool abre = ProcesoHijo::Probar([argc, argv] {
        int argumentos = argc;
        QGuiApplication prueba(argumentos, argv);
    });
    if (!abre) {
        QStringList variables;
        for (const auto& [nombre, valor] :
             {std::pair{"DISPLAY", x11}, {"WAYLAND_DISPLAY", wayland}, {"QT_QPA_PLATFORM", plataforma}}) {
            if (!valor.isEmpty()) {
                variables << QString::fromLatin1(nombre) + u'=' + valor;
            }
        }
        *motivo = QStringLiteral("no se pudo abrir la pantalla (") + variables.join(QStringLiteral(", ")) + u')';
    }
    return abre;
}

int MostrarCajaEstandar(const CajaMensajes::Mensaje& mensaje) {
    QMessageBox caja;
    caja.setWindowTitle(mensaje.titulo.isEmpty() ? QCoreApplication::applicationName() : mensaje.titulo);
    caja.setText(mensaje.texto);
    switch (mensaje.icono) {
    case CajaMensajes::Icono::Ninguno:
        break;
    case CajaMensajes::Icono::Error:
        caja.setIcon(QMessageBox::Critical);
        break;
    case CajaMensajes::Icono::Advertencia:
        caja.setIcon(QMessageBox::Warning);
        break;
    case CajaMensajes::Icono::Informacion:
        caja.setIcon(QMessageBox::Information);
        break;
    case CajaMensajes::Icono::Pregunta:
        caja.setIcon(QMessageBox::Question);
        break;
    }
    QPushButton* aceptar = nullptr;
    QPushButton* si = nullptr;
    if ((mensaje.botones & 7) == 4) {
        si = caja.addButton(QStringLiteral("Si"), QMessageBox::YesRole);
        caja.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    } else {
        aceptar = caja.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    }
    caja.exec();
    if (aceptar) {
        return 1;
    }
    return caja.clickedButton() == si ? 6 : 7;
}

void PrepararModoVentana() {
    SustituirFuentes();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    EstablecerPresentadorMensaje(&frmMsg::Mostrar);
    CajaMensajes::EstablecerPresentador(&MostrarCajaEstandar);
}
