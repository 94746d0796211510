#include "credentials/ProveedorCredenciales.h"
#include "database/AvisoCambios.h"
#include "database/PruebaBaseDatos.h"
#include "platform/Ajustes.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/ServidorPostgres.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

using BaseDatos = PruebaBaseDatos;

TEST_F(BaseDatos, SpanishTextNullsAndLongValuesSurviveARoundTrip) {
    const QString clave = QStringLiteral("Añejo ñandú áéíóú ÁÉÍÓÚ ü ¿¡ €");
    Ejecutar("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (1, 'Muñoz', '" + clave +
             "'), (2, 'Peña', NULL)");
    EXPECT_EQ(ObtenerValor("Contraseña", "Empleado", "Usuario='Muñoz'"), clave);
    EXPECT_EQ(ObtenerValor("Contraseña", "Empleado", "Usuario='Peña'"), "");
    EXPECT_EQ(ObtenerValor("Usuario", "Empleado", "Usuario='Nadie'"), "");
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Empleado", ""), "2");
    EXPECT_THROW(ObtenerValor("x", "NoExiste", ""), ErrorEjecucion); // no failure path of its own

    auto rs = AbrirConsulta("SELECT ID_Empleado, Usuario, Contraseña FROM Empleado ORDER BY ID_Empleado");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Campo("id_empleado").toInt(), 1);
    EXPECT_EQ(rs->Texto("CONTRASEÑA"), clave);
    EXPECT_EQ(rs->Campo(1).toString(), "Muñoz");
    EXPECT_THROW(rs->Campo("NoExiste"), ErrorEjecucion);
    rs->MoveNext();
    EXPECT_TRUE(rs->Campo("Contraseña").isNull());

    // Longer than one read of the driver.
    const QString largo = QString(2500, u'ñ') + QStringLiteral("<N>fin");
    Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (7, 1, '" + largo + "')");
    EXPECT_EQ(ObtenerValor("Datos", "DetalleColaImpresion", "IDtrabajo=7"), largo);

    // Read whole, in pieces too, and on SQLite past a NUL byte (the other
    // backend refuses to store one).
    Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (7, 2, NULL)");
    QString nul = QStringLiteral("1 T\u00e9") + QChar(0) + QStringLiteral("2 Pan");
    if (kMotor == Motor::Sqlite) {
        Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (7, 3, '1 Té' || char(0) || "
                 "'2 Pan')");
    } else {
        Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (7, 3, '1 Té2 Pan')");
        nul.remove(QChar(0));
    }
    auto entero = AbrirConsulta("SELECT " + Conexion::Instancia().TextoEntero("Datos") +
                                " AS Dato FROM DetalleColaImpresion WHERE IdTrabajo = 7 ORDER BY IdRenglon");
    ASSERT_TRUE(entero);
    EXPECT_EQ(entero->Texto("Dato"), largo);
    entero->MoveNext();
    EXPECT_TRUE(entero->Campo("Dato").isNull());
    entero->MoveNext();
    EXPECT_EQ(entero->Texto("Dato"), nul);
}

TEST_F(BaseDatos, ActualizarReplicatesTheStatementOrReportsTheRealFailure) {
    Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1), (2), (3)");
    Ejecutar("INSERT INTO Transacciones (Transaccion) VALUES ('anterior')");
    ASSERT_TRUE(Actualizar("Terminal", "Nombre='d''Ana'", "ID_Terminal=1"));
    const QString sentencia = "UPDATE Terminal SET Nombre='d''Ana' WHERE ID_Terminal=1";
    EXPECT_EQ(ObtenerValor("Nombre", "Terminal", "ID_Terminal=1"), "d'Ana");
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Transacciones", ""), "2");
    const QString numero = ObtenerValor("MAX(ID_Transaccion)", "Transacciones", "");
    EXPECT_EQ(ObtenerValor("Transaccion", "Transacciones", "ID_Transaccion=" + numero), sentencia);
    QString filas; // one row for each other terminal, with the new number
    for (auto rs = AbrirConsulta("SELECT * FROM TransaccionesXTerminal ORDER BY ID_Terminal"); !rs->Fin();
         rs->MoveNext()) {
        filas += rs->Texto("ID_Transaccion") + ":" + rs->Texto("ID_Terminal") + " ";
    }
    EXPECT_EQ(filas, numero + ":2 " + numero + ":3 ");
    EXPECT_TRUE(Bitacora().contains("12:00:00" + sentencia + "\r\n"));
    EXPECT_TRUE(m_mensajes.isEmpty());

    // A duplicate key: an integrity violation, logged without a box.
    EXPECT_FALSE(Actualizar("Terminal", "ID_Terminal=1", "ID_Terminal=2"));
    EXPECT_TRUE(Conexion::Instancia().Errores().first().sqlState.startsWith("23"));
    EXPECT_TRUE(Bitacora().endsWith("12:00:00No es posible duplicar registros\r\n"));
    EXPECT_TRUE(m_mensajes.isEmpty());

    // A statement the database refuses: every provider record logged, then
    // the handler's box. SQLite reports a general error, PostgreSQL its state.
    EXPECT_FALSE(Actualizar("Terminal", "NoExiste=1", "ID_Terminal=2"));
    const ErroresProveedor errores = Conexion::Instancia().Errores();
    ASSERT_FALSE(errores.isEmpty());
    // The log folds the drivers' line breaks: every line starts with its time stamp.
    const auto enUnaLinea = [](QString texto) {
        return texto.replace("\r\n", " ").replace('\r', ' ').replace('\n', ' ');
    };
    for (const ErrorProveedor& e : errores) {
        EXPECT_TRUE(Bitacora().contains(enUnaLinea(QString::number(e.nativo) + e.descripcion + e.sqlState) + "\r\n"));
    }
    for (const QString& linea : Bitacora().split("\r\n", Qt::SkipEmptyParts)) {
        EXPECT_TRUE(linea.startsWith("05/12/2026 12:00:00")) << linea.toStdString();
    }
    const ErrorProveedor& e = errores.first();
    EXPECT_EQ(e.sqlState, kMotor == Motor::Sqlite ? "S1000" : "42703");
    const QString caja = kMotor == Motor::Sqlite ? "BDME " + e.descripcion
                                                 : "BDME-2147467259 " + e.descripcion + " SQLSTATE " + e.sqlState;
    ASSERT_EQ(m_mensajes.size(), 1);
    EXPECT_EQ(m_mensajes[0].texto, caja);
    EXPECT_TRUE(Bitacora().endsWith("12:00:00" + enUnaLinea(caja) + "\r\n"));
    EXPECT_TRUE(Traza().endsWith("Base de Datos-" + e.descripcion + "\r\n"));
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Transacciones", ""), "2");

    // Without the 'TERMINAL' parameter the update and its row stay, the
    // replication fails.
    Ejecutar("DELETE FROM Parametros");
    EXPECT_FALSE(Actualizar("Terminal", "Nombre='x'", "ID_Terminal=1"));
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Transacciones", ""), "3");
    EXPECT_TRUE(Traza().contains("Base de Datos-Either BOF or EOF is True"));
    if (kMotor != Motor::PostgreSql) {
        return;
    }

    // The server goes away under the open connection: "08S01" ahead of the
    // driver's own records, the restart line without a box; a reconnect works.
    m_mensajes.clear();
    ServidorPostgres& servidor = ServidorPostgres::Compartido();
    ASSERT_TRUE(servidor.Detener()) << servidor.Error().toStdString();
    EXPECT_EQ(AbrirConsulta("SELECT * FROM Terminal"), nullptr);
    ASSERT_GE(Conexion::Instancia().Errores().size(), 2);
    EXPECT_EQ(Conexion::Instancia().Errores().first().sqlState, "08S01");
    EXPECT_TRUE(Bitacora().endsWith(":00A ocurrido un error y es necesario reiniciar\r\n"));
    EXPECT_FALSE(Actualizar("Terminal", "Nombre='y'", "ID_Terminal=1"));
    EXPECT_TRUE(m_mensajes.isEmpty());
    EXPECT_FALSE(Conectar());
    ASSERT_TRUE(servidor.Iniciar()) << servidor.Error().toStdString();
    ASSERT_TRUE(Conectar());
    EXPECT_EQ(ObtenerValor("Nombre", "Terminal", "ID_Terminal=1"), "x");
}

TEST_F(BaseDatos, TheHandlerMapsTheOtherErrorsToTheirMessage) {
    const QString reiniciar = "A ocurrido un error y es necesario reiniciar";
    const QString acceso = "No se tiene acceso a la Base de Datos contactar a soporte";
    const QString otro = "BDME-2147467259 descripción SQLSTATE ";
    const qint64 bd = ErrorEjecucion::kErrorBaseDatos;
    // Number, first record's state (empty: no records), log line, box shown.
    const QList<std::tuple<qint64, QString, QString, QString>> casos = {
        {bd, "37000", reiniciar, ""},
        {bd, "01000", reiniciar, ""},
        {bd, "42000", acceso, acceso + "|Base de Datos|error"},
        {bd, "S1000", "BDME primer registro", "BDME primer registro||"},
        {bd, "HYT00", otro + "HYT00", otro + "HYT00||"},
        {bd, "", otro, otro + "||"},
        {13, "S1000", "13 descripción", ""}};
    for (const auto& [numero, estado, linea, caja] : casos) {
        m_mensajes.clear();
        const ErroresProveedor errores{{estado, 17, "primer registro"}, {"01000", 0, "segundo registro"}};
        ManejarErrorBD("Base de Datos", numero, "descripción", estado.isEmpty() ? ErroresProveedor() : errores);
        EXPECT_TRUE(Bitacora().endsWith("12:00:00" + linea + "\r\n")) << linea.toStdString();
        const bool error = !m_mensajes.isEmpty() && m_mensajes[0].icono == CajaMensajes::Icono::Error;
        EXPECT_EQ(m_mensajes.isEmpty() ? ""
                                       : m_mensajes[0].texto + "|" + m_mensajes[0].titulo + (error ? "|error" : "|"),
                  caja);
    }
}

TEST_F(BaseDatos, ConectarComposesTheConnectionFromSettingsAndCredentials) {
    const QString servidor = Ajustes::Leer("ORLAN", "Configuracion", "Servidor");
    const QString base = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");
    if (kMotor == Motor::PostgreSql) {
        // Server, database and user as configured; the password is checked.
        EXPECT_EQ(ObtenerValor("current_user || ' ' || current_database()", "(SELECT 1) AS x", ""), "orlan " + base);
        BaseDatosPrueba::EscribirCredenciales("Usuario=orlan\nContrasena=contraseña-orla\n");
        EXPECT_FALSE(Conectar());
    } else {
        EXPECT_TRUE(QFile::exists(base));
    }
    QFile::remove(ProveedorCredenciales::RutaArchivo());
    EXPECT_FALSE(Conectar());
    EXPECT_TRUE(Bitacora().contains("Credenciales: no existe el archivo"));

    // Without a server address: the installation message; SQLite ignores it.
    BaseDatosPrueba::EscribirCredenciales("Usuario=orlan\nContrasena=contraseña-orlan\n");
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "");
    EXPECT_EQ(Conectar(), kMotor == Motor::Sqlite);
    ASSERT_EQ(m_mensajes.size(), 1);
    EXPECT_EQ(m_mensajes[0].texto,
              "Error de instalación, no se encuentra la dirección del servidor, contacte a soporte");
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", servidor);
    EXPECT_TRUE(Conectar());
    EXPECT_TRUE(Conectar()); // an open connection is closed and opened again
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Terminal", ""), "0");
}

TEST(ValoresDeCampo, FieldsRoundHalvesToEvenRaiseErrorNumbersAndNotANumberIsATypeMismatch) {
    // The value, or the number of the error the conversion raised.
    const auto a16 = [](const QVariant& v) -> qint64 {
        try {
            return AEntero16(v);
        } catch (const ErrorEjecucion& e) {
            return -e.Numero();
        }
    };
    const auto a32 = [](const QVariant& v) -> qint64 {
        try {
            return AEntero32(v);
        } catch (const ErrorEjecucion& e) {
            return -e.Numero();
        }
    };
    EXPECT_EQ(ValorCampo("12", 'e'), QVariant(qlonglong(12)));
    EXPECT_EQ(ValorCampo("1.5", 'r'), QVariant(1.5));
    EXPECT_EQ(ValorCampo("doce", 'e'), QVariant(QString("doce")));
    EXPECT_EQ(ValorCampo("12", 't'), QVariant(QString("12")));
    EXPECT_EQ(a16(ValorCampo("2.5", 'r')), 2); // halves to even
    EXPECT_EQ(a16(" 3.5 "), 4);
    EXPECT_EQ(a16("-32768"), -32768);
    EXPECT_EQ(a16("32767.5"), -6); // overflow
    EXPECT_EQ(a32("2147483647"), 2147483647);
    EXPECT_EQ(a32("-2147483648.5"), -2147483648LL);
    EXPECT_EQ(a32(ValorCampo("2147483648", 'e')), -6);
    EXPECT_EQ(a16(QVariant()), -94); // invalid use of Null
    EXPECT_EQ(a16("doce"), -13);     // type mismatch
    // Not a number, from a real column or as text, is no number at all;
    // infinity is too large.
    for (const QVariant& v : {ValorCampo("nan", 'r'), QVariant("NaN"), QVariant("-nan")}) {
        EXPECT_EQ(a16(v), -13) << v.toString().toStdString();
        EXPECT_EQ(a32(v), -13) << v.toString().toStdString();
    }
    EXPECT_EQ(a32(ValorCampo("inf", 'r')), -6);
    EXPECT_EQ(a16("-inf"), -6);
}

TEST_F(BaseDatos, APasswordWithSemicolonsAndBracesConnectsAndAddsNoAttribute) {
    // An ordinary shop's string is what it always was.
    EXPECT_EQ(CadenaConexion("caja1", "DBORLAN", "orlan", "secreto", ""),
              "server=caja1;driver={sql server};database=DBORLAN;uid=orlan;pwd=secreto;");
    EXPECT_EQ(CadenaConexion("caja1", "DBORLAN", "orlan", "a=b", "5433"),
              "server=caja1;driver={sql server};database=DBORLAN;uid=orlan;pwd=a=b;port=5433;");
    // Values that would end early or lose blanks go in braces; each reads back whole.
    const QString otra = QDir::tempPath() + "/orlan-inyectada.db";
    QFile::remove(otra);
    const QStringList hostiles = {"a;b}c{d", "}", " x", "x;Driver={SQLite3};database=" + otra, "{}}"};
    for (const QString& p : hostiles) {
        const QString cadena = CadenaConexion("caja1", "DBORLAN", "orlan", p, "");
        EXPECT_EQ(ValorCadenaConexion(cadena, "pwd"), p) << cadena.toStdString();
        EXPECT_EQ(ValorCadenaConexion(cadena, "database"), "DBORLAN") << cadena.toStdString();
        EXPECT_EQ(ValorCadenaConexion(cadena, "port"), "") << cadena.toStdString();
    }

    const QString base = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");
    ServidorPostgres* servidor = kMotor == Motor::PostgreSql ? &ServidorPostgres::Compartido() : nullptr;
    const auto restaurar = qScopeGuard([servidor] {
        if (servidor) {
            servidor->CambiarContrasena(QString::fromUtf8(ServidorPostgres::kContrasena));
        }
        BaseDatosPrueba::EscribirCredenciales("Usuario=orlan\nContrasena=contraseña-orlan\n");
    });
    for (const QString& p : {hostiles[0], hostiles[3]}) {
        if (servidor) {
            ASSERT_TRUE(servidor->CambiarContrasena(p)) << servidor->Error().toStdString();
        }
        BaseDatosPrueba::EscribirCredenciales("Usuario=orlan\nContrasena=" + p.toUtf8() + "\n");
        ASSERT_TRUE(Conectar()) << p.toStdString();
        EXPECT_EQ(ValorCadenaConexion(Conexion::Instancia().Cadena(), "pwd"), p);
        if (kMotor == Motor::PostgreSql) {
            EXPECT_EQ(ObtenerValor("current_user || ' ' || current_database()", "(SELECT 1) AS x", ""),
                      "orlan " + base);
        }
        EXPECT_FALSE(QFile::exists(otra));
    }
}

TEST_F(BaseDatos, BoundValuesAndDoubledQuotesNeverEndALiteral) {
    Conexion& conexion = Conexion::Instancia();
    if (kMotor == Motor::PostgreSql) {
        // A server whose default lets a backslash escape a quote.
        const QString base = conexion.Consultar("SELECT current_database()")->Campo(0).toString();
        Ejecutar("ALTER DATABASE \"" + base + "\" SET standard_conforming_strings = off");
        ASSERT_TRUE(Conectar());
        EXPECT_EQ(conexion.Consultar("SHOW standard_conforming_strings")->Campo(0).toString(), "on");
    }
    Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    const QString hostil = QStringLiteral("\\';DELETE FROM Parametros--");

    // The fixed statements double quotes: the backslash stays a character.
    EXPECT_EQ(ObtenerValor("'" + DuplicarComillas(hostil) + "'", "Parametros", ""), hostil);
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Parametros", "Id_Parametro='" + DuplicarComillas(hostil) + "'"), "0");

    // Bound values: text with quotes, backslashes and accents, integers, NULL.
    EXPECT_EQ(conexion.Ejecutar("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (?, ?, ?)",
                                {qint64(7), hostil.left(20) + QStringLiteral(" Muñoz"), QVariant()}),
              1);
    auto fila = conexion.Consultar("SELECT ID_Empleado, Contraseña FROM Empleado WHERE Usuario = ?",
                                   {hostil.left(20) + QStringLiteral(" Muñoz")});
    ASSERT_EQ(fila->RecordCount(), 1);
    EXPECT_EQ(fila->Campo("ID_Empleado").toLongLong(), 7);
    EXPECT_TRUE(fila->Campo("Contraseña").isNull());
    const QString largo = QString(3900, u'\'') + hostil;
    conexion.Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (?, ?, ?)", {7, 1, largo});
    EXPECT_EQ(conexion.Consultar("SELECT Datos FROM DetalleColaImpresion WHERE IdTrabajo = ?", {qint64(7)})
                  ->Campo(0)
                  .toString(),
              largo);
    EXPECT_EQ(conexion.Consultar("SELECT COUNT(*) FROM Empleado WHERE Usuario = ?", {QStringLiteral("' OR 1=1--")})
                  ->Campo(0)
                  .toLongLong(),
              0);
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Parametros", ""), "1");

    // A terminal row another program wrote enters the replication only as a
    // number; SQLite keeps text in its integer column.
    Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1), (2)");
    if (kMotor == Motor::Sqlite) {
        Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES ('3); DELETE FROM Parametros;--')");
    }
    EXPECT_TRUE(Actualizar("Terminal", "ID_Terminal=1", "ID_Terminal=1"));
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Parametros", ""), "1");
    EXPECT_EQ(ObtenerValor("COUNT(*)", "TransaccionesXTerminal", ""), "1");
    if (kMotor == Motor::Sqlite) {
        EXPECT_TRUE(Bitacora().contains("Replicacion, fila no valida en Terminal ('3); DELETE FROM Parametros;--')"));
    }
}
