#include "ports/PuertoPpdev.h"
#include "lpt/lptTest.h"
#include "lpt/lptUtils.h"
#include "platform/Ajustes.h"
#include "platform/Reloj.h"
#include "platform/Rutas.h"
#include "printer/ctlImpresora.h"
#include "testsupport/EntornoPrueba.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <sys/ioctl.h>
#include <vector>

namespace {

// The ppdev driver with a printer on each of its devices, as the ioctls show
// them: raw status lines, the control lines as written, and the data byte
// taken on every rising strobe while the printer is ready.
struct Ppdev {
    struct Impresora {
        quint8 estado = 0xD8;
        quint8 control = 0;
        quint8 datos = 0;
        QByteArray capturado;
    };
    std::map<QByteArray, Impresora> dispositivos; // by path
    std::map<int, QByteArray> abiertos;           // descriptor -> path
    std::vector<std::pair<unsigned long, int>> escrituras;
    int reclamos = 0;

    PuertoPpdev::Sistema Sistema() {
        return {
            [this](const QByteArray& ruta) {
                if (!dispositivos.count(ruta)) {
                    return -ENOENT;
                }
                const int fd = 10 + static_cast<int>(abiertos.size());
                abiertos[fd] = ruta;
                return fd;
            },
            [this](int fd, unsigned long pedido, unsigned char* valor) {
                Impresora& p = dispositivos.at(abiertos.at(fd));
                switch (pedido) {
                case PPCLAIM:
                    ++reclamos;
                    break;
                case PPRSTATUS:
                    *valor = p.estado;
                    break;
                case PPRCONTROL:
                    *valor = p.control;
                    break;
                case PPWDATA:
                    escrituras.emplace_back(pedido, *valor);
                    p.datos = *valor;
                    break;
                case PPWCONTROL:
                    escrituras.emplace_back(pedido, *valor);
                    if (!(p.control & 1) && (*valor & 1) && (p.estado & 0xA8) == 0x88) {
                        p.capturado += char(p.datos);
                    }
                    p.control = *valor;
                    break;
                }
                return 0;
            },
            [this](int fd) { abiertos.erase(fd); },
        };
    }
};

class PuertoPpdevPrueba : public ::testing::Test {
protected:
    void SetUp() override {
        m_ppdev.dispositivos["/dev/parport0"];
        m_ppdev.dispositivos["/dev/parport1"];
        PuertoES::Establecer(std::make_unique<PuertoPpdev>(m_ppdev.Sistema()));
    }
    void TearDown() override {
        PuertoES::Establecer(nullptr);
        Reloj::Establecer({});
    }

    EntornoPrueba m_entorno;
    Ppdev m_ppdev;
};

} // namespace

TEST_F(PuertoPpdevPrueba, ALineGoesOutByteByByteWithAStrobeEach) {
    ASSERT_TRUE(TestPortFunction(0x378));
    EXPECT_EQ(TipoPuertoLpt(), "SPP") << "no EPP register, no ECR, and the data lines stay driven";
    for (const auto& [pedido, valor] : m_ppdev.escrituras) {
        EXPECT_FALSE(pedido == PPWCONTROL && (valor & 0x20)) << "the port is never turned around";
    }
    m_ppdev.escrituras.clear();

    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView("Hi")));
    Ppdev::Impresora& impresora = m_ppdev.dispositivos["/dev/parport0"];
    EXPECT_EQ(impresora.capturado, "Hi");
    const std::vector<std::pair<unsigned long, int>> esperadas = {
        {PPWDATA, 'H'}, {PPWCONTROL, 0x05}, {PPWCONTROL, 0x04}, {PPWDATA, 'i'}, {PPWCONTROL, 0x05}, {PPWCONTROL, 0x04}};
    EXPECT_EQ(m_ppdev.escrituras, esperadas);
    EXPECT_EQ(m_ppdev.reclamos, 1) << "claimed once, kept";
    EXPECT_EQ(m_ppdev.abiertos.size(), 1u) << "only the port used is opened";

    // A printer that stays busy: after 25 seconds the byte is given up.
    Reloj::Establecer([t = QDateTime(QDate(2026, 12, 5), QTime(10, 0))]() mutable { return t = t.addMSecs(100); });
    impresora.estado = 0x58;
    EXPECT_FALSE(ImprimirCadena(0x378, QByteArrayView("x")));
    EXPECT_EQ(impresora.capturado, "Hi");
    EXPECT_TRUE(EntornoPrueba::Leer(Rutas::Local("C:\\PRT.ERR")).endsWith("ImprimirLetra: 0-\r\n"));
}

TEST_F(PuertoPpdevPrueba, EveryLptNameHasADeviceOfItsOwn) {
    ctlImpresora pr;
    QString letra;
    EXPECT_TRUE(pr.InicializarPuerto("LPT2", &letra));
    EXPECT_EQ(letra, "A");
    EXPECT_EQ(pr.DireccionLpt(), 0x378 + 0x800);
    EXPECT_EQ(m_ppdev.abiertos.begin()->second, "/dev/parport1");
    QString linea = "ok";
    EXPECT_TRUE(pr.Imprimirln(linea));
    EXPECT_EQ(m_ppdev.dispositivos["/dev/parport1"].capturado, "ok\n\r");
    EXPECT_TRUE(m_ppdev.dispositivos["/dev/parport0"].capturado.isEmpty());

    m_ppdev.dispositivos["/dev/parport1"].estado = 0xF8;
    EXPECT_FALSE(pr.InicializarPuerto("LPT2", &letra));
    EXPECT_EQ(letra, "P") << "paper out";

    // No device behind LPT3: the port could not be read.
    EXPECT_FALSE(pr.InicializarPuerto("LPT3", &letra));
    EXPECT_EQ(letra, "P");
    EXPECT_EQ(Ajustes::Leer("orlan", "LPT3", "EstadoReal"), "-1");
    EXPECT_TRUE(QString::fromUtf8(EntornoPrueba::Leer(Rutas::Local("C:\\PRT.ERR"))).contains("/dev/parport2: "));
    // The log names the device and the system's reason, not an address.
    const QString bitacora = EntornoPrueba::Bitacora(m_entorno.Datos());
    EXPECT_TRUE(bitacora.contains("(LPT3 en /dev/parport2): no se pudo leer el puerto: /dev/parport2: No such file"))
        << bitacora.toStdString();

    Ajustes::Guardar("ORLAN", "Puertos", "LPT", "ppdev");
    PuertoES::Establecer(nullptr);
    EXPECT_EQ(PuertoES::Actual().BaseLpt(3), 0x378 + 2 * 0x800) << "the setting picks ppdev";
}
