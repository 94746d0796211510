#include "Figura.h"
#include "platform/Ajustes.h"
#include "testsupport/EntornoPrueba.h"

#include <QSettings>
#include <algorithm>
#include <chrono>
#include <functional>

// The first read after the settings file changed parses the whole file. One
// section of many keys is the hardest case for a store that looks keys up one
// by one. QSettings reading the same file in its INI format is the reference.
namespace {

constexpr int kRondas = 5;

double Milisegundos(const std::function<void()>& trabajo) {
    const auto inicio = std::chrono::steady_clock::now();
    trabajo();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - inicio).count();
}

QByteArray Archivo(int claves) {
    QByteArray texto = "[Configuracion]\nTerminal=3\n[Muchas]\n";
    for (int i = 0; i < claves; ++i) {
        texto += "Clave" + QByteArray::number(i) + '=' + QByteArray::number(i * 7) + '\n';
    }
    return texto;
}

} // namespace

int main() {
    for (int claves : {10000, 40000}) {
        EntornoPrueba entorno;
        const QString ruta = Ajustes::RutaArchivo("ORLAN");
        const QByteArray contenido = Archivo(claves);
        const QString ultima = QStringLiteral("Clave%1").arg(claves - 1);
        double nuestro = 1e100, suyo = 1e100;
        for (int i = 0; i < kRondas; ++i) {
            entorno.Escribir(ruta, contenido); // a new version: the next read parses it
            nuestro = std::min(nuestro, Milisegundos([&] { Ajustes::Leer("ORLAN", "Muchas", ultima); }));
            suyo = std::min(suyo, Milisegundos([&] {
                                QSettings ajustes(ruta, QSettings::IniFormat);
                                ajustes.value(QStringLiteral("Muchas/") + ultima);
                            }));
        }
        ImprimirFigura("first read, " + std::to_string(claves) + " keys in one section", nuestro, "ms",
                       "QSettings IniFormat", suyo, "ms", MenosEsMejor::Si);
    }
    return 0;
}
