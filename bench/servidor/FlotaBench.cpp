#include "FlotaBench.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "testsupport/Procesos.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QList>
#include <QMap>
#include <QThread>
#include <cstdio>

void Pasar(qint64 ms) {
    Esperar([] { return false; }, ms / 1000.0);
}

bool FlotaBench::Agregar(int hasta, int segundos, const std::function<void(int, TerminalPrueba&)>& preparar) {
    QFile credenciales(ProveedorCredenciales::RutaArchivo());
    credenciales.open(QIODevice::ReadOnly);
    const QByteArray datos = credenciales.readAll();
    const QString odbc = BaseDatosPrueba::DirectorioOdbc(m_motor);
    for (int n = static_cast<int>(m_terminales.size()) + 1; n <= hasta; ++n) {
        auto t = std::make_unique<TerminalPrueba>(n, odbc, m_propia.Servidor(), m_propia.BaseDatos(), datos);
        if (preparar) {
            preparar(n, *t);
        }
        QDir().mkpath(t->RaizUnidad() + QStringLiteral("/lpt"));
        QFile(t->RaizUnidad() + QStringLiteral("/lpt/378.bin")).open(QIODevice::WriteOnly);
        t->Iniciar();
        m_terminales.push_back(std::move(t));
    }
    for (auto& t : m_terminales) {
        if (!Esperar([&] { return t->Salida().contains("sirviendo la cola") || !t->Corriendo(); }, segundos) ||
            !t->Corriendo()) {
            std::fprintf(stderr, "una terminal no arranco:\n%s\n", qPrintable(t->Salida()));
            return false;
        }
    }
    return true;
}

void FlotaBench::Liberar(int t) {
    Conexion& c = Conexion::Instancia();
    c.Ejecutar(QStringLiteral("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                              "VALUES (%1, 'R', 'caja', -1, %2)")
                   .arg(m_id)
                   .arg(2 * (t + 1) - 1));
    c.Ejecutar(QStringLiteral("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (%1, 1, "
                              "'<B>Comanda %2</B>')")
                   .arg(m_id)
                   .arg(m_id, 8, 10, QLatin1Char('0')));
    c.Ejecutar(QStringLiteral("UPDATE ColaImpresion SET Escribiendo = 0 WHERE IDTrabajo=%1").arg(m_id));
    ++m_id;
}

QString FlotaBench::Captura(int t) const {
    return m_terminales[t]->RaizUnidad() + QStringLiteral("/lpt/378.bin");
}

std::vector<double> FlotaBench::Latencias(int cuantas, int segundos, const std::function<void()>& listos) {
    std::vector<double> latencias;
    auto tamano = [&](int t) { return QFileInfo(Captura(t)).size(); };
    std::vector<qint64> base(cuantas);
    for (int t = 0; t < cuantas; ++t) {
        base[t] = tamano(t);
        Liberar(t);
    }
    Pasar(5000);
    const qint64 porTrabajo = tamano(0) - base[0];
    for (int t = 0; t < cuantas; ++t) {
        base[t] = tamano(t);
    }
    if (porTrabajo <= 0) {
        std::fprintf(stderr, "el primer trabajo no se imprimio\n");
        return latencias;
    }
    if (listos) {
        listos();
    }
    struct Pendiente {
        int k;
        qint64 liberado;
    };
    std::vector<QList<Pendiente>> pendientes(cuantas);
    std::vector<int> liberados(cuantas, 0);
    QElapsedTimer reloj;
    reloj.start();
    auto mirar = [&](int t) {
        const qint64 ahora = reloj.nsecsElapsed();
        const qint64 actual = tamano(t);
        while (!pendientes[t].isEmpty() && actual > base[t] + pendientes[t].first().k * porTrabajo) {
            latencias.push_back((ahora - pendientes[t].first().liberado) / 1e6);
            pendientes[t].removeFirst();
        }
    };
    QFileSystemWatcher vigilante;
    QMap<QString, int> indice;
    for (int t = 0; t < cuantas; ++t) {
        vigilante.addPath(Captura(t));
        indice[Captura(t)] = t;
    }
    QObject::connect(&vigilante, &QFileSystemWatcher::fileChanged, [&](const QString& r) { mirar(indice[r]); });
    for (qint64 siguiente = 0, turno = 0; reloj.elapsed() < segundos * 1000LL; siguiente += 1000 / cuantas, ++turno) {
        while (reloj.elapsed() < siguiente) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        const int t = static_cast<int>(turno % cuantas);
        Liberar(t);
        pendientes[t].append({liberados[t]++, reloj.nsecsElapsed()});
    }
    Pasar(4000);
    for (int t = 0; t < cuantas; ++t) {
        mirar(t);
    }
    return latencias;
}
