#include "Capturas.h"
#include "dialogs/Fuentes.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <vector>

namespace {
std::vector<Captura>& Registro() {
    static std::vector<Captura> capturas;
    return capturas;
}
} // namespace

bool RegistrarCaptura(Captura captura) {
    Registro().push_back(std::move(captura));
    return true;
}

// orlan-capturas DIRECTORY [NAME...]: draws every registered window of this
// screen's size (or only the named files) into DIRECTORY and prints each
// file's path.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SustituirFuentes();
    const QStringList argumentos = app.arguments().mid(1);
    if (argumentos.isEmpty()) {
        std::fprintf(stderr, "uso: orlan-capturas DIRECTORIO [ARCHIVO.png...]\n");
        return 1;
    }
    const QDir destino(argumentos.first());
    if (!QDir().mkpath(destino.path())) {
        std::fprintf(stderr, "orlan-capturas: no se pudo crear %s\n", qPrintable(destino.path()));
        return 1;
    }
    const QStringList elegidas = argumentos.mid(1);
    const QSize pantalla = QGuiApplication::primaryScreen()->size();
    int fallas = 0;
    for (const Captura& captura : Registro()) {
        if ((!elegidas.isEmpty() && !elegidas.contains(captura.archivo)) || captura.pantalla != pantalla) {
            continue;
        }
        std::unique_ptr<QWidget> ventana = captura.crear();
        ventana->show();
        QEventLoop espera; // lets the window lay itself out and paint
        QTimer::singleShot(50, &espera, &QEventLoop::quit);
        espera.exec();
        const QString ruta = destino.filePath(captura.archivo);
        if (ventana->grab().save(ruta)) {
            std::printf("%s\n", qPrintable(ruta));
        } else {
            std::fprintf(stderr, "orlan-capturas: no se pudo escribir %s\n", qPrintable(ruta));
            ++fallas;
        }
    }
    return fallas ? 1 : 0;
}
