#include "server/InterpretarRenglon.h"
#include "printer/PruebaImpresora.h"
#include "support/ErrorEjecucion.h"

using Renglon = ImpresoraLpt;

namespace {

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

const QByteArray kNegritaSi = H("1B4501");
const QByteArray kNegritaNo = H("1B4500");

} // namespace

TEST_F(Renglon, TextRunsAndTagsBecomeTheDialectsBytes) {
    Enlazar(1);
    struct Caso {
        QString renglon;
        QByteArray bytes;
    };
    const Caso casos[] = {
        {"Total: <B>15.00</B>", "Total: " + kNegritaSi + "15.00" + kNegritaNo},
        {"<b>x</B>", kNegritaSi + "x" + kNegritaNo},
        {"<U>text", "text"},
        {"a <x> b > c", "a  b > c"},
        {"<N>", ""},
        {"", ""},
        {"  dos  blancos ", "  dos  blancos "},
        {"<XH>w</xh><H>h</H>", H("1B2132") + "w" + H("1B2100") + H("1B2120") + "h" + H("1B2100")},
        {"<C>c</C><S>s</S><I>i</I>", H("1B7201") + "c" + H("1B7200") + H("1B2D01") + "s" + H("1B2D00") +
                                         H("1B4B011B7B01") + "i" + H("1B4B011B7B00")},
        {"<caja><Corte>", H("1B7000") + H("0A0D").repeated(5) + H("1B6D")},
        {QStringLiteral("Año <B>ñ</B> 5€"), "A\xF1o " + kNegritaSi + "\xF1" + kNegritaNo + " 5\x80"},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(InterpretarRenglon(m_pr, c.renglon), ResultadoRenglon::Completo) << c.renglon.toStdString();
        EXPECT_EQ(Tomar(), c.bytes) << c.renglon.toStdString();
    }

    // Styles are not reset between lines: both letters come out bold.
    InterpretarRenglon(m_pr, u"<B>A");
    InterpretarRenglon(m_pr, u"B</B>");
    EXPECT_EQ(Tomar(), kNegritaSi + "AB" + kNegritaNo);

    // Star has no underline: the tags are consumed and send nothing.
    m_pr.SetModo(3);
    InterpretarRenglon(m_pr, u"<S>x</S>");
    EXPECT_EQ(Tomar(), "x");
}

TEST_F(Renglon, AnUnterminatedTagIsAnErrorAfterTheTextBeforeIt) {
    Enlazar(1);
    // The check before printing refuses the same lines and prints nothing.
    for (const char* renglon : {"a < b", "x<B", "<"}) {
        EXPECT_THROW(ComprobarRenglon(QString::fromLatin1(renglon)), ErrorEjecucion) << renglon;
    }
    EXPECT_NO_THROW(ComprobarRenglon(u"a <x> b > c<N>"));
    EXPECT_TRUE(Tomar().isEmpty());
    for (const char* renglon : {"a < b", "x<B", "<"}) {
        EXPECT_THROW(InterpretarRenglon(m_pr, QString::fromLatin1(renglon)), ErrorEjecucion) << renglon;
    }
    EXPECT_EQ(Tomar(), "a x");

    // A long line is quoted only in part: the message is logged at every tick.
    const QString largo = "<" + QString(4000, u'x');
    try {
        InterpretarRenglon(m_pr, largo);
        ADD_FAILURE();
    } catch (const ErrorEjecucion& e) {
        EXPECT_EQ(e.Descripcion(), "Etiqueta sin cerrar en el renglon: " + largo.left(80) + "...");
    }
}
