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

namespace {

const char kAyuda[] = R"(Uso: orlan-admin ORDEN [ARGUMENTOS]

Trabaja sobre la base de datos configurada para esta terminal
(~/.config/orlan/orlan.ini y credenciales.ini), como orlan-cola. Sin ODBCSYSINI
en el ambiente toma el de /etc/default/orlan-cola, como la unidad de systemd.

Ordenes:
  diagnostico              revisa configuracion, credenciales, controlador ODBC,
                           conexion, esquema, la terminal y sus impresoras, y dice
                           como corregir cada falla
  esquema MOTOR            crea las tablas (MOTOR: sqlite, postgresql o sqlserver)
  esquema postgresql --despertar
                           agrega a una base existente solo los disparadores
                           que avisan a los servidores con [Cola] Despertar=1
  esquema MOTOR --reclamos agrega a una base existente (la del punto de venta)
                           solo la tabla ReclamoTrabajo, con la que cada trabajo
                           sale por una sola terminal
  demo                     carga los datos de la tienda de demostracion
  terminal agregar N [--nombre TEXTO]
                           agrega la terminal N
  impresora agregar --terminal N --puerto PUERTO --modo E|C|S --nombre TEXTO
                    [--respaldo M] [--cheques]
                           agrega una impresora lista para servir (PUERTO: COM1 a
                           COM4 o LPT1 a LPT9) e imprime su numero. El servidor
                           imprime en el Modo de [PUERTO] de orlan.ini (E Epson,
                           C Citizen, S Star): la orden lo escribe alli, y por eso
                           se ejecuta en la terminal N (la de Terminal=); una
                           impresora de cheques no lo necesita
  impresora respaldo N M   la impresora M es el respaldo de la impresora N
  impresora lista          lista las impresoras
  impresora N              muestra la fila de la impresora N
  restablecer N            vuelve a servir la impresora N (Redirigido = N, estado 'A')
  encolar --impresora N [--tipo T] [--usuario U] [--ancho N] [RENGLON...]
                           escribe un trabajo como lo hace un punto de venta;
                           sin RENGLON lee los renglones de la entrada estandar.
                           El servidor no pone nada entre renglones: un renglon
                           sigue en la misma linea del papel hasta llenar el ancho
                           de la impresora. --ancho N rellena cada renglon con
                           espacios hasta N caracteres (sin contar las etiquetas),
                           como lo hace un punto de venta (42 es lo usual)
  cola                     lista los trabajos y su estado (pendiente, escribiendose, apartado)
  reintentar N             devuelve a la cola el trabajo apartado N, con FechaHora de
                           ahora (para que EdadMaxima no lo aparte de nuevo)
  sql SENTENCIA            ejecuta una sentencia; un SELECT imprime sus filas
  rol ROL [--contrasena TEXTO]
                           (PostgreSQL, como propietario de las tablas o superusuario)
                           crea el rol de una terminal si falta (sin --contrasena
                           la lee sin eco) y le da solo los permisos que usan el
                           servidor, el panel y estas ordenes: leer y escribir la
                           cola, agregar terminales e impresoras, ninguna DDL
  contrasena [--usuario NOMBRE]
                           cifra una contrasena de operador (leida sin eco)
  --help                   muestra esta ayuda
  --version                muestra la version

Estado de salida: 0 bien, 1 peticion rechazada (o diagnostico con fallas),
2 base de datos inaccesible o sentencia fallida.
)";

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

} // namespace

int main(int argc, char** argv) {
    Volcados::Impedir();
    CargarAmbiente();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orlan-admin"));
    QTextStream salida(stdout);
    QTextStream errores(stderr);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args[0] == QStringLiteral("--help") || args[0] == QStringLiteral("-h")) {
        salida << kAyuda;
        return args.isEmpty() ? 1 : 0;
    }
    if (args[0] == QStringLiteral("--version")) {
        salida << "orlan-admin " << ORLAN_VERSION << Qt::endl;
        return 0;
    }
    const QString orden = args.takeFirst();
    int numero = 0;

    if (orden == QStringLiteral("esquema")) {
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
    if (orden == QStringLiteral("diagnostico")) {
        return args.isEmpty() ? Diagnosticar(salida) : Uso(errores, QStringLiteral("diagnostico no lleva argumentos"));
    }
    if (orden == QStringLiteral("terminal")) {
        QHash<QString, QString> valores;
        if (args.size() < 2 || args[0] != QStringLiteral("agregar") || !Numero(args[1], numero)) {
            return Uso(errores, QStringLiteral("uso: terminal agregar N [--nombre TEXTO]"));
        }
        if (!Opciones(args.mid(2), {QStringLiteral("--nombre")}, {}, valores, errores)) {
            return 1;
        }
        return Administracion::AgregarTerminal(numero, valores.value(QStringLiteral("--nombre")), salida, errores);
    }
    if (orden == QStringLiteral("impresora") && !args.isEmpty() && args[0] == QStringLiteral("agregar")) {
        QHash<QString, QString> valores;
        if (!Opciones(args.mid(1),
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
    if (orden == QStringLiteral("impresora") && !args.isEmpty() && args[0] == QStringLiteral("respaldo")) {
        int respaldo = 0;
        if (args.size() != 3 || !Numero(args[1], numero) || !Numero(args[2], respaldo)) {
            return Uso(errores, QStringLiteral("uso: impresora respaldo N M"));
        }
        return Administracion::AsignarRespaldo(numero, respaldo, salida, errores);
    }
    if (orden == QStringLiteral("impresora") && args == QStringList{QStringLiteral("lista")}) {
        return Administracion::ListarImpresoras(salida, errores);
    }
    if (orden == QStringLiteral("demo")) {
        return Administracion::CargarDemo(salida, errores);
    }
    if (orden == QStringLiteral("encolar")) {
        Administracion::Trabajo trabajo;
        bool conImpresora = false;
        int ancho = 0;
        while (!args.isEmpty()) {
            const QString a = args.takeFirst();
            if ((a == QStringLiteral("--impresora") || a == QStringLiteral("--tipo") ||
                 a == QStringLiteral("--usuario") || a == QStringLiteral("--ancho")) &&
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
    if (orden == QStringLiteral("cola")) {
        return Administracion::ListarCola(salida, errores);
    }
    if (orden == QStringLiteral("impresora") || orden == QStringLiteral("restablecer")) {
        if (args.size() != 1 || !Numero(args[0], numero)) {
            return Uso(errores, orden + QStringLiteral(" necesita el numero de impresora"));
        }
        return orden == QStringLiteral("impresora") ? Administracion::MostrarImpresora(numero, salida, errores)
                                                    : Administracion::Restablecer(numero, salida, errores);
    }
    if (orden == QStringLiteral("reintentar")) {
        bool ok = false;
        const qint64 trabajo = args.size() == 1 ? args[0].toLongLong(&ok) : 0;
        if (!ok) {
            return Uso(errores, QStringLiteral("reintentar necesita el numero de trabajo"));
        }
        return Administracion::Reintentar(trabajo, salida, errores);
    }
    if (orden == QStringLiteral("sql")) {
        if (args.size() != 1) {
            return Uso(errores, QStringLiteral("sql necesita una sentencia entre comillas"));
        }
        return Administracion::Sql(args[0], salida, errores);
    }
    if (orden == QStringLiteral("rol")) {
        QHash<QString, QString> valores;
        if (args.isEmpty() || args[0].startsWith(QStringLiteral("--"))) {
            return Uso(errores, QStringLiteral("uso: rol ROL [--contrasena TEXTO]"));
        }
        if (!Opciones(args.mid(1), {QStringLiteral("--contrasena")}, {}, valores, errores)) {
            return 1;
        }
        const auto contrasena = valores.contains(QStringLiteral("--contrasena"))
                                    ? std::optional<QString>(valores.value(QStringLiteral("--contrasena")))
                                    : std::nullopt;
        return Administracion::Rol(args[0], contrasena, salida, errores);
    }
    if (orden == QStringLiteral("contrasena")) {
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
    return Uso(errores, QStringLiteral("orden desconocida: ") + orden);
}
