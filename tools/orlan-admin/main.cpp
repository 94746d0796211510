// orlan-admin: administration of the print queue's database for the
// technician who installs a terminal, and for the tests and the demo.

#include "Administracion.h"
#include "Diagnostico.h"

#include "platform/Consola.h"
#include "platform/Volcados.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

int Uso(QTextStream& errores, const QString& mensaje) {
    errores << "orlan-admin: " << mensaje << Qt::endl << "Pruebe 'orlan-admin --help'." << Qt::endl;
    return 1;
}

bool Numero(const QString& texto, int& numero) {
    bool ok = false;
    numero = texto.toInt(&ok);
    return ok;
}

// The environment the systemd unit gives the server: its default driver
// registry, then the assignments of /etc/default/orlan-cola (or the file in
// ORLAN_AMBIENTE). A variable already set by the caller wins.
void CargarAmbiente() {
    const QByteArray archivo =
        qEnvironmentVariableIsSet("ORLAN_AMBIENTE") ? qgetenv("ORLAN_AMBIENTE") : QByteArray("/etc/default/orlan-cola");
    const bool registroPropio = qEnvironmentVariableIsSet("ODBCSYSINI");
    if (!registroPropio) {
        qputenv("ODBCSYSINI", ORLAN_DATOS "/odbc/sqlserver");
    }
    QFile f(QString::fromLocal8Bit(archivo));
    if (!f.open(QIODevice::ReadOnly)) {
        return;
    }
    for (QByteArray linea : f.readAll().split('\n')) {
        linea = linea.trimmed();
        const qsizetype igual = linea.indexOf('=');
        if (linea.startsWith('#') || igual <= 0) {
            continue;
        }
        const QByteArray nombre = linea.left(igual).trimmed();
        QByteArray valor = linea.mid(igual + 1).trimmed();
        if (valor.size() >= 2 && (valor.front() == '"' || valor.front() == '\'') && valor.back() == valor.front()) {
            valor = valor.mid(1, valor.size() - 2);
        }
        const bool propia = nombre == "ODBCSYSINI" ? registroPropio : qEnvironmentVariableIsSet(nombre.constData());
        if (!propia) {
            qputenv(nombre.constData(), valor);
        }
    }
}

// Pads a job line with blanks to `ancho` characters, tags not counted, as a
// point-of-sale program does: the server puts nothing between lines.
QString Rellenar(const QString& renglon, int ancho) {
    qsizetype visibles = 0;
    for (qsizetype i = 0; i < renglon.size(); ++i) {
        const qsizetype cierre = renglon[i] == u'<' ? renglon.indexOf(u'>', i) : -1;
        if (cierre > 0) {
            i = cierre;
        } else if (!renglon[i].isLowSurrogate()) {
            ++visibles;
        }
    }
    return visibles >= ancho ? renglon : renglon + QString(ancho - visibles, u' ');
}

// A command's options into `valores`: "--opcion VALOR" for those of
// `conValor`, the flags of `sinValor` with an empty value. False (after the
// usage message) on a missing value or an unknown option.
bool Opciones(QStringList args, const QStringList& conValor, const QStringList& sinValor,
              QHash<QString, QString>& valores, QTextStream& errores) {
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (sinValor.contains(a)) {
            valores.insert(a, QString());
        } else if (conValor.contains(a) && !args.isEmpty()) {
            valores.insert(a, args.takeFirst());
        } else {
            Uso(errores, conValor.contains(a) ? a + QStringLiteral(" necesita un valor")
                                              : QStringLiteral("opcion desconocida: ") + a);
            return false;
        }
    }
    return true;
}

using Salidas = QTextStream;

// A handler's answer when its arguments do not fit its command: the usage line
// is printed, with the command's form from the table.
constexpr int kMalUso = -1;

int Esquema(QStringList args, Salidas& salida, Salidas& errores) {
    if (args.size() == 2 && args[1] == QStringLiteral("--despertar")) {
        return Administracion::CrearDespertar(args[0], salida, errores);
    }
    if (args.size() == 2 && args[1] == QStringLiteral("--reclamos")) {
        return Administracion::CrearReclamos(args[0], salida, errores);
    }
    if (args.size() != 1) {
        return Uso(errores, QStringLiteral("esquema necesita el motor"));
    }
    return Administracion::CrearEsquema(args[0], salida, errores);
}

int AgregarTerminal(QStringList args, Salidas& salida, Salidas& errores) {
    int numero = 0;
    QHash<QString, QString> valores;
    if (args.isEmpty() || !Numero(args[0], numero)) {
        return kMalUso;
    }
    if (!Opciones(args.mid(1), {QStringLiteral("--nombre")}, {}, valores, errores)) {
        return 1;
    }
    return Administracion::AgregarTerminal(numero, valores.value(QStringLiteral("--nombre")), salida, errores);
}

int AgregarImpresora(QStringList args, Salidas& salida, Salidas& errores) {
    QHash<QString, QString> valores;
    if (!Opciones(args,
                  {QStringLiteral("--terminal"), QStringLiteral("--puerto"), QStringLiteral("--modo"),
                   QStringLiteral("--nombre"), QStringLiteral("--respaldo")},
                  {QStringLiteral("--cheques")}, valores, errores)) {
        return 1;
    }
    Administracion::Impresora impresora;
    impresora.puerto = valores.value(QStringLiteral("--puerto"));
    impresora.modo = valores.value(QStringLiteral("--modo"));
    impresora.nombre = valores.value(QStringLiteral("--nombre"));
    impresora.cheques = valores.contains(QStringLiteral("--cheques"));
    if (!Numero(valores.value(QStringLiteral("--terminal")), impresora.terminal) ||
        (valores.contains(QStringLiteral("--respaldo")) &&
         !Numero(valores.value(QStringLiteral("--respaldo")), impresora.respaldo))) {
        return Uso(errores, QStringLiteral("impresora agregar necesita --terminal N (y --respaldo M, si lo "
                                           "lleva, un numero)"));
    }
    return Administracion::AgregarImpresora(impresora, salida, errores);
}

int AsignarRespaldo(QStringList args, Salidas& salida, Salidas& errores) {
    int numero = 0;
    int respaldo = 0;
    if (args.size() != 2 || !Numero(args[0], numero) || !Numero(args[1], respaldo)) {
        return kMalUso;
    }
    return Administracion::AsignarRespaldo(numero, respaldo, salida, errores);
}

// "impresora N" and "restablecer N": one printer number.
int ConImpresora(const QString& orden, const QStringList& args, Salidas& errores,
                 const std::function<int(int)>& hacer) {
    int numero = 0;
    if (args.size() != 1 || !Numero(args[0], numero)) {
        return Uso(errores, orden + QStringLiteral(" necesita el numero de impresora"));
    }
    return hacer(numero);
}

int Encolar(QStringList args, Salidas& salida, Salidas& errores) {
    Administracion::Trabajo trabajo;
    bool conImpresora = false;
    int ancho = 0;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if ((a == QStringLiteral("--impresora") || a == QStringLiteral("--tipo") || a == QStringLiteral("--usuario") ||
             a == QStringLiteral("--ancho")) &&
            args.isEmpty()) {
            return Uso(errores, a + QStringLiteral(" necesita un valor"));
        }
        if (a == QStringLiteral("--impresora")) {
            if (!Numero(args.takeFirst(), trabajo.impresora)) {
                return Uso(errores, QStringLiteral("--impresora necesita un numero"));
            }
            conImpresora = true;
        } else if (a == QStringLiteral("--ancho")) {
            if (!Numero(args.takeFirst(), ancho) || ancho < 1) {
                return Uso(errores, QStringLiteral("--ancho necesita un numero de caracteres"));
            }
        } else if (a == QStringLiteral("--tipo")) {
            trabajo.tipo = args.takeFirst();
        } else if (a == QStringLiteral("--usuario")) {
            trabajo.usuario = args.takeFirst();
        } else if (a == QStringLiteral("--")) {
            trabajo.renglones += args;
            args.clear();
        } else {
            trabajo.renglones << a;
        }
    }
    if (!conImpresora) {
        return Uso(errores, QStringLiteral("encolar necesita --impresora N"));
    }
    if (trabajo.renglones.isEmpty()) {
        QTextStream entrada(stdin);
        QString linea;
        while (entrada.readLineInto(&linea)) {
            trabajo.renglones << linea;
        }
    }
    if (ancho > 0) {
        for (QString& renglon : trabajo.renglones) {
            renglon = Rellenar(renglon, ancho);
        }
    }
    return Administracion::Encolar(trabajo, salida, errores);
}

int Reintentar(QStringList args, Salidas& salida, Salidas& errores) {
    bool ok = false;
    const qint64 trabajo = args.size() == 1 ? args[0].toLongLong(&ok) : 0;
    if (!ok) {
        return Uso(errores, QStringLiteral("reintentar necesita el numero de trabajo"));
    }
    return Administracion::Reintentar(trabajo, salida, errores);
}

int Rol(QStringList args, Salidas& salida, Salidas& errores) {
    QHash<QString, QString> valores;
    if (args.isEmpty() || args[0].startsWith(QStringLiteral("--"))) {
        return kMalUso;
    }
    if (!Opciones(args.mid(1), {QStringLiteral("--contrasena")}, {}, valores, errores)) {
        return 1;
    }
    const auto contrasena = valores.contains(QStringLiteral("--contrasena"))
                                ? std::optional<QString>(valores.value(QStringLiteral("--contrasena")))
                                : std::nullopt;
    return Administracion::Rol(args[0], contrasena, salida, errores);
}

int Contrasena(QStringList args, Salidas& salida, Salidas& errores) {
    QString usuario;
    if (args.size() == 2 && args[0] == QStringLiteral("--usuario")) {
        // An empty name would print the password instead of storing it.
        if (args[1].isEmpty()) {
            return Uso(errores, QStringLiteral("--usuario necesita un nombre"));
        }
        usuario = args[1];
    } else if (!args.isEmpty()) {
        return Uso(errores, QStringLiteral("contrasena acepta solo --usuario NOMBRE"));
    }
    const std::optional<QString> contrasena = Consola::LeerSecreto(QStringLiteral("Contrasena: "));
    if (!contrasena) {
        return Uso(errores, QStringLiteral("no se leyo ninguna contrasena"));
    }
    return Administracion::Contrasena(*contrasena, usuario, salida, errores);
}

int SinArgumentos(const QString& orden, const QStringList& args, Salidas& errores, const std::function<int()>& hacer) {
    return args.isEmpty() ? hacer() : Uso(errores, orden + QStringLiteral(" no lleva argumentos"));
}

int Ayuda(QStringList, Salidas& salida, Salidas&);

// The commands. A command line is served by the first row whose words begin
// it, with the rest of the line as arguments; rows without a handler only add
// a form to the help. The help's command list is written from this table,
// and the manual page is checked against the help.
struct Orden {
    const char* palabras; // the words that select the row
    const char* forma;    // as the help shows it: the words and the arguments
    const char* ayuda;    // lines of the description
    int (*ejecutar)(QStringList args, Salidas& salida, Salidas& errores);
};

const Orden kOrdenes[] = {
    {"diagnostico", "diagnostico",
     "revisa configuracion, credenciales, controlador ODBC,\n"
     "conexion, esquema, la terminal y sus impresoras, y dice\n"
     "como corregir cada falla",
     [](QStringList args, Salidas& salida, Salidas& errores) {
         return SinArgumentos(QStringLiteral("diagnostico"), args, errores, [&] { return Diagnosticar(salida); });
     }},
    {"esquema", "esquema MOTOR", "crea las tablas (MOTOR: sqlite, postgresql o sqlserver)", Esquema},
    {"esquema", "esquema postgresql --despertar",
     "agrega a una base existente solo los disparadores\n"
     "que avisan a los servidores con [Cola] Despertar=1",
     nullptr},
    {"esquema", "esquema MOTOR --reclamos",
     "agrega a una base existente (la del punto de venta)\n"
     "solo la tabla ReclamoTrabajo, con la que cada trabajo\n"
     "sale por una sola terminal",
     nullptr},
    {"demo", "demo", "carga los datos de la tienda de demostracion",
     [](QStringList, Salidas& salida, Salidas& errores) { return Administracion::CargarDemo(salida, errores); }},
    {"terminal agregar", "terminal agregar N [--nombre TEXTO]", "agrega la terminal N", AgregarTerminal},
    {"impresora agregar",
     "impresora agregar --terminal N --puerto PUERTO --modo E|C|S --nombre TEXTO\n"
     "                  [--respaldo M] [--cheques]",
     "agrega una impresora lista para servir (PUERTO: COM1 a\n"
     "COM4 o LPT1 a LPT9) e imprime su numero. El servidor\n"
     "imprime en el Modo de [PUERTO] de orlan.ini (E Epson,\n"
     "C Citizen, S Star): la orden lo escribe alli, y por eso\n"
     "se ejecuta en la terminal N (la de Terminal=); una\n"
     "impresora de cheques no lo necesita",
     AgregarImpresora},
    {"impresora respaldo", "impresora respaldo N M", "la impresora M es el respaldo de la impresora N",
     AsignarRespaldo},
    {"impresora lista", "impresora lista", "lista las impresoras",
     [](QStringList args, Salidas& salida, Salidas& errores) {
         return args.isEmpty() ? Administracion::ListarImpresoras(salida, errores) : kMalUso;
     }},
    {"impresora", "impresora N", "muestra la fila de la impresora N",
     [](QStringList args, Salidas& salida, Salidas& errores) {
         return ConImpresora(QStringLiteral("impresora"), args, errores,
                             [&](int n) { return Administracion::MostrarImpresora(n, salida, errores); });
     }},
    {"restablecer", "restablecer N", "vuelve a servir la impresora N (Redirigido = N, estado 'A')",
     [](QStringList args, Salidas& salida, Salidas& errores) {
         return ConImpresora(QStringLiteral("restablecer"), args, errores,
                             [&](int n) { return Administracion::Restablecer(n, salida, errores); });
     }},
    {"encolar", "encolar --impresora N [--tipo T] [--usuario U] [--ancho N] [RENGLON...]",
     "escribe un trabajo como lo hace un punto de venta;\n"
     "sin RENGLON lee los renglones de la entrada estandar.\n"
     "El servidor no pone nada entre renglones: un renglon\n"
     "sigue en la misma linea del papel hasta llenar el ancho\n"
     "de la impresora. --ancho N rellena cada renglon con\n"
     "espacios hasta N caracteres (sin contar las etiquetas),\n"
     "como lo hace un punto de venta (42 es lo usual)",
     Encolar},
    {"cola", "cola", "lista los trabajos y su estado (pendiente, escribiendose, apartado)",
     [](QStringList, Salidas& salida, Salidas& errores) { return Administracion::ListarCola(salida, errores); }},
    {"reintentar", "reintentar N",
     "devuelve a la cola el trabajo apartado N, con FechaHora de\n"
     "ahora (para que EdadMaxima no lo aparte de nuevo)",
     Reintentar},
    {"sql", "sql SENTENCIA", "ejecuta una sentencia; un SELECT imprime sus filas",
     [](QStringList args, Salidas& salida, Salidas& errores) {
         return args.size() == 1 ? Administracion::Sql(args[0], salida, errores)
                                 : Uso(errores, QStringLiteral("sql necesita una sentencia entre comillas"));
     }},
    {"rol", "rol ROL [--contrasena TEXTO]",
     "(PostgreSQL, como propietario de las tablas o superusuario)\n"
     "crea el rol de una terminal si falta (sin --contrasena\n"
     "la lee sin eco) y le da solo los permisos que usan el\n"
     "servidor, el panel y estas ordenes: leer y escribir la\n"
     "cola, agregar terminales e impresoras, ninguna DDL",
     Rol},
    {"contrasena", "contrasena [--usuario NOMBRE]", "cifra una contrasena de operador (leida sin eco)", Contrasena},
    {"--help", "--help", "muestra esta ayuda", Ayuda},
    {"--version", "--version", "muestra la version",
     [](QStringList, Salidas& salida, Salidas&) {
         salida << "orlan-admin " << ORLAN_VERSION << Qt::endl;
         return 0;
     }},
};

// The description column of the command list.
constexpr qsizetype kColumnaAyuda = 27;

int Ayuda(QStringList, Salidas& salida, Salidas&) {
    salida << "Uso: orlan-admin ORDEN [ARGUMENTOS]\n\n"
              "Trabaja sobre la base de datos configurada para esta terminal\n"
              "(~/.config/orlan/orlan.ini y credenciales.ini), como orlan-cola. Sin ODBCSYSINI\n"
              "en el ambiente toma el de /etc/default/orlan-cola, como la unidad de systemd.\n\n"
              "Ordenes:\n";
    const QString margen(kColumnaAyuda, u' ');
    for (const Orden& orden : kOrdenes) {
        const QStringList forma = QString::fromUtf8(orden.forma).split(u'\n');
        const QStringList ayuda = QString::fromUtf8(orden.ayuda).split(u'\n');
        qsizetype desde = 0;
        for (qsizetype i = 0; i < forma.size(); ++i) {
            const QString linea = QStringLiteral("  ") + forma[i];
            if (i + 1 == forma.size() && linea.size() < kColumnaAyuda) {
                salida << linea.leftJustified(kColumnaAyuda) << ayuda[0] << '\n';
                desde = 1;
            } else {
                salida << linea << '\n';
            }
        }
        for (qsizetype i = desde; i < ayuda.size(); ++i) {
            salida << margen << ayuda[i] << '\n';
        }
    }
    salida << "\nEstado de salida: 0 bien, 1 peticion rechazada (o diagnostico con fallas),\n"
              "2 base de datos inaccesible o sentencia fallida.\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Volcados::Impedir();
    CargarAmbiente();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orlan-admin"));
    QTextStream salida(stdout);
    QTextStream errores(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args[0] == QStringLiteral("-h")) {
        Ayuda({}, salida, errores);
        return args.isEmpty() ? 1 : 0;
    }
    for (const Orden& orden : kOrdenes) {
        const QStringList palabras = QString::fromUtf8(orden.palabras).split(u' ');
        if (orden.ejecutar == nullptr || args.mid(0, palabras.size()) != palabras) {
            continue;
        }
        const int estado = orden.ejecutar(args.mid(palabras.size()), salida, errores);
        return estado == kMalUso ? Uso(errores, QStringLiteral("uso: ") + QString::fromUtf8(orden.forma).simplified())
                                 : estado;
    }
    // A known command with words that fit none of its forms: its first form.
    for (const Orden& orden : kOrdenes) {
        if (orden.ejecutar != nullptr && QString::fromUtf8(orden.palabras).section(u' ', 0, 0) == args[0]) {
            return Uso(errores, QStringLiteral("uso: ") + QString::fromUtf8(orden.forma).simplified());
        }
    }
    return Uso(errores, QStringLiteral("orden desconocida: ") + args[0]);
}
