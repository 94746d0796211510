// The settings file parser: any file is read without harm; writing one value
// and parsing the written file again gives that value for its key and the
// same value as before for every other key. Input: the file, then NUL, the
// section, NUL, the key, NUL, the value.

#include "EntornoFuzz.h"
#include "Partes.h"

#include "platform/Ajustes.h"

#include <QFile>
#include <QSet>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace {

QString Plegado(const QString& nombre) {
    return nombre.trimmed().toCaseFolded();
}

// Section and key names that the file seems to hold, and the written ones.
QList<std::pair<QString, QString>> Pares(const QByteArray& archivo, const QString& seccion, const QString& clave) {
    QStringList secciones{seccion};
    QStringList claves{clave};
    for (const QByteArray& cruda : archivo.split('\n')) {
        const QString linea = QString::fromUtf8(cruda).trimmed();
        if (linea.startsWith(u'[') && linea.endsWith(u']') && linea.size() >= 2) {
            secciones << linea.mid(1, linea.size() - 2);
        } else if (const qsizetype igual = linea.indexOf(u'='); igual > 0) {
            claves << linea.left(igual);
        }
    }
    QList<std::pair<QString, QString>> pares;
    for (const QString& s : secciones.mid(0, 12)) {
        for (const QString& c : claves.mid(0, 12)) {
            pares.append({s, c});
        }
    }
    return pares;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    const QString raiz = PrepararEntornoFuzz();
    static bool silencio = (Ajustes::EstablecerAvisos([](const QString&) {}), true);
    (void)silencio;
    const QList<QByteArray> partes = Partes(datos, largo, 4);
    const QString seccion = QString::fromUtf8(partes[1]);
    const QString clave = QString::fromUtf8(partes[2]);
    const QString valor = QString::fromUtf8(partes[3]);
    const QString ausente = QStringLiteral("\x01(ausente)");

    const QString original = Ajustes::RutaArchivo(QStringLiteral("orlan"));
    ReemplazarArchivo(original, partes[0]);
    const auto pares = Pares(partes[0], seccion, clave);
    QList<QString> antes;
    for (const auto& [s, c] : pares) {
        antes.append(Ajustes::Leer(QStringLiteral("orlan"), s, c, ausente));
    }

    const bool guardado = Ajustes::Guardar(QStringLiteral("orlan"), seccion, clave, valor);
    if (guardado != (Ajustes::NombreValido(seccion) && Ajustes::NombreValido(clave))) {
        std::abort();
    }

    // The written file parsed afresh under another name, and the store's own
    // idea of it.
    QFile escrito(original);
    if (!escrito.open(QIODevice::ReadOnly)) {
        std::abort();
    }
    ReemplazarArchivo(Ajustes::RutaArchivo(QStringLiteral("copia")), escrito.readAll());
    for (qsizetype i = 0; i < pares.size(); ++i) {
        const auto& [s, c] = pares[i];
        const bool escrita = guardado && Plegado(s) == Plegado(seccion) && Plegado(c) == Plegado(clave);
        const QString esperado = escrita ? valor : antes[i];
        if (Ajustes::Leer(QStringLiteral("copia"), s, c, ausente) != esperado ||
            Ajustes::Leer(QStringLiteral("orlan"), s, c, ausente) != esperado) {
            std::abort();
        }
    }
    return 0;
}
