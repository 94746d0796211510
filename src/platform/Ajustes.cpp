#include "platform/Ajustes.h"

#include "platform/ArchivoRegular.h"
#include "platform/Rutas.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <cstdio>
#include <map>
#include <sys/stat.h>
#include <vector>

namespace {

// One section of the file as it stands on disk: its header line first (the
// lines before the first header form a section of their own, with no header
// and no name), then every line up to the next header. Lines are kept as
// read, without the "\n", so that a write can put back all it does not change.
struct Seccion {
    QString nombre;
    QString plegado;        // the name as the index compares it
    bool accesible = false; // a header with a usable name: its keys can be read
    std::vector<QByteArray> lineas;
    std::size_t ultimaClave = 0; // index of the last key line (0: the header)
};

struct Valor {
    std::size_t seccion;
    std::size_t linea;
    QString valor;
};

// One parsed file, kept until the file on disk changes, so that the many
// reads of a print job do not parse it each time.
struct Archivo {
    std::vector<Seccion> secciones;
    QHash<QString, std::size_t> indiceSecciones; // folded name -> last section so named
    QHash<QString, Valor> indiceClaves;          // folded section "\n" folded key -> last line
    bool retornoDeCarro = false;                 // the file ends its lines in CR LF
    ArchivoRegular::Firma firma;
    bool existe = false;
    bool leido = false;
    QString rechazo; // why a file that exists is not used; empty when it is
};

QString Plegar(const QString& nombre) {
    return nombre.trimmed().toCaseFolded();
}

QString ClaveIndice(const QString& seccion, const QString& clave) {
    return Plegar(seccion) + u'\n' + Plegar(clave);
}

// The same for a section already folded and a key already trimmed.
QString ClaveIndicePlegada(const QString& seccionPlegada, QStringView clave) {
    QString indice;
    indice.reserve(seccionPlegada.size() + 1 + clave.size());
    indice += seccionPlegada;
    indice += u'\n';
    indice += clave.toString().toCaseFolded();
    return indice;
}

std::map<QString, Archivo>& Cache() {
    static std::map<QString, Archivo> cache;
    return cache;
}

std::function<void(const QString&)>& Receptor() {
    static std::function<void(const QString&)> receptor;
    return receptor;
}

void Avisar(const QString& texto) {
    if (Receptor()) {
        Receptor()(texto);
    } else {
        std::fprintf(stderr, "%s\n", texto.toLocal8Bit().constData());
    }
}

// A name as it can be shown on one line of the event log.
QString Mostrable(const QString& nombre) {
    QString salida;
    for (QChar c : nombre.left(80)) {
        salida += c == u'\n'      ? QStringLiteral("\\n")
                  : c == u'\r'    ? QStringLiteral("\\r")
                  : c == QChar(0) ? QStringLiteral("\\0")
                                  : QString(c);
    }
    return u'"' + salida + (nombre.size() > 80 ? QStringLiteral("...\"") : QStringLiteral("\""));
}

// Values are stored on one line; a backslash escapes line breaks, quotes and
// itself. A value with blanks at either end is quoted, because blanks around
// the "=" of a hand-edited line are not part of the value.
QString Escapar(const QString& valor) {
    QString salida;
    salida.reserve(valor.size() + 2);
    const bool comillas = valor != valor.trimmed() || valor.startsWith(u'"');
    if (comillas) {
        salida += u'"';
    }
    for (QChar c : valor) {
        if (c == u'\\') {
            salida += QStringLiteral("\\\\");
        } else if (c == u'"' && comillas) {
            salida += QStringLiteral("\\\"");
        } else if (c == u'\n') {
            salida += QStringLiteral("\\n");
        } else if (c == u'\r') {
            salida += QStringLiteral("\\r");
        } else {
            salida += c;
        }
    }
    if (comillas) {
        salida += u'"';
    }
    return salida;
}

QString Desescapar(QStringView valor) {
    valor = valor.trimmed();
    if (valor.size() >= 2 && valor.startsWith(u'"') && valor.endsWith(u'"')) {
        valor = valor.mid(1, valor.size() - 2);
    }
    QString salida;
    salida.reserve(valor.size());
    for (qsizetype i = 0; i < valor.size(); ++i) {
        QChar c = valor[i];
        if (c == u'\\' && i + 1 < valor.size()) {
            QChar siguiente = valor[++i];
            salida += siguiente == u'n' ? QChar(u'\n') : siguiente == u'r' ? QChar(u'\r') : siguiente;
        } else {
            salida += c;
        }
    }
    return salida;
}

void Analizar(const QString& ruta, const QByteArray& contenido, Archivo& archivo) {
    archivo.secciones.assign(1, Seccion{});
    archivo.indiceSecciones.clear();
    archivo.indiceClaves.clear();
    archivo.retornoDeCarro = false;
    QList<QByteArray> lineas = contenido.split('\n');
    if (lineas.size() > 0 && lineas.last().isEmpty()) {
        lineas.removeLast(); // the break that ends the last line starts no line
    }
    archivo.indiceClaves.reserve(lineas.size());
    int numero = 0;
    for (QByteArray& cruda : lineas) {
        ++numero;
        QString linea = QString::fromUtf8(cruda);
        if (numero == 1) {
            archivo.retornoDeCarro = cruda.endsWith('\r');
            // Windows editors start a UTF-8 file with a byte-order mark; it
            // stays on disk but is no part of the first line's text.
            if (linea.startsWith(QChar(0xFEFF))) {
                linea.remove(0, 1);
            }
        }
        if (linea.endsWith(u'\r')) {
            linea.chop(1);
        }
        const QString recortada = linea.trimmed();
        if (recortada.startsWith(u'[') && recortada.endsWith(u']') && recortada.size() >= 2) {
            Seccion nueva;
            nueva.nombre = recortada.mid(1, recortada.size() - 2).trimmed();
            nueva.accesible = !nueva.nombre.isEmpty();
            nueva.plegado = Plegar(nueva.nombre);
            nueva.lineas.push_back(std::move(cruda));
            if (nueva.accesible) {
                archivo.indiceSecciones.insert(nueva.plegado, archivo.secciones.size());
            } else {
                Avisar(QStringLiteral("Archivo de configuracion danado: %1, linea %2: seccion sin nombre, "
                                      "sus claves se ignoran")
                           .arg(ruta)
                           .arg(numero));
            }
            archivo.secciones.push_back(std::move(nueva));
            continue;
        }
        Seccion& actual = archivo.secciones.back();
        const std::size_t indice = actual.lineas.size();
        actual.lineas.push_back(std::move(cruda));
        if (recortada.isEmpty() || recortada.startsWith(u';') || recortada.startsWith(u'#')) {
            continue;
        }
        const qsizetype igual = linea.indexOf(u'=');
        const QStringView clave = igual > 0 ? QStringView(linea).left(igual).trimmed() : QStringView();
        if (clave.isEmpty() || !actual.accesible) {
            if (actual.accesible || archivo.secciones.size() == 1) {
                Avisar(QStringLiteral("Archivo de configuracion danado: %1, linea %2 ignorada: %3")
                           .arg(ruta)
                           .arg(numero)
                           .arg(recortada.left(80)));
            }
            continue;
        }
        actual.ultimaClave = indice;
        archivo.indiceClaves.insert(
            ClaveIndicePlegada(actual.plegado, clave),
            Valor{archivo.secciones.size() - 1, indice, Desescapar(QStringView(linea).mid(igual + 1))});
    }
}

Archivo& Cargar(const QString& ruta) {
    Archivo& archivo = Cache()[ruta];
    // The many reads of a print job look at the path only: the file is opened
    // again when its signature (size, times, inode) changed.
    if (archivo.leido && archivo.existe && archivo.rechazo.isEmpty() &&
        ArchivoRegular::FirmaDe(ruta) == archivo.firma) {
        return archivo;
    }
    ArchivoRegular disco(ruta);
    switch (disco.estado()) {
    case ArchivoRegular::Estado::Ausente:
        archivo = Archivo{};
        archivo.leido = true;
        return archivo;
    case ArchivoRegular::Estado::Rechazado:
    case ArchivoRegular::Estado::Fallo: {
        const QString motivo = disco.Motivo();
        if (!archivo.existe || archivo.rechazo != motivo) {
            Avisar(QStringLiteral("No se usa el archivo de configuracion %1: %2; valen los valores predeterminados")
                       .arg(ruta, motivo));
        }
        archivo = Archivo{};
        archivo.existe = true;
        archivo.rechazo = motivo;
        return archivo;
    }
    case ArchivoRegular::Estado::Abierto:
        break;
    }
    if (archivo.leido && archivo.existe && archivo.rechazo.isEmpty() && archivo.firma == disco.firma()) {
        return archivo;
    }
    const std::optional<QByteArray> contenido = disco.Leer();
    if (!contenido) {
        Avisar(QStringLiteral("No se puede leer el archivo de configuracion %1: %2").arg(ruta, disco.Motivo()));
        archivo = Archivo{};
        archivo.existe = true;
        archivo.rechazo = disco.Motivo();
        return archivo;
    }
    Analizar(ruta, *contenido, archivo);
    archivo.firma = disco.firma();
    archivo.existe = true;
    archivo.rechazo.clear();
    archivo.leido = true;
    return archivo;
}

QByteArray Serializar(const Archivo& archivo) {
    QByteArray salida;
    for (const Seccion& s : archivo.secciones) {
        for (const QByteArray& linea : s.lineas) {
            salida += linea;
            salida += '\n';
        }
    }
    return salida;
}

QByteArray LineaNueva(const Archivo& archivo, const QString& texto) {
    QByteArray linea = texto.toUtf8();
    if (archivo.retornoDeCarro) {
        linea += '\r';
    }
    return linea;
}

// Puts the value into the file's lines: the key's own line when it exists,
// else a new line after the last key of its section, else a new section at
// the end of the file.
void Poner(Archivo& archivo, const QString& seccion, const QString& clave, const QString& valor) {
    const QString indice = ClaveIndice(seccion, clave);
    if (auto it = archivo.indiceClaves.find(indice); it != archivo.indiceClaves.end()) {
        QByteArray& linea = archivo.secciones[it->seccion].lineas[it->linea];
        // Keep the key's spelling and the blanks around its "=".
        qsizetype inicio = linea.indexOf('=') + 1;
        while (inicio < linea.size() && (linea[inicio] == ' ' || linea[inicio] == '\t')) {
            ++inicio;
        }
        const bool retorno = linea.endsWith('\r');
        linea = linea.left(inicio) + Escapar(valor).toUtf8() + (retorno ? "\r" : "");
        it->valor = valor;
        return;
    }
    std::size_t numero;
    if (auto s = archivo.indiceSecciones.find(Plegar(seccion)); s != archivo.indiceSecciones.end()) {
        numero = *s;
    } else {
        // A blank line between sections, as a person would write it.
        std::vector<QByteArray>& ultimas = archivo.secciones.back().lineas;
        if (!ultimas.empty() && !ultimas.back().trimmed().isEmpty()) {
            ultimas.push_back(LineaNueva(archivo, QString()));
        }
        Seccion nueva;
        nueva.nombre = seccion.trimmed();
        nueva.plegado = Plegar(seccion);
        nueva.accesible = true;
        nueva.lineas.push_back(LineaNueva(archivo, u'[' + nueva.nombre + u']'));
        numero = archivo.secciones.size();
        archivo.indiceSecciones.insert(Plegar(seccion), numero);
        archivo.secciones.push_back(std::move(nueva));
    }
    // Only lines that are no key follow the section's last key, so no index
    // entry moves when the new line goes in after it.
    Seccion& destino = archivo.secciones[numero];
    const std::size_t posicion = destino.ultimaClave + 1;
    destino.lineas.insert(destino.lineas.begin() + static_cast<std::ptrdiff_t>(posicion),
                          LineaNueva(archivo, clave.trimmed() + u'=' + Escapar(valor)));
    destino.ultimaClave = posicion;
    archivo.indiceClaves.insert(indice, Valor{numero, posicion, valor});
}

} // namespace

namespace Ajustes {

bool NombreValido(const QString& nombre) {
    const QString recortado = nombre.trimmed();
    if (recortado.isEmpty() || recortado.startsWith(u';') || recortado.startsWith(u'#')) {
        return false;
    }
    for (QChar c : recortado) {
        if (c == u'[' || c == u']' || c == u'=' || c == u'\r' || c == u'\n' || c == QChar(0)) {
            return false;
        }
    }
    return true;
}

QString RutaArchivo(const QString& aplicacion) {
    return Rutas::DirectorioConfiguracion() + u'/' + aplicacion.toLower() + QStringLiteral(".ini");
}

QString Leer(const QString& aplicacion, const QString& seccion, const QString& clave, const QString& predeterminado) {
    const Archivo& archivo = Cargar(RutaArchivo(aplicacion));
    const auto it = archivo.indiceClaves.constFind(ClaveIndice(seccion, clave));
    return it != archivo.indiceClaves.cend() ? it->valor : predeterminado;
}

bool Guardar(const QString& aplicacion, const QString& seccion, const QString& clave, const QString& valor) {
    const QString ruta = RutaArchivo(aplicacion);
    for (const auto& [que, nombre] :
         {std::pair{QStringLiteral("la seccion"), seccion}, {QStringLiteral("la clave"), clave}}) {
        if (!NombreValido(nombre)) {
            Avisar(QStringLiteral("No se guarda en el archivo de configuracion %1: %2 %3 no es un nombre valido")
                       .arg(ruta, que, Mostrable(nombre)));
            return false;
        }
    }
    const Archivo& actual = Cargar(ruta);
    if (!actual.rechazo.isEmpty()) {
        // Writing over it would lose what it holds.
        Avisar(QStringLiteral("No se escribe el archivo de configuracion %1: %2").arg(ruta, actual.rechazo));
        return false;
    }
    const auto it = actual.indiceClaves.constFind(ClaveIndice(seccion, clave));
    if (actual.existe && it != actual.indiceClaves.cend() && it->valor == valor) {
        return true; // already on disk: spare the sync
    }
    Archivo copia = actual;
    if (copia.secciones.empty()) {
        copia.secciones.assign(1, Seccion{});
    }
    Poner(copia, seccion, clave, valor);

    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QSaveFile f(ruta);
    // A new file is the owner's alone (0600), whatever the umask; an existing
    // one keeps the mode it was given.
    const bool nuevo = !actual.existe;
    if (!f.open(QIODevice::WriteOnly) || (nuevo && ::fchmod(f.handle(), 0600) != 0) || f.write(Serializar(copia)) < 0 ||
        !f.commit()) {
        Avisar(QStringLiteral("No se puede escribir el archivo de configuracion %1: %2").arg(ruta, f.errorString()));
        return false;
    }
    // QSaveFile has synced the data and renamed it into place; record what is
    // now on disk so that the next read does not parse it again.
    ArchivoRegular escrito(ruta);
    copia.firma = escrito.firma();
    copia.existe = true;
    copia.leido = escrito.estado() == ArchivoRegular::Estado::Abierto;
    Cache()[ruta] = std::move(copia);
    return true;
}

void EstablecerAvisos(std::function<void(const QString&)> receptor) {
    Receptor() = std::move(receptor);
}

} // namespace Ajustes
