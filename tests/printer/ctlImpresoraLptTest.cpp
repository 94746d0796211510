#include "PruebaImpresora.h"

#include <QTimer>
#include <memory>

namespace {

// The simulated port with every register access counted. With `propios` it
// stands for a backend that gives every port registers of its own (ppdev):
// all of them lead to the simulated one.
class PuertoContado final : public PuertoES {
public:
    explicit PuertoContado(bool propios) : m_propios(propios), m_puerto({.archivos = false}) {}
    int read8(quint16 direccion) override {
        ++accesos;
        return m_puerto.read8(direccion);
    }
    bool write8(quint16 direccion, quint8 valor) override {
        ++accesos;
        return m_puerto.write8(direccion, valor);
    }
    QString Error() const override { return m_puerto.Error(); }
    std::optional<quint16> BaseLpt(int numero) const override {
        return m_propios && numero >= 1 ? std::optional<quint16>(m_puerto.Base()) : std::nullopt;
    }

    int accesos = 0;

private:
    bool m_propios;
    PuertoSimulado m_puerto;
};

} // namespace

// Through the card's own registers LPTn is the card's base plus n - 1: LPT9
// would reach past the card and LPT0 below it; both are refused without
// touching a register. A backend with registers for every port serves LPT9
// like any other, and has no LPT0 either.
TEST(ImpresoraLptPuertos, PortsOutsideTheCardTouchNoRegister) {
    EntornoPrueba entorno;
    for (const bool propios : {false, true}) {
        SCOPED_TRACE(propios);
        auto nuevo = std::make_unique<PuertoContado>(propios);
        PuertoContado& puerto = *nuevo;
        PuertoES::Establecer(std::move(nuevo));
        ctlImpresora pr;
        QString letra;
        EXPECT_EQ(pr.InicializarPuerto("lpt9", &letra), propios);
        EXPECT_EQ(letra, propios ? "A" : "P");
        if (!propios) {
            EXPECT_EQ(puerto.accesos, 0);
            EXPECT_EQ(Eventos().last().toStdString(),
                      "COLA IMPRESION: impresora (LPT9): LPT9 queda fuera de la tarjeta paralela (LPT1 a LPT8)");
        }

        puerto.accesos = 0;
        EXPECT_FALSE(pr.InicializarPuerto("LPT0", &letra));
        EXPECT_EQ(letra, "P");
        EXPECT_EQ(puerto.accesos, 0);
        EXPECT_EQ(pr.Causa().toStdString(), "LPT0 queda fuera de la tarjeta paralela (LPT1 a LPT8)");
        PuertoES::Establecer(nullptr);
    }
}

TEST_F(ImpresoraLpt, ParallelStatusGivesTheStateLetter) {
    struct Caso {
        quint8 crudo; // active-high status = raw XOR 0x80; its bits 0x78 decide
        const char* letra;
        int estado;
        const char* linea; // the status line before the state line, if any
        const char* causa; // the line after it that names the printer, if any
    };
    const Caso casos[] = {
        {0xD8, "A", 0, "COLA IMPRESION: FUNCIONA BIEN 88", nullptr},                               // 0x58
        {0xF8, "P", 1, "COLA IMPRESION: FALTA PAPEL 120", "impresora (LPT1 en 0x378): sin papel"}, // 0x78
        {0xD0, "D", 3, nullptr, "impresora (LPT1 en 0x378): estado desconocido 80"},               // 0x50
    };
    Ajustes::Guardar("ORLAN", "lpt1", "Modo", "S");
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.letra);
        m_puerto->EstablecerEstado(c.crudo);
        m_pr.SetModo(0);
        const qsizetype antes = Eventos().size();
        QString letra;
        EXPECT_EQ(m_pr.InicializarPuerto("lpt1", &letra), c.estado == 0);
        EXPECT_EQ(letra, c.letra);
        EXPECT_EQ(m_pr.ModoImpresora(), c.estado == 0 ? 3 : 0) << "the mode is applied only to a usable printer";
        EXPECT_EQ(Ajuste("LPT1", "EstadoReal"), QString::number(c.crudo ^ 0x80));
        EXPECT_EQ(Ajuste("LPT1", "Estado"), QString::number(c.estado));
        const QString estado = QStringLiteral("COLA IMPRESION: %1 %2").arg(c.letra).arg(c.estado);
        QStringList esperadas = c.linea ? QStringList{c.linea, estado} : QStringList{estado};
        if (c.causa) {
            esperadas << QStringLiteral("COLA IMPRESION: ") + c.causa;
        }
        EXPECT_EQ(Eventos().mid(antes), esperadas);
    }
}

TEST_F(ImpresoraLpt, PortNamesModesAndLineEnds) {
    // Any "Modo" other than exactly C or S is Epson.
    for (const char* modo : {"C", "S", "c", "X"}) {
        Ajustes::Guardar("ORLAN", "LPT1", "Modo", modo);
        ASSERT_TRUE(m_pr.InicializarPuerto("LPT1"));
        EXPECT_EQ(m_pr.ModoImpresora(), QString(modo) == "C" ? 2 : QString(modo) == "S" ? 3 : 1) << modo;
    }

    // Text is Windows-1252; a parallel port leaves the caller's text alone.
    m_puerto->LimpiarCaptura();
    QString linea = QString::fromUtf8("Año 3€ ½ \u4e2d \xF0\x9F\x8D\x95!");
    EXPECT_TRUE(m_pr.Imprimirln(linea));
    EXPECT_EQ(linea, QString::fromUtf8("Año 3€ ½ \u4e2d \xF0\x9F\x8D\x95!"));
    EXPECT_EQ(Tomar(), QByteArray("A\xF1o 3\x80 \xBD ? ?!\n\r")) << "one '?' for a character outside the BMP";

    // An unknown kind is recorded under its own key.
    QString letra;
    EXPECT_FALSE(m_pr.InicializarPuerto("USB1", &letra));
    EXPECT_EQ(letra, "D");
    EXPECT_EQ(Ajuste("USB1", "USB"), "Desconocida");
    EXPECT_EQ(Ajuste("USB1", "Estado"), "3");
    EXPECT_EQ(Eventos().mid(Eventos().size() - 2),
              QStringList({"COLA IMPRESION: D 3", "COLA IMPRESION: impresora (USB1): tipo de puerto desconocido"}));

    // A fourth character that is not a digit is a type mismatch for the caller.
    for (const char* nombre : {"COMX", "LPT"}) {
        try {
            m_pr.InicializarPuerto(nombre, &letra);
            ADD_FAILURE() << nombre << ": no error";
        } catch (const ErrorEjecucion& e) {
            EXPECT_EQ(e.Numero(), ErrorEjecucion::kTiposNoCoinciden) << nombre;
        }
    }
}

TEST_F(ImpresoraLpt, ALinePrintedFromAnEventInTheBusyWaitLeavesTheWaitingLineWhole) {
    Enlazar(1);
    // The printer is busy when each outer line starts; the wait lets an event
    // through that prints on the same control and frees the printer.
    const QString larga(5000, u'n');
    for (const QString& anidada : {QStringLiteral("12345678"), larga}) {
        SCOPED_TRACE(anidada.size());
        m_puerto->EstablecerEstado(PuertoSimulado::kOcupado);
        bool impresa = false;
        QTimer::singleShot(0, [&] {
            m_puerto->EstablecerEstado(PuertoSimulado::kListo);
            QString copia = anidada;
            impresa = m_pr.Imprimirln(copia) && m_pr.Imprimir(anidada);
        });
        QString linea = QStringLiteral("ABCDEFGH");
        EXPECT_TRUE(m_pr.Imprimirln(linea));
        EXPECT_TRUE(impresa);
        const QByteArray esperada = anidada.toLatin1() + "\n\r" + anidada.toLatin1() + "ABCDEFGH\n\r";
        const QByteArray tomada = Tomar();
        EXPECT_TRUE(tomada == esperada) << tomada.right(20).toHex(' ').toStdString();
    }
}
