#include "platform/Ajustes.h"

#include "platform/Rutas.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>
#include <map>

namespace {

struct Entrada {
    QString nombre; // the key
    QString valor;
};

struct Seccion {
    QString nombre;
    std::vector<Entrada> entradas;
};

// One parsed file, kept until the file on disk changes (size or time stamp),
// so that the many reads of a print job do not re-parse it each time.
struct Archivo {
    std::vector<Seccion> secciones;
    QDateTime modificado;
    qint64 tamano = -1;
    bool leido = false;
};

// The section or entry of that name, compared without regard to case.
template <typename T> T* PorNombre(std::vector<T>& lista, const QString& nombre) {
    for (T& elemento : lista) {
        if (elemento.nombre.compare(nombre, Qt::CaseInsensitive) == 0) {
            return &elemento;
        }
    }
    return nullptr;
}

// The section, created under this spelling when it is new.
Seccion& Asegurar(Archivo& archivo, const QString& nombre) {
    if (Seccion* s = PorNombre(archivo.secciones, nombre)) {
        return *s;
    }
    archivo.secciones.push_back({nombre, {}});
    return archivo.secciones.back();
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
    archivo.secciones.clear();
    const QList<QByteArray> lineas = contenido.split('\n');
    Seccion* actual = nullptr;
    int numero = 0;
    for (const QByteArray& cruda : lineas) {
        ++numero;
        QString linea = QString::fromUtf8(cruda);
        if (linea.endsWith(u'\r')) {
            linea.chop(1);
        }
        const QString recortada = linea.trimmed();
        if (recortada.isEmpty() || recortada.startsWith(u';') || recortada.startsWith(u'#')) {
            continue;
        }
        if (recortada.startsWith(u'[') && recortada.endsWith(u']') && recortada.size() > 2) {
            actual = &Asegurar(archivo, recortada.mid(1, recortada.size() - 2).trimmed());
            continue;
        }
        const qsizetype igual = linea.indexOf(u'=');
        if (igual <= 0 || !actual || linea.left(igual).trimmed().isEmpty()) {
            Avisar(QStringLiteral("Archivo de configuracion danado: %1, linea %2 ignorada: %3")
                       .arg(ruta)
                       .arg(numero)
                       .arg(recortada.left(80)));
            continue;
        }
        const QString clave = linea.left(igual).trimmed();
        const QString valor = Desescapar(QStringView(linea).mid(igual + 1));
        if (Entrada* e = PorNombre(actual->entradas, clave)) {
            e->valor = valor;
        } else {
            actual->entradas.push_back({clave, valor});
        }
    }
}

Archivo& Cargar(const QString& ruta) {
    Archivo& archivo = Cache()[ruta];
    const QFileInfo info(ruta);
    if (!info.exists()) {
        archivo = Archivo{};
        archivo.leido = true;
        return archivo;
    }
    if (archivo.leido && info.lastModified() == archivo.modificado && info.size() == archivo.tamano) {
        return archivo;
    }
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) {
        Avisar(QStringLiteral("No se puede leer el archivo de configuracion %1: %2").arg(ruta, f.errorString()));
        archivo = Archivo{};
        return archivo; // not marked as read: the next call tries again
    }
    const QByteArray contenido = f.readAll();
    Analizar(ruta, contenido, archivo);
    archivo.modificado = info.lastModified();
    archivo.tamano = info.size();
    archivo.leido = true;
    return archivo;
}

QByteArray Serializar(const Archivo& archivo) {
    QByteArray salida;
    for (const Seccion& s : archivo.secciones) {
        if (!salida.isEmpty()) {
            salida += '\n';
        }
        salida += '[' + s.nombre.toUtf8() + "]\n";
        for (const Entrada& e : s.entradas) {
            salida += e.nombre.toUtf8() + '=' + Escapar(e.valor).toUtf8() + '\n';
        }
    }
    return salida;
}

} // namespace

namespace Ajustes {

QString RutaArchivo(const QString& aplicacion) {
    return Rutas::DirectorioConfiguracion() + u'/' + aplicacion.toLower() + QStringLiteral(".ini");
}

QString Leer(const QString& aplicacion, const QString& seccion, const QString& clave, const QString& predeterminado) {
    Archivo& archivo = Cargar(RutaArchivo(aplicacion));
    Seccion* s = PorNombre(archivo.secciones, seccion);
    const Entrada* e = s ? PorNombre(s->entradas, clave) : nullptr;
    return e ? e->valor : predeterminado;
}

bool Guardar(const QString& aplicacion, const QString& seccion, const QString& clave, const QString& valor) {
    const QString ruta = RutaArchivo(aplicacion);
    Archivo copia = Cargar(ruta);
    Seccion* destino = &Asegurar(copia, seccion);
    Entrada* entrada = PorNombre(destino->entradas, clave);
    if (entrada && entrada->valor == valor && QFileInfo::exists(ruta)) {
        return true; // already on disk: spare the sync
    }
    if (entrada) {
        entrada->valor = valor;
    } else {
        destino->entradas.push_back({clave, valor});
    }

    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QSaveFile f(ruta);
    if (!f.open(QIODevice::WriteOnly) || f.write(Serializar(copia)) < 0 || !f.commit()) {
        Avisar(QStringLiteral("No se puede escribir el archivo de configuracion %1: %2").arg(ruta, f.errorString()));
        return false;
    }
    // QSaveFile has synced the data and renamed it into place; record what is
    // now on disk so that the next read does not parse it again.
    const QFileInfo info(ruta);
    copia.modificado = info.lastModified();
    copia.tamano = info.size();
    copia.leido = true;
    Cache()[ruta] = std::move(copia);
    return true;
}

void EstablecerAvisos(std::function<void(const QString&)> receptor) {
    Receptor() = std::move(receptor);
}

} // namespace Ajustes
