#include "dialogs/FrmLogin.h"
#include "credentials/ProveedorCredenciales.h"
#include "crypto/clsDES.h"
#include "database/PruebaBaseDatos.h"
#include "dialogs/frmTecladoLibre.h"
#include "startup/Arranque.h"
#include "testsupport/ServidorPostgres.h"
#include "testsupport/gui/AlAparecer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// The stored form of a password: DES under the terminal's key, in Base64.
QString Cifrar(const QString& contrasena) {
    clsDES des;
    des.Key(*ProveedorCredenciales().ObtenerLlave());
    return des.EncryptString(contrasena, QString(), true);
}

// Employees: group 1 holds permission 27, group 2 only permission 5.
class Login : public PruebaBaseDatos {
protected:
    void SetUp() override {
        PruebaBaseDatos::SetUp();
        m_presentador = EstablecerPresentadorMensaje([this](const QString& texto, int botones) {
            m_avisos << texto + u'|' + QString::number(botones);
            return quint8(1);
        });
        const QList<std::tuple<int, QString, QString, int>> empleados = {
            {1, "gerente", "'" + Cifrar("Secreta") + "'", 1},
            {2, "cajero", "'" + Cifrar("caja") + "'", 2},
            {3, "O''Brien", "'" + Cifrar("trébol") + "'", 1},
            {4, "sinclave", "NULL", 1},
            {5, "danada", "'=='", 1},
            {6, "basura", "'QUJDREVGR0g='", 1},
            {7, "vacia", "''", 1},
            {8, "vaciacifrada", "'" + Cifrar("") + "'", 1},
            {9, "rusa", "'" + Cifrar("clave€Ж") + "'", 1}};
        for (const auto& [id, usuario, contrasena, grupo] : empleados) {
            Ejecutar(QString("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (%1, '%2', %3)")
                         .arg(id)
                         .arg(usuario, contrasena));
            Ejecutar(QString("INSERT INTO EmpleadosXGrupo (ID_Empleado, ID_Grupo_Trabajo) VALUES (%1, %2)")
                         .arg(id)
                         .arg(grupo));
        }
        Ejecutar("INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (1, 27), (2, 5)");
    }
    void TearDown() override {
        EstablecerPresentadorMensaje(m_presentador);
        PruebaBaseDatos::TearDown();
    }

    // Types the two fields and presses "Aceptar" on a shown dialog.
    void Intentar(FrmLogin& login, const QString& usuario, const QString& contrasena) {
        m_avisos.clear();
        login.txtUsuario->setText(usuario);
        login.txtContraseña->setText(contrasena);
        login.cmdAceptar->click();
    }

    QStringList m_avisos;
    PresentadorMensaje m_presentador;
};

} // namespace

TEST_F(Login, UnOperadorValidoEntraYValidoSobreviveAlDialogo) {
    {
        FrmLogin login;
        QWidget* foco = nullptr;
        QTimer::singleShot(0, &login, [&] {
            ProcesarEventos();
            foco = QApplication::focusWidget();
            login.txtUsuario->setText("gerente");
            login.txtContraseña->setText("sECRETA"); // letter case does not count
            QKeyEvent intro(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(login.txtContraseña, &intro); // Enter presses "Aceptar"
        });
        login.exec();
        EXPECT_EQ(foco, login.txtUsuario);
        EXPECT_TRUE(m_avisos.isEmpty());
        EXPECT_TRUE(FrmLogin::Valido());
        login.show(); // showing it again is a new load
        EXPECT_FALSE(FrmLogin::Valido());
        Intentar(login, "O'Brien", "TRÉBOL");
        EXPECT_TRUE(FrmLogin::Valido());
        // A password typed with a character outside Windows-1252 matches what was stored for it.
        login.show();
        Intentar(login, "rusa", "CLAVE€Ж");
        EXPECT_TRUE(FrmLogin::Valido());
    }
    // Read later, with the dialog gone; a new load resets it, "Cancelar" keeps it false.
    EXPECT_TRUE(FrmLogin::Valido());
    FrmLogin otro;
    EXPECT_FALSE(FrmLogin::Valido());
    otro.show();
    otro.cmdCancelar->click();
    EXPECT_FALSE(otro.isVisible());
    EXPECT_FALSE(FrmLogin::Valido());
}

TEST_F(Login, LosRechazosVacianLosCamposYDejanElFocoEnElUsuario) {
    FrmLogin login;
    login.show();
    ProcesarEventos();
    const QString invalido = "El usuario es inválido o no tiene privilegios suficientes|0";
    const QString incorrecta = "La contraseña es incorrecta|0";
    const QList<std::tuple<QString, QString, QString>> casos = {
        {"gerente", "otra", incorrecta},    {"gerente", "", incorrecta},
        {"cajero", "caja", invalido},       // exists, but without permission 27
        {"nadie", "x", invalido},           // unknown
        {"x' OR '1'='1", "x", invalido},    // a quote cannot end the literal
        {"basura", "ABCDEFGH", incorrecta}, // junk decrypts to junk
        {"vacia", "", incorrecta},          // an empty stored password matches nothing...
        {"vaciacifrada", "", incorrecta},   // ...nor does an encrypted empty one
        {"rusa", "clave€?x", incorrecta},
    };
    for (const auto& [usuario, contrasena, aviso] : casos) {
        login.txtContraseña->setFocus();
        Intentar(login, usuario, contrasena);
        EXPECT_EQ(m_avisos, QStringList{aviso}) << usuario.toStdString();
        EXPECT_EQ(login.txtUsuario->text() + login.txtContraseña->text(), "");
        EXPECT_EQ(QApplication::focusWidget(), login.txtUsuario);
        EXPECT_TRUE(login.isVisible());
        EXPECT_FALSE(FrmLogin::Valido());
    }
}

TEST_F(Login, LosErroresSeRegistranYElDialogoSigueAbierto) {
    FrmLogin login;
    login.show();
    // A NULL password, a text with nothing to decode, no key: logged, handed to
    // the handler (its trace line), no message, the fields kept.
    const QList<std::tuple<QString, QString>> casos = {{"sinclave", "Invalid use of Null"},
                                                       {"danada", "Subscript out of range"},
                                                       {"gerente", "No se obtuvo la llave de las contraseñas"}};
    for (const auto& [usuario, descripcion] : casos) {
        if (usuario == "gerente") {
            BaseDatosPrueba::EscribirCredenciales("Usuario=orlan\n");
        }
        Intentar(login, usuario, "Secreta");
        EXPECT_TRUE(Bitacora().contains("12:00:00Cola Impresion, " + descripcion + "\r\n")) << usuario.toStdString();
        EXPECT_TRUE(Traza().endsWith("Base de Datos-" + descripcion + "\r\n"));
        EXPECT_TRUE(m_avisos.isEmpty());
        EXPECT_EQ(login.txtUsuario->text() + login.txtContraseña->text(), usuario + "Secreta");
        EXPECT_TRUE(login.isVisible());
        EXPECT_FALSE(FrmLogin::Valido());
    }

    // The database goes away while the dialog is shown modally: the error is
    // handled and the dialog still answers.
    ServidorPostgres& servidor = ServidorPostgres::Compartido();
    QTimer::singleShot(0, &login, [&] {
        if (kMotor == Motor::PostgreSql) {
            ASSERT_TRUE(servidor.Detener()) << servidor.Error().toStdString();
        } else {
            Conexion::Instancia().Cerrar();
        }
        Intentar(login, "gerente", "Secreta");
        login.cmdCancelar->click();
    });
    login.exec();
    const QString descripcion = Conexion::Instancia().Errores().value(0).descripcion;
    EXPECT_FALSE(descripcion.isEmpty());
    EXPECT_TRUE(Bitacora().contains("Cola Impresion, " + descripcion + "\r\n"));
    EXPECT_TRUE(Traza().endsWith("Base de Datos-" + descripcion + "\r\n"));
    if (kMotor == Motor::PostgreSql) {
        EXPECT_TRUE(Bitacora().endsWith(":00A ocurrido un error y es necesario reiniciar\r\n"));
        ASSERT_TRUE(servidor.Iniciar()) << servidor.Error().toStdString();
    }
}

TEST_F(Login, LosBotonesDelTecladoLlenanCadaCampo) {
    FrmLogin login;
    login.show();
    // The keyboard is answered from inside its modal showing; "" cancels it.
    QString visto;
    for (const auto& [i, texto] : QList<std::pair<int, QString>>{{0, "gerente"}, {1, "Secreta"}, {0, ""}}) {
        QTimer::singleShot(0, [&, texto = texto] {
            frmTecladoLibre* teclado = frmTecladoLibre::Cargar();
            teclado->txtTexto->setText(texto);
            visto = teclado->MsTitulo + u'|' + teclado->txtTexto->displayText();
            (texto.isEmpty() ? teclado->cmdCancelar : teclado->cmdAceptar)->click();
        });
        login.txtUsuario->setText("antes");
        login.cmdTeclado[i]->click();
        EXPECT_EQ((i ? login.txtContraseña : login.txtUsuario)->text(), texto);
        if (i == 1) {
            EXPECT_EQ(visto, "Ingresar contraseña|*******");
        } else if (!texto.isEmpty()) {
            EXPECT_EQ(visto, "Ingresar usuario|gerente");
        }
    }
}
