#include "startup/gui/ArranqueVentana.h"

#include "platform/CajaMensajes.h"
#include "server/gui/Server.h"
#include "startup/Arranque.h"
#include "startup/Estado.h"
#include "startup/gui/VolverAlServidor.h"

#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

namespace {

void SinPantalla(const QByteArray& detalle) {
    std::fprintf(stderr,
                 "orlan-cola: no hay pantalla donde mostrar la ventana del servidor (%s).\n"
                 "orlan-cola: para servir la cola sin ventana use: orlan-cola --servicio\n",
                 detalle.constData());
    std::fflush(stderr);
    std::_Exit(kSalidaPantalla);
}

QtMessageHandler manejadorAnterior = nullptr;

// Qt ends the program with a fatal message when its display cannot be
// reached; the operator gets this program's own explanation instead.
void ManejadorArranque(QtMsgType tipo, const QMessageLogContext& contexto, const QString& texto) {
    if (tipo == QtFatalMsg) {
        SinPantalla("DISPLAY=" + qgetenv("DISPLAY") + " no responde");
    }
    if (manejadorAnterior) {
        manejadorAnterior(tipo, contexto, texto);
    }
}

int Preguntar(const QString& texto, const QString& titulo, int botones, QMessageBox::Icon icono) {
    QMessageBox caja(icono, titulo, texto, QMessageBox::NoButton);
    QPushButton* si = nullptr;
    QPushButton* no = nullptr;
    if ((botones & 3) == 3 || (botones & 4) == 4) {
        si = caja.addButton(QStringLiteral("Si"), QMessageBox::YesRole);
        no = caja.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    } else {
        caja.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    }
    caja.exec();
    if (si && caja.clickedButton() == si) {
        return 6;
    }
    if (no && caja.clickedButton() == no) {
        return 7;
    }
    return 1;
}

} // namespace

std::unique_ptr<QApplication> CrearAplicacionVentana(int& argc, char** argv) {
    const QByteArray plataforma = qgetenv("QT_QPA_PLATFORM");
    const bool x11 = plataforma.isEmpty() || plataforma.startsWith("xcb");
    if (x11 && qEnvironmentVariableIsEmpty("DISPLAY") &&
        (!plataforma.isEmpty() || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))) {
        SinPantalla("DISPLAY no esta definido");
    }
    manejadorAnterior = qInstallMessageHandler(ManejadorArranque);
    auto aplicacion = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(manejadorAnterior);
    return aplicacion;
}

void InstalarCajasVentana() {
    EstablecerPresentadorMensaje([](const QString& texto, int botones) {
        return static_cast<quint8>(Preguntar(texto, QStringLiteral("Cola de Impresion"), botones, QMessageBox::NoIcon));
    });
    CajaMensajes::EstablecerPresentador([](const CajaMensajes::Mensaje& m) {
        const QMessageBox::Icon icono = m.icono == CajaMensajes::Icono::Error         ? QMessageBox::Critical
                                        : m.icono == CajaMensajes::Icono::Advertencia ? QMessageBox::Warning
                                        : m.icono == CajaMensajes::Icono::Informacion ? QMessageBox::Information
                                        : m.icono == CajaMensajes::Icono::Pregunta    ? QMessageBox::Question
                                                                                      : QMessageBox::NoIcon;
        return Preguntar(m.texto, m.titulo.isEmpty() ? QStringLiteral("orlan-cola") : m.titulo, m.botones, icono);
    });
}

bool MostrarServidor() {
    // Never deleted: the window lives as long as the process.
    auto* ventana = new Server(NumeroTerminal);
    RegistrarVentanaPrincipal(ventana);
    return ventana->Form_Load();
}
