// orlan-admin: administration of the print queue's database for the
// technician who installs a terminal, and for the tests and the demo.

#include "Administracion.h"

#include "platform/Consola.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

namespace {

const char kAyuda[] = R"(Uso: orlan-admin ORDEN [ARGUMENTOS]

Trabaja sobre la base de datos configurada para esta terminal
(~/.config/orlan/orlan.ini, credenciales.ini y ODBCSYSINI), como orlan-cola.

Ordenes:
  esquema MOTOR            crea las tablas (MOTOR: sqlite, postgresql o sqlserver)
  esquema postgresql --despertar
                           agrega a una base existente solo los disparadores
                           que avisan a los servidores con [Cola] Despertar=1
  demo                     carga los datos de la tienda de demostracion
  encolar --impresora N [--tipo T] [--usuario U] [RENGLON...]
                           escribe un trabajo como lo hace un punto de venta;
                           sin RENGLON lee los renglones de la entrada estandar
  cola                     lista los trabajos y su estado (pendiente, escribiendose, apartado)
  reintentar N             devuelve a la cola el trabajo apartado N
  impresora N              muestra la fila de la impresora N
  restablecer N            vuelve a servir la impresora N (Redirigido = N, estado 'A')
  sql SENTENCIA            ejecuta una sentencia; un SELECT imprime sus filas
  contrasena [--usuario NOMBRE]
                           cifra una contrasena de operador (leida sin eco)

Estado de salida: 0 bien, 1 peticion rechazada, 2 base de datos inaccesible o sentencia fallida.
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
        if (args.size() != 1) {
            return Uso(errores, QStringLiteral("esquema necesita el motor"));
        }
        return Administracion::CrearEsquema(args[0], salida, errores);
    }
    if (orden == QStringLiteral("demo")) {
        return Administracion::CargarDemo(salida, errores);
    }
    if (orden == QStringLiteral("encolar")) {
        Administracion::Trabajo trabajo;
        bool conImpresora = false;
        while (!args.isEmpty()) {
            const QString a = args.takeFirst();
            if ((a == QStringLiteral("--impresora") || a == QStringLiteral("--tipo") ||
                 a == QStringLiteral("--usuario")) &&
                args.isEmpty()) {
                return Uso(errores, a + QStringLiteral(" necesita un valor"));
            }
            if (a == QStringLiteral("--impresora")) {
                if (!Numero(args.takeFirst(), trabajo.impresora)) {
                    return Uso(errores, QStringLiteral("--impresora necesita un numero"));
                }
                conImpresora = true;
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
