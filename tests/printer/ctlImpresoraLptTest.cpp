#include "PruebaImpresora.h"

TEST_F(ImpresoraLpt, ParallelStatusGivesTheStateLetter) {
    struct Caso {
        quint8 crudo;
        const char* letra;
        bool resultado;
        const char* linea; // the status line before the state line, if any
    };
    // Active-high status = raw XOR 0x80; its bits 0x78 decide.
    const Caso casos[] = {
        {0xD8, "A", true, "COLA IMPRESION: FUNCIONA BIEN 88"},  // 0x58
        {0x58, "A", true, "COLA IMPRESION: FUNCIONA BIEN 216"}, // busy: 0xD8
        {0xF8, "P", false, "COLA IMPRESION: FALTA PAPEL 120"},  // 0x78
        {0x70, "P", false, "COLA IMPRESION: FALTA PAPEL 240"},  // 0xF0
        {0xD0, "D", false, nullptr},                            // error line: 0x50
    };
    const int estados[] = {0, 0, 1, 1, 3};
    Ajustes::Guardar("ORLAN", "lpt1", "Modo", "S");
    int i = 0;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.letra);
        m_puerto->EstablecerEstado(c.crudo);
        m_pr.SetModo(0);
        const qsizetype antes = Eventos().size();
        QString letra;
        EXPECT_EQ(m_pr.InicializarPuerto("lpt1", &letra), c.resultado);
        EXPECT_EQ(letra, c.letra);
        EXPECT_TRUE(m_pr.EsLpt());
        EXPECT_EQ(m_pr.DireccionLpt(), 0x378);
        EXPECT_EQ(m_pr.ModoImpresora(), c.resultado ? 3 : 0) << "the mode is applied only to a usable printer";
        EXPECT_EQ(Ajuste("LPT1", "EstadoReal"), QString::number(c.crudo ^ 0x80));
        EXPECT_EQ(Ajuste("LPT1", "Estado"), QString::number(estados[i]));
        QStringList esperadas;
        if (c.linea != nullptr) {
            esperadas << c.linea;
        }
        esperadas << QStringLiteral("COLA IMPRESION: %1 %2").arg(c.letra).arg(estados[i++]);
        EXPECT_EQ(Eventos().mid(antes), esperadas);
    }
}

TEST_F(ImpresoraLpt, PortNamesAndModes) {
    // Any "Modo" other than exactly E, C or S falls back to Epson.
    for (const char* modo : {"C", "S", "E", "e", "c", "X", ""}) {
        Ajustes::Guardar("ORLAN", "LPT1", "Modo", modo);
        ASSERT_TRUE(m_pr.InicializarPuerto("LPT1"));
        EXPECT_EQ(m_pr.ModoImpresora(), QString(modo) == "C" ? 2 : QString(modo) == "S" ? 3 : 1) << modo;
    }
    EXPECT_EQ(m_pr.GetNameModo(), "Modo Epson");
    m_pr.SetModo(2);
    EXPECT_EQ(m_pr.GetNameModo(), "Modo Citizen");
    m_pr.SetModo(3);
    EXPECT_EQ(m_pr.GetNameModo(), "Modo Star");

    // LPTn reaches the detected base plus n - 1; "LPT12" reads one digit only.
    EXPECT_TRUE(m_pr.ConfigurarPuerto("LPT1", "E"));
    EXPECT_EQ(m_pr.DireccionLpt(), 0x378);
    m_pr.ConfigurarPuerto("LPT12", "E");
    EXPECT_EQ(m_pr.NumeroPuerto(), 1);

    // An unknown kind is recorded under its own key; the port kind is kept.
    QString letra = "?";
    EXPECT_FALSE(m_pr.InicializarPuerto("USB1", &letra));
    EXPECT_EQ(letra, "D");
    EXPECT_TRUE(m_pr.EsLpt());
    EXPECT_EQ(Ajuste("USB1", "USB"), "Desconocida");
    EXPECT_EQ(Ajuste("USB1", "Estado"), "3");
    EXPECT_EQ(Eventos().last(), "COLA IMPRESION: D 3");

    // A fourth character that is not a digit is a type mismatch for the caller.
    for (const char* nombre : {"COMX", "LPT", "USB-", "COM"}) {
        SCOPED_TRACE(nombre);
        try {
            m_pr.InicializarPuerto(nombre, &letra);
            ADD_FAILURE() << "no error";
        } catch (const ErrorEjecucion& e) {
            EXPECT_EQ(e.Numero(), ErrorEjecucion::kTiposNoCoinciden);
        }
    }
    EXPECT_EQ(letra, "D") << "nothing classified";
}

TEST_F(ImpresoraLpt, TextGoesOutAsWindows1252WithLineEnds) {
    Enlazar(1);
    QString linea = "ABC";
    EXPECT_TRUE(m_pr.Imprimirln(linea));
    EXPECT_EQ(linea, "ABC") << "unchanged on a parallel port";
    EXPECT_EQ(Tomar(), "ABC\n\r");
    QString vacia;
    EXPECT_TRUE(m_pr.Imprimirln(vacia));
    EXPECT_EQ(Tomar(), "\n\r");
    EXPECT_TRUE(m_pr.Imprimir(QString::fromUtf8("Año 3€ ½ \u4e2d")));
    EXPECT_EQ(Tomar(), QByteArray("A\xF1o 3\x80 \xBD ?"));

    // A printer out of paper takes nothing: the text is not delivered.
    m_puerto->EstablecerEstado(PuertoSimulado::kSinPapel);
    m_puerto->OcupadoDurante(0);
    {
        RelojQueAvanza reloj(1);
        EXPECT_FALSE(m_pr.Imprimir("x"));
    }
    EXPECT_TRUE(Tomar().isEmpty());
}
