#include "database/PruebaBaseDatos.h"
#include "platform/Ajustes.h"
#include "startup/Estado.h"
#include "startup/ProveedorCredenciales.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/ServidorPostgres.h"

#include <QFile>

using BaseDatos = PruebaBaseDatos;

TEST_F(BaseDatos, SpanishTextNullsAndLongValuesSurviveARoundTrip) {
    const QString clave = QStringLiteral("Añejo ñandú áéíóú ÁÉÍÓÚ ü ¿¡ €");
    Ejecutar("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (1, 'Muñoz', '" + clave + "')");
    Ejecutar("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (2, 'Peña', NULL)");

    EXPECT_EQ(ObtenerValor("Contraseña", "Empleado", "Usuario='Muñoz'"), clave);
    EXPECT_EQ(ObtenerValor("Contraseña", "Empleado", "Usuario='Peña'"), "");
    EXPECT_EQ(ObtenerValor("Usuario", "Empleado", "Usuario='Nadie'"), "");
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Empleado", ""), "2");

    auto rs = AbrirConsulta("SELECT ID_Empleado, Usuario, Contraseña FROM Empleado ORDER BY ID_Empleado");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Campo("id_empleado").toInt(), 1);
    EXPECT_EQ(rs->Texto("CONTRASEÑA"), clave);
    EXPECT_EQ(rs->Campo(1).toString(), "Muñoz");
    rs->MoveNext();
    EXPECT_TRUE(rs->Campo("Contraseña").isNull());
    EXPECT_EQ(rs->Texto("Contraseña"), "");
    rs->MoveNext();
    EXPECT_TRUE(rs->Fin());
    EXPECT_THROW(rs->Campo(0), ErrorEjecucion);
    rs->MoveFirst();
    EXPECT_THROW(rs->Campo("NoExiste"), ErrorEjecucion);

    // Longer than one read of the driver.
    const QString largo = QString(2500, u'ñ') + QStringLiteral("<N>fin");
    Ejecutar("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Escribiendo, id_impresora) VALUES (7, 'T', -1, 1)");
    Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (7, 1, '" + largo + "')");
    EXPECT_EQ(ObtenerValor("Datos", "DetalleColaImpresion", "IDtrabajo=7"), largo);
    EXPECT_EQ(ObtenerValor("Escribiendo", "ColaImpresion", "IDTrabajo=7"), "-1");
    EXPECT_TRUE(m_mensajes.isEmpty());
}

TEST_F(BaseDatos, ActualizarStoresTheStatementAndReplicatesItToTheOtherTerminals) {
    Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    for (int t : {1, 2, 3}) {
        Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(t));
    }
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Redirigido, Estado_Impresora) "
             "VALUES (5, 1, 'LPT1', 5, 'A')");
    Ejecutar("INSERT INTO Transacciones (Transaccion) VALUES ('anterior')");

    ASSERT_TRUE(Actualizar("Impresora", "Estado_Impresora='D', Nombre_Impresora='Cocina d''Ana'", "Id_Impresora=5"));
    const QString sentencia =
        "UPDATE Impresora SET Estado_Impresora='D', Nombre_Impresora='Cocina d''Ana' WHERE Id_Impresora=5";

    EXPECT_EQ(ObtenerValor("Nombre_Impresora", "Impresora", "Id_Impresora=5"), "Cocina d'Ana");
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Transacciones", ""), "2");
    const QString numero = ObtenerValor("MAX(ID_Transaccion)", "Transacciones", "");
    EXPECT_EQ(ObtenerValor("Transaccion", "Transacciones", "ID_Transaccion=" + numero), sentencia);

    auto rs = AbrirConsulta("SELECT ID_Transaccion, ID_Terminal FROM TransaccionesXTerminal ORDER BY ID_Terminal");
    ASSERT_TRUE(rs);
    ASSERT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Texto("ID_Transaccion"), numero);
    EXPECT_EQ(rs->Campo("Id_Terminal").toInt(), 2);
    rs->MoveNext();
    EXPECT_EQ(rs->Texto("ID_Transaccion"), numero);
    EXPECT_EQ(rs->Campo("Id_Terminal").toInt(), 3);

    EXPECT_TRUE(Bitacora().contains("12:00:00 " + sentencia + "\r\n"));
    EXPECT_TRUE(m_mensajes.isEmpty());
    EXPECT_FALSE(QFile::exists(Rutas::Local("C:\\TT.LOG")));
}

TEST_F(BaseDatos, ActualizarFailuresLogTheProviderErrorsAndKeepWhatWasDone) {
    Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (2)");
    Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Redirigido) VALUES (5, 1, 'COM1', 5)");

    // No 'TERMINAL' parameter: the update and its Transacciones row stay.
    EXPECT_FALSE(Actualizar("Impresora", "Redirigido=6", "Id_Impresora=5"));
    EXPECT_EQ(ObtenerValor("Redirigido", "Impresora", "Id_Impresora=5"), "6");
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Transacciones", ""), "1");
    EXPECT_EQ(ObtenerValor("COUNT(*)", "TransaccionesXTerminal", ""), "0");
    EXPECT_TRUE(Bitacora().contains(" -2146825267 Either BOF or EOF is True"));
    EXPECT_TRUE(Traza().startsWith("Base de Datos-Either BOF or EOF is True"));

    // A statement the database refuses: nothing is stored, every record is logged.
    EXPECT_FALSE(Actualizar("Impresora", "NoExiste=1", "Id_Impresora=5"));
    const ErroresProveedor errores = Conexion::Instancia().Errores();
    ASSERT_FALSE(errores.isEmpty());
    for (const ErrorProveedor& e : errores) {
        EXPECT_TRUE(Bitacora().contains(QString::number(e.nativo) + e.descripcion + e.sqlState + "\r\n"));
    }
    EXPECT_TRUE(Traza().endsWith("Base de Datos-" + errores.first().descripcion + "\r\n"));
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Transacciones", ""), "1");
}

TEST_F(BaseDatos, RealFailuresReachTheErrorHandler) {
    Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
    try {
        Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
        FAIL() << "a duplicate key was accepted";
    } catch (const ErrorEjecucion& e) {
        EXPECT_EQ(e.Numero(), ErrorEjecucion::kErrorIntegridad);
        ASSERT_FALSE(e.Errores().isEmpty());
        EXPECT_TRUE(e.Errores().first().sqlState.startsWith("23")) << e.Errores().first().sqlState.toStdString();
        ManejarErrorBD("Base de Datos", e.Numero(), e.Descripcion(), e.Errores());
    }
    EXPECT_TRUE(Bitacora().endsWith(" No es posible duplicar registros\r\n"));
    EXPECT_TRUE(m_mensajes.isEmpty());

    // An unknown table: the select fails, the handler shows the driver's text.
    EXPECT_EQ(AbrirConsulta("SELECT * FROM NoExiste"), nullptr);
    const ErroresProveedor errores = Conexion::Instancia().Errores();
    ASSERT_FALSE(errores.isEmpty());
    ASSERT_EQ(m_mensajes.size(), 1);
    if (kMotor == Motor::Sqlite) {
        // SQLite reports a general error.
        EXPECT_EQ(errores.first().sqlState, "S1000");
        EXPECT_EQ(m_mensajes[0].texto, "BDME " + errores.first().descripcion);
        EXPECT_TRUE(errores.first().descripcion.contains("no such table"));
    } else {
        EXPECT_EQ(errores.first().sqlState, "42P01");
        EXPECT_EQ(m_mensajes[0].texto, "BDME-2147467259 " + errores.first().descripcion + " SQLSTATE 42P01");
    }
    EXPECT_TRUE(Bitacora().endsWith(" " + m_mensajes[0].texto + "\r\n"));

    // ObtenerValor has no failure path of its own.
    EXPECT_THROW(ObtenerValor("x", "NoExiste", ""), ErrorEjecucion);
}

TEST_F(BaseDatos, ConectarNeedsCredentialsAndReportsAMissingServerAddress) {
    const QByteArray credenciales = EntornoPrueba::Leer(ProveedorCredenciales::RutaArchivo());
    QFile::remove(ProveedorCredenciales::RutaArchivo());
    EXPECT_FALSE(Conectar());
    EXPECT_FALSE(Conexion::Instancia().Abierta());
    EXPECT_TRUE(Bitacora().contains("Credenciales: no existe el archivo"));
    EXPECT_THROW(ObtenerValor("1", "Terminal", ""), ErrorEjecucion);

    BaseDatosPrueba::EscribirCredenciales(credenciales);
    const QString servidor = Ajustes::Leer("ORLAN", "Configuracion", "Servidor");
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "");
    // SQLite ignores the address; a server-based backend cannot be reached.
    EXPECT_EQ(Conectar(), kMotor == Motor::Sqlite);
    ASSERT_EQ(m_mensajes.size(), 1);
    EXPECT_EQ(m_mensajes[0].texto,
              "Error de instalación, no se encuentra la dirección del servidor, contacte a soporte");
    EXPECT_EQ(m_mensajes[0].icono, CajaMensajes::Icono::Error);

    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", servidor);
    EXPECT_TRUE(Conectar());
    EXPECT_TRUE(Conectar()); // an open connection is closed and opened again
    EXPECT_EQ(NombreServidor, servidor);
    EXPECT_EQ(ObtenerValor("COUNT(*)", "Terminal", ""), "0");
}

TEST_F(BaseDatos, TheHandlerMapsEveryErrorToItsMessageAndLogLine) {
    struct Caso {
        qint64 numero;
        QString estado;
        QString linea;
        QString caja; // empty: no box
        CajaMensajes::Icono icono;
        QString titulo;
    };
    const qint64 bd = ErrorEjecucion::kErrorBaseDatos;
    const QString reiniciar = "A ocurrido un error y es necesario reiniciar";
    const QString acceso = "No se tiene acceso a la Base de Datos contactar a soporte";
    const QList<Caso> casos = {
        {bd, "08S01", reiniciar, "", CajaMensajes::Icono::Ninguno, ""},
        {bd, "37000", reiniciar, "", CajaMensajes::Icono::Ninguno, ""},
        {bd, "01000", reiniciar, "", CajaMensajes::Icono::Ninguno, ""},
        {bd, "42000", acceso, acceso, CajaMensajes::Icono::Error, "Base de Datos"},
        {bd, "S1000", "BDME primer registro", "BDME primer registro", CajaMensajes::Icono::Ninguno, ""},
        {bd, "HYT00", "BDME-2147467259 descripción SQLSTATE HYT00", "BDME-2147467259 descripción SQLSTATE HYT00",
         CajaMensajes::Icono::Ninguno, ""},
        {ErrorEjecucion::kErrorIntegridad, "S1000", "No es posible duplicar registros", "",
         CajaMensajes::Icono::Ninguno, ""},
        {13, "", "13 descripción", "", CajaMensajes::Icono::Ninguno, ""},
    };
    QFile::remove(Rutas::Local("C:\\TT.LOG"));
    for (const Caso& c : casos) {
        m_mensajes.clear();
        ErroresProveedor errores;
        if (!c.estado.isEmpty()) {
            errores = {{c.estado, 17, "primer registro"}, {"01000", 0, "segundo registro"}};
        }
        ManejarErrorBD("Base de Datos", c.numero, "descripción", errores);
        EXPECT_TRUE(Bitacora().endsWith("12:00:00 " + c.linea + "\r\n")) << c.linea.toStdString();
        if (c.caja.isEmpty()) {
            EXPECT_TRUE(m_mensajes.isEmpty()) << c.linea.toStdString();
        } else {
            ASSERT_EQ(m_mensajes.size(), 1) << c.linea.toStdString();
            EXPECT_EQ(m_mensajes[0].texto, c.caja);
            EXPECT_EQ(m_mensajes[0].icono, c.icono);
            EXPECT_EQ(m_mensajes[0].titulo, c.titulo);
        }
    }
    EXPECT_EQ(Traza(), QString("Base de Datos-descripción\r\n").repeated(casos.size()));
    // No provider records at all: still no crash.
    ManejarErrorBD("Base de Datos", bd, "sin registros", {});
    EXPECT_TRUE(Bitacora().endsWith("BDME-2147467259 sin registros SQLSTATE \r\n"));
}

TEST(BaseDatosSinConexion, ConvertsFieldValuesLikeTheOriginalRuntime) {
    EXPECT_EQ(AEntero16(QVariant(qlonglong(-7))), -7);
    EXPECT_EQ(AEntero16(QVariant(2.5)), 2);
    EXPECT_EQ(AEntero16(QVariant(3.5)), 4);
    EXPECT_EQ(AEntero16(QVariant(QStringLiteral(" 12 "))), 12);
    EXPECT_EQ(AEntero32(QVariant(qlonglong(2147483647))), 2147483647);
    auto numero = [](auto f) {
        try {
            f();
        } catch (const ErrorEjecucion& e) {
            return e.Numero();
        }
        return qint64(0);
    };
    EXPECT_EQ(numero([] { AEntero16(QVariant()); }), 94);
    EXPECT_EQ(numero([] { AEntero16(QVariant(QStringLiteral("doce"))); }), 13);
    EXPECT_EQ(numero([] { AEntero16(QVariant(qlonglong(32768))); }), 6);
    EXPECT_EQ(DuplicarComillas("a'b''c"), "a''b''''c");
}
