#pragma once

#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/EntornoPrueba.h"

#include <QByteArray>
#include <QEventLoop>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QProcess>
#include <QUrl>

// An HTTP answer as a client sees it.
struct RespuestaHttp {
    int codigo = 0;
    QByteArray cuerpo;
    QList<QPair<QByteArray, QByteArray>> encabezados;

    QByteArray Encabezado(const QByteArray& nombre) const {
        for (const auto& [clave, valor] : encabezados) {
            if (clave.compare(nombre, Qt::CaseInsensitive) == 0) {
                return valor;
            }
        }
        return {};
    }
};

// A plain HTTP client that keeps no cookies of its own: the tests send the
// Cookie header they mean to, a replayed one included.
inline RespuestaHttp Pedir(QNetworkAccessManager& red, const QByteArray& metodo, const QUrl& url,
                           const QByteArray& cuerpo = {},
                           const QList<QPair<QByteArray, QByteArray>>& encabezados = {}) {
    QNetworkRequest peticion(url);
    peticion.setTransferTimeout(20000); // a panel that never answers fails the test instead of hanging it
    peticion.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    peticion.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    if (!cuerpo.isEmpty()) {
        peticion.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    }
    for (const auto& [clave, valor] : encabezados) {
        peticion.setRawHeader(clave, valor);
    }
    QNetworkReply* r = red.sendCustomRequest(peticion, metodo, cuerpo);
    QEventLoop espera;
    QObject::connect(r, &QNetworkReply::finished, &espera, &QEventLoop::quit);
    espera.exec();
    RespuestaHttp respuesta{r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), r->readAll(),
                            r->rawHeaderPairs()};
    r->deleteLater();
    return respuesta;
}

// Runs orlan-admin of this build on the test's database; returns its exit status.
inline int Admin(const QStringList& argumentos, const QByteArray& entrada = {}) {
    QProcess admin;
    admin.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/orlan-admin/orlan-admin"), argumentos);
    admin.write(entrada);
    admin.closeWriteChannel();
    admin.waitForFinished(60000);
    return admin.exitStatus() == QProcess::NormalExit ? admin.exitCode() : -1;
}

// The demo shop built as a technician builds it: the schema and the demo rows
// through orlan-admin, and the manager's password "demo" set with it.
inline bool PrepararTienda(BaseDatosPrueba& bd, const char* motor, QString* error) {
    if (!bd.Preparar(false)) {
        *error = bd.Error();
        return false;
    }
    if (Admin({"esquema", motor}) != 0 || Admin({"demo"}) != 0 ||
        Admin({"contrasena", "--usuario", "gerente"}, "demo\n") != 0) {
        *error = QStringLiteral("orlan-admin failed");
        return false;
    }
    return true;
}
