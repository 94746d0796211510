#include "config/frmConfigPrinters.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "platform/Ajustes.h"
#include "platform/CajaMensajes.h"
#include "ports/PuertoES.h"
#include "ports/PuertoSimulado.h"
#include "printer/ctlImpresora.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/EntornoPrueba.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

QString Ajuste(const QString& seccion, const QString& clave) {
    return Ajustes::Leer("orlan", seccion, clave, "-");
}

// The form on a fresh settings store, with the simulated parallel port and
// COM ports that lead nowhere unless a test attaches a virtual printer.
// Message boxes are recorded, never shown.
class Configuracion : public ::testing::Test {
protected:
    void SetUp() override {
        m_puerto = &PuertoSimulado::Instalar({.archivos = false});
        for (int n = 1; n <= 4; ++n) {
            Ajustes::Guardar("ORLAN", "Puertos", QStringLiteral("COM%1").arg(n), m_entorno.Raiz() + "/no-hay");
        }
        m_anterior = CajaMensajes::EstablecerPresentador([this](const CajaMensajes::Mensaje& m) {
            m_mensajes.push_back(m);
            return 1;
        });
        m_forma = std::make_unique<frmConfigPrinters>(m_pr2);
    }
    void TearDown() override {
        CajaMensajes::EstablecerPresentador(m_anterior);
        PuertoES::Establecer(nullptr);
    }

    void Guardar(const QString& impresora, const QStringList& serie) {
        m_forma->selectimpresora->setEditText(impresora);
        const auto listas = {m_forma->selectbps, m_forma->selectpar, m_forma->selectbitsd, m_forma->selectbitsp};
        int i = 0;
        for (QComboBox* lista : listas) {
            lista->setEditText(serie[i++]);
        }
        m_forma->btn_guardar->click();
    }

    QStringList Serie() const {
        return {m_forma->selectbps->currentText(), m_forma->selectpar->currentText(),
                m_forma->selectbitsd->currentText(), m_forma->selectbitsp->currentText()};
    }

    std::vector<QCheckBox*> Casillas() const {
        auto& f = *m_forma;
        return {f.ch_Negrita, f.ch_Subrayado, f.Ch_Extendido, f.Ch_Invertido, f.Ch_Caja, f.Ch_Corte, f.Ch_Logo};
    }

    void MarcarTodas(bool marcada) {
        for (QCheckBox* caja : Casillas()) {
            caja->setChecked(marcada);
        }
    }

    EntornoPrueba m_entorno;
    PuertoSimulado* m_puerto = nullptr;
    ctlImpresora m_pr2;
    std::unique_ptr<frmConfigPrinters> m_forma;
    std::vector<CajaMensajes::Mensaje> m_mensajes;
    CajaMensajes::Presentador m_anterior;
};

} // namespace

TEST_F(Configuracion, APrinterNeverConfiguredShowsEpsonAt9600N81WithClearBoxes) {
    frmConfigPrinters& f = *m_forma;
    EXPECT_EQ(f.selectimpresora->currentText(), "COM1");
    EXPECT_EQ(f.selectmodo->currentText(), "E Modo Epson");
    EXPECT_EQ(Serie(), QStringList({"9600", "N", "8", "1"}));
    MarcarTodas(true);
    Ajustes::Guardar("ORLAN", "COM2", "Modo", "C");
    f.selectimpresora->setCurrentText("COM2");
    EXPECT_EQ(f.selectmodo->currentText(), "E Modo Epson") << "choosing a printer loads nothing";
    f.CargarConfiguracion("COM3");
    for (QCheckBox* caja : Casillas()) {
        EXPECT_EQ(caja->isChecked(), caja == f.Ch_Logo) << caja->text().toStdString() << ": only the logo keeps";
    }
}

TEST_F(Configuracion, SaveStoresTheKeysInOrderAndLoadsThemBackByPosition) {
    frmConfigPrinters& f = *m_forma;
    f.selectmodo->setCurrentText("S Modo Star");
    f.ch_Negrita->setChecked(true);
    f.Ch_Logo->setChecked(true);
    Guardar("LPT1", {"19200", "Ninguno", "8", "1"});
    EXPECT_EQ(m_pr2.ModoImpresora(), 3) << "the control reopened the port with the new mode";
    const QString ini = QString::fromUtf8(EntornoPrueba::Leer(Ajustes::RutaArchivo("orlan")));
    EXPECT_TRUE(ini.contains("[LPT1]\nModo=S\nTipo=1\nSettings=19200,N,8,1\nnegrita=1\nextendido=0\nsubrayado=0\n"
                             "invertido=0\ncaja=0\ncorte=0\nlogotipo=1\n"))
        << ini.toStdString();
    EXPECT_EQ(Serie(), QStringList({"19200", "N", "8", "1"}));

    // One character a field, every second one from the end.
    Guardar("COM2", {"9600", "Ninguno", "8", "1.5"});
    EXPECT_EQ(Ajuste("COM2", "Settings"), "9600,N,8,1.5");
    EXPECT_EQ(Serie(), QStringList({"9600,N", "8", "1", "5"}));

    for (auto [nombre, letra] : {std::pair{"Par", "P"}, std::pair{"Impar", "I"}, std::pair{"Espacio", "E"},
                                 std::pair{"Marca", "M"}, std::pair{"Ninguno", "N"}}) {
        Guardar("COM3", {"2400", nombre, "7", "2"});
        EXPECT_EQ(Ajuste("COM3", "Settings"), QStringLiteral("2400,%1,7,2").arg(letra));
        EXPECT_EQ(f.selectpar->currentText(), letra);
    }
    EXPECT_EQ(Ajuste("COM3", "Estado"), "1") << "COM3 leads nowhere";
    EXPECT_TRUE(m_mensajes.empty()) << "an unusable printer is the control's business";
}

TEST_F(Configuracion, ADamagedFeatureValueIsAnErrorTheOperatorSees) {
    // " -1 " is a number; "si" and "70000" (past 16 bits) are not.
    Ajustes::Guardar("ORLAN", "COM4", "negrita", " -1 ");
    Ajustes::Guardar("ORLAN", "COM4", "subrayado", "si");
    Ajustes::Guardar("ORLAN", "COM1", "corte", "70000");

    // The form opens on COM1 and shows the overflow in its registry error box.
    const frmConfigPrinters abierta(m_pr2);
    ASSERT_EQ(m_mensajes.size(), 1u);
    EXPECT_EQ(m_mensajes[0].texto, "Se ha presentado un error de registro:\r\nDesbordamiento en COM1/corte: \"70000\"");

    // Loading stops at the damaged value, the boxes before it loaded.
    MarcarTodas(false);
    EXPECT_THROW(m_forma->CargarConfiguracion("COM4"), ErrorEjecucion);
    EXPECT_TRUE(m_forma->ch_Negrita->isChecked());
    EXPECT_FALSE(m_forma->ch_Subrayado->isChecked());

    // A test page of COM4 reports it in its own box; the log keeps both.
    m_forma->selectimpresora->setEditText("COM4");
    m_forma->btn_test->click();
    ASSERT_EQ(m_mensajes.size(), 2u);
    EXPECT_EQ(m_mensajes[1].texto,
              "Se ha presentado un error de impresion:\r\nNo coinciden los tipos en COM4/subrayado: \"si\"");
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_TRUE(bitacora.contains("Configuracion de impresoras, Desbordamiento en COM1/corte"))
        << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains("Configuracion de impresoras, No coinciden los tipos en COM4/subrayado"));
}

TEST_F(Configuracion, FreeTextIsStoredAsTypedAndFailuresShowTheRegistryError) {
    frmConfigPrinters& f = *m_forma;
    ImpresoraPty impresora;
    ASSERT_TRUE(impresora.Abierta());
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", impresora.Ruta());
    impresora.Iniciar();

    // What the control cannot open gives the paper-out state, and no message.
    Guardar("COM1", {"", "Ninguno", "8", "1"});
    EXPECT_EQ(Ajuste("COM1", "Settings") + Ajuste("COM1", "Estado"), ",N,8,11");
    EXPECT_EQ(f.selectbps->currentText(), "") << "six characters or fewer leave the lists alone";
    Guardar("COM1", {"9600", "Par", "ocho", "1"});
    EXPECT_EQ(Ajuste("COM1", "Settings") + Ajuste("COM1", "Estado"), "9600,P,ocho,11");
    Guardar("COM1", {"9600", "Impar", "8", "1"});
    EXPECT_EQ(Ajuste("COM1", "Estado"), "0") << "odd parity opens";
    const QString largo = "LPT1 impresora de la cocina, la del pati"; // forty characters
    Guardar(largo, {"9600", "N", "8", "1"});
    EXPECT_EQ(Ajuste(largo, "Tipo") + Ajuste(largo, "Estado"), "10");
    ASSERT_TRUE(m_mensajes.empty());

    // No port number in the fourth character: the keys stored before the
    // control refused the name stay.
    f.Ch_Corte->setChecked(true);
    Guardar("X", {"9600", "N", "8", "1"});
    ASSERT_EQ(m_mensajes.size(), 1u);
    EXPECT_EQ(m_mensajes[0].texto, "Se ha presentado un error de registro:\r\nNo coinciden los tipos");
    EXPECT_EQ(m_mensajes[0].titulo, "Error");
    EXPECT_EQ(m_mensajes[0].icono, CajaMensajes::Icono::Error);
    EXPECT_EQ(Ajuste("X", "Tipo") + Ajuste("X", "corte") + Ajuste("X", "logotipo"), "10");
    f.btn_test->click();
    ASSERT_EQ(m_mensajes.size(), 2u);
    EXPECT_EQ(m_mensajes[1].texto, "Se ha presentado un error de impresion:\r\nNo coinciden los tipos");

    // A name the store cannot keep as a section fails at the store or at the
    // control, never silently.
    Guardar("COM]1", {"9600", "N", "8", "1"});
    ASSERT_EQ(m_mensajes.size(), 3u);
    EXPECT_TRUE(m_mensajes[2].texto.startsWith("Se ha presentado un error de registro:\r\n"));

    // A settings file that cannot be written.
    const QString ruta = Ajustes::RutaArchivo("orlan");
    ASSERT_TRUE(QFile::remove(ruta) && QDir().mkpath(ruta));
    Guardar("COM2", {"9600", "N", "8", "1"});
    ASSERT_EQ(m_mensajes.size(), 4u);
    EXPECT_EQ(m_mensajes[3].texto, QString::fromUtf8("Se ha presentado un error de registro:\r\n"
                                                     "No se pudo guardar el valor Modo de la sección COM2"));
    EXPECT_TRUE(f.btn_guardar->isEnabled()) << "the form is usable again";
}

// The test page with every box ticked, byte for byte, per dialect.
// ORLAN_ACTUALIZAR_DORADOS=1 rewrites the files (check the difference before
// committing it).
TEST_F(Configuracion, TestPageMatchesTheGoldenFilesAndPrintsOnlyTheStoredFeatures) {
    frmConfigPrinters& f = *m_forma;
    f.selectimpresora->setCurrentText("LPT1");
    for (const char* letra : {"E", "C", "S"}) {
        SCOPED_TRACE(letra);
        f.selectmodo->setCurrentText(letra);
        MarcarTodas(true);
        f.btn_guardar->click();
        m_puerto->LimpiarCaptura();
        f.btn_test->click();
        const QString ruta = QStringLiteral(ORLAN_TEST_DATA "/config/prueba_%1.bin").arg(letra);
        if (qEnvironmentVariableIntValue("ORLAN_ACTUALIZAR_DORADOS") == 1) {
            m_entorno.Escribir(ruta, m_puerto->Capturado());
            continue;
        }
        EXPECT_EQ(m_puerto->Capturado().toHex().toStdString(), EntornoPrueba::Leer(ruta).toHex().toStdString());
    }

    // None stored: the name and the "Normal" line around the identification
    // page; boxes ticked but not saved are replaced by the stored ones.
    MarcarTodas(false);
    f.btn_guardar->click();
    m_puerto->LimpiarCaptura();
    m_pr2.DocumentType("P");
    const QByteArray identificacion = m_puerto->Capturado();
    m_puerto->LimpiarCaptura();
    f.ch_Negrita->setChecked(true);
    f.Ch_Corte->setChecked(true);
    f.btn_test->click();
    EXPECT_EQ(m_puerto->Capturado(), "LPT1\n\r" + identificacion + "Normal................Normal\n\r");
    EXPECT_FALSE(f.ch_Negrita->isChecked());
}

TEST_F(Configuracion, TestPageOnASerialPrinter) {
    ImpresoraPty impresora;
    ASSERT_TRUE(impresora.Abierta());
    Ajustes::Guardar("ORLAN", "Puertos", "COM2", impresora.Ruta());
    impresora.Iniciar();
    for (auto [clave, valor] : {std::pair{"Modo", "C"}, std::pair{"Settings", "19200,N,8,1"},
                                std::pair{"subrayado", "1"}, std::pair{"corte", "1"}}) {
        Ajustes::Guardar("ORLAN", "COM2", clave, valor);
    }
    m_forma->selectimpresora->setCurrentText("COM2");
    m_forma->btn_test->click();
    // Citizen: reset 11, expanded 0E/0F, underline 1B 2D 01/00, cut 1B 50 00 1B 50 01.
    const QByteArray esperado = QByteArray::fromHex("100404") + "\rCOM2\n\r\x11\x0E\rModo Citizen\n\r\x0F\n\r" +
                                "\rDriver NODRA-SRP All Modes Jun-04 Rev. Jul-05\n\r\r" + QByteArray(32, '=') +
                                "\n\r\n\r\x0FNormal................\rNormal\n\rSubrayado............." +
                                QByteArray::fromHex("1B2D01") + "\rSubrayado\n\r" + QByteArray::fromHex("1B2D00") +
                                QByteArray("\n\r").repeated(12) + QByteArray::fromHex("1B50001B5001");
    EXPECT_EQ(impresora.EsperarRecibidos(esperado.size(), 5000).toHex().toStdString(), esperado.toHex().toStdString());
    EXPECT_EQ(m_pr2.ModoImpresora(), 2);
}

// A job waits on a busy parallel printer, and the wait lets the click on
// "Prueba de Impresion" through: the page is refused, so the job's bytes stay
// on its own printer; once the job is over the page prints.
TEST_F(Configuracion, TestPageIsRefusedWhileAJobPrints) {
    ImpresoraPty com2;
    ASSERT_TRUE(com2.Abierta());
    Ajustes::Guardar("ORLAN", "Puertos", "COM2", com2.Ruta());
    com2.Iniciar();
    m_forma->selectimpresora->setCurrentText("COM2");
    ASSERT_TRUE(m_pr2.InicializarPuerto("LPT1"));
    m_puerto->LimpiarCaptura();
    {
        const ctlImpresora::Uso trabajo(m_pr2);
        m_puerto->EstablecerEstado(PuertoSimulado::kOcupado);
        QTimer::singleShot(0, [&] {
            m_forma->btn_test->click();
            m_puerto->EstablecerEstado(PuertoSimulado::kListo);
        });
        EXPECT_TRUE(m_pr2.Imprimir("resto del trabajo"));
        m_pr2.Cortar();
    }
    EXPECT_TRUE(m_puerto->Capturado().startsWith("resto del trabajo"));
    ASSERT_EQ(m_mensajes.size(), 1u);
    EXPECT_EQ(m_mensajes[0].titulo, "Prueba de Impresion");
    EXPECT_TRUE(com2.EsperarRecibidos(1, 300).isEmpty());

    m_forma->btn_test->click();
    EXPECT_TRUE(com2.EsperarRecibidos(10, 3000).contains("COM2"));
}
