#pragma once

#include "impresora-virtual/CodigosBarras.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <algorithm>
#include <vector>

// Turns the bytes a receipt printer receives into a readable receipt, in the
// dialect of the printer control's command table (1 Epson, 2 Citizen,
// 3 Star). A line ends at each line feed.
//
// The Epson dialect is ESC/POS, read as an Epson printer reads it: every
// command's length is known (ComandosEscPos), so a command never prints as
// text, and one the printer would not know is listed by TomarDesconocidos.
// It keeps the print state (alignment, line spacing, margins, positions,
// fonts A and B, sizes 1x-8x, reverse, upside-down, 90 degrees, tab stops),
// the code page of ESC t (PC437 at power-on unless EstablecerTabla says
// otherwise), the international set of ESC R and UTF-8 (FS ( C), and lays
// out bit images, rasters, barcodes and two-dimensional codes as dots. The
// status requests (DLE EOT, DLE ENQ, GS r, GS I, GS ( H) are consumed and
// print nothing. The bytes of our own command table are read first, so our
// own receipts decode as they always have. Citizen and Star receipts are
// Windows-1252 text between the table's commands.
//
// What the receipt shows as text:
//   styles       [B]..[/B] bold, [U]..[/U] underline, [I]..[/I] inverted,
//                [C]..[/C] colour, [E]..[/E] expanded, [X]..[/X] extra expanded
//   cut          a dashed line with "✂ corte"
//   drawer kick  "==== abre cajón ===="
//   bit images   braille dots, two columns and four dot rows per character
//   codes        [código TIPO: data]
//   other bytes  <hex> for control bytes outside the table
// Padding NULs print nothing. Citizen's colour-on byte is the carriage
// return, so on a Citizen receipt colour shows only where it ends.
//
// Bytes may arrive in pieces of any size: a command split between two pieces
// waits for the rest.
// The print styles in force for a run of text.
struct Estilos {
    bool negrita = false;
    bool subrayado = false;
    bool invertido = false;
    bool color = false;
    bool expandido = false;      // double width
    bool extraExpandido = false; // double width and height
    // ESC/POS print modes
    bool subrayadoDoble = false; // the 2-dot underline
    bool fuenteB = false;
    bool girado = false; // 90 degrees clockwise
    qint8 ancho = 1;     // width and height multipliers, 1 to 8
    qint8 alto = 1;

    int Ancho() const { return std::max<int>(ancho, expandido || extraExpandido ? 2 : 1); }
    int Alto() const { return std::max<int>(alto, extraExpandido ? 2 : 1); }
    bool operator==(const Estilos&) const = default;
};

// One line of paper as the printer lays it out, for drawing the receipt.
// Positions and sizes are in dots of the paper.
struct Renglon {
    enum class Tipo { Texto, Corte, Cajon };
    enum class Alineacion { Izquierda, Centro, Derecha };
    struct Tramo {
        QString texto;
        Estilos estilos;
        int x = 0;     // where its first character starts, from the print area's left edge
        int paso = 0;  // the advance of each character
        int celda = 0; // the width of a character of this font at size 1
    };

    Tipo tipo = Tipo::Texto;
    QList<Tramo> tramos;
    // Dots printed on the line (bit images, rasters, codes), one pixel a dot,
    // black ink on white, from the print area's left edge; they stand on the
    // line's bottom.
    QImage grafico;
    Alineacion alineacion = Alineacion::Izquierda;
    int margen = 0;       // left margin (GS L)
    int anchoArea = 0;    // print area width (GS W); 0 the whole width
    int espaciado = -1;   // line spacing (ESC 3); -1 the default
    int avance = -1;      // a feed of exactly this many dots (ESC J), nothing printed
    int lineas = 1;       // blank lines this one stands for (ESC d)
    bool alReves = false; // upside-down (ESC {)
    int usado = 0;        // how far the line's content reaches
};

class Decodificador {
public:
    static constexpr int kPapel80 = 576; // dots across an 80 mm roll's print width

    // `ancho` is the paper's width in characters of normal print (48 on an
    // 80 mm roll): a character that no longer fits goes on in a new line, as
    // on paper, expanded characters counting twice. 0 wraps only past the
    // widest paper (4096 dots).
    explicit Decodificador(qint16 modo, int ancho = 0, int puntosPapel = kPapel80);

    // 'E', 'C' or 'S' (either case) to 1, 2 or 3; 0 for anything else.
    static qint16 ModoDeLetra(QChar letra);

    // The code page at power-on, by its ESC t number (0 PC437, 16
    // Windows-1252...); false for a number without a table.
    bool EstablecerTabla(int numero);
    static bool TablaConocida(int numero);

    void Alimentar(QByteArrayView bytes);

    // The lines completed since the last call.
    QStringList TomarLineas();

    // Decodes what is still waiting (an unfinished command as plain bytes),
    // completes the current line and returns the remaining lines.
    QStringList Terminar();

    // Also keep every line as a Renglon, for TomarRenglones.
    void ConservarRenglones() { m_conservarRenglones = true; }

    // The lines completed since the last call, with their styles; only
    // after ConservarRenglones.
    QList<Renglon> TomarRenglones();

    // The commands read since the last call that the printer does not know,
    // or knows but cannot carry out (a barcode with bad data), in hex.
    QStringList TomarDesconocidos();

    // A whole stream at once, lines joined with '\n'.
    static QString Decodificar(QByteArrayView bytes, qint16 modo, int ancho = 0);

    // The width of a character of Font A: the paper's dots over its columns.
    int Celda() const { return m_celda; }

private:
    // The styles the text receipt marks, in the order of their letters.
    enum Estilo { kNegrita, kSubrayado, kInvertido, kColor, kExpandido, kExtraExpandido, kEstilos };
    // Reading the stream (Decodificador.cpp). Paso decodes from the start of
    // m_pendiente; returns how many bytes were used, 0 when the command there
    // is still incomplete.
    qsizetype Paso(bool final);
    qsizetype PasoTexto(QByteArrayView p, bool final);
    void Aplicar(qsizetype fila);
    void Reiniciar();
    void Desconocido(QByteArrayView c, const QString& motivo = {});
    // ESC/POS (DecodificadorEscPos.cpp): EjecutarEscPos takes a whole command
    // `c` to the handler of its prefix.
    qsizetype PasoEscPos(QByteArrayView p, bool final);
    void EjecutarEscPos(QByteArrayView c);
    void EjecutarEsc(QByteArrayView c);
    void EjecutarGs(QByteArrayView c);
    void EjecutarFs(QByteArrayView c);
    void EjecutarGraficos(QByteArrayView datos);
    // Barcodes and two-dimensional codes (DecodificadorCodigos.cpp).
    void EjecutarCodigo2D(QByteArrayView datos);
    // Draws a two-dimensional code of `comando` (logged when it cannot be).
    void Imprimir2D(CodigosBarras::Simbolo simbolo, const QByteArray& datos, const CodigosBarras::Opciones2D& opciones,
                    QByteArrayView comando);
    // ESC Z v n k dL dH d: the code GS Z chose, as the printers of ESC/POS's
    // clones print it.
    void CodigoEscZ(QByteArrayView c);
    void CodigoDeBarras(QByteArrayView c);
    bool CabeEnLinea(QByteArrayView c, const QImage& codigo);
    // Star Line Mode (DecodificadorStar.cpp): PasoStar returns -1 for bytes
    // that are not a Star command it knows.
    qsizetype PasoStar(QByteArrayView p);
    qsizetype PasoRasterStar(QByteArrayView p, bool final);
    void EjecutarStar(QByteArrayView c);
    void EjecutarStarGs(QByteArrayView c);
    void CodigoDeBarrasStar(QByteArrayView c);
    void TamanoStar(int ancho, int alto);
    void ImprimirRasterStar();
    // The line as the printer lays it out (DecodificadorLinea.cpp).
    void Marca(int estilo, bool activo);
    void FinDeLinea();
    void LineaSuelta(Renglon::Tipo tipo);
    void Texto(const QString& texto);
    void TextoEnRenglon(QChar letra, int x, int paso, int celda);
    Estilos EstilosActuales() const;
    void ImprimirGrafico(const QImage& imagen, const QString& texto);
    void ImagenEnLinea(const QImage& imagen);
    void Avanzar(int puntos);
    bool HayLinea() const;
    void LineasEnBlanco(int cuantas);
    // Prints the line, then feeds `lineas` lines in all (the line's own
    // feed among them).
    void AvanzarLineas(int lineas);
    // Prints the line with a feed of `puntos` dots; without a line, feeds them.
    void AvanzarPuntos(int puntos);
    // Adds marks or text to the line, up to its longest.
    void Anotar(const QString& texto);
    void ColumnasEnLinea(QByteArrayView columnas);
    int AnchoArea() const;
    int CeldaActual() const;

    qint16 m_modo;
    QByteArray m_pendiente;
    // Of m_pendiente, already decoded.
    qsizetype m_leidos = 0;
    qint64 m_saltar = 0; // bytes still to throw away of an oversized command
    QString m_linea;
    // The line reached its longest, and the log says so.
    bool m_lineaLlena = false;
    QByteArray m_imagen; // 8-dot bit-image columns of the current line, for the text receipt
    QStringList m_lineas;
    bool m_estilos[6] = {};
    int m_ancho;
    int m_puntosPapel;
    int m_celda;
    int m_x = 0; // dots from the print area's left edge
    bool m_conservarRenglones = false;
    Renglon m_renglon;
    QList<Renglon> m_renglones;
    QStringList m_desconocidos;
    int m_tablaInicial = 0;

    // ESC/POS state
    struct Estado {
        Estilos estilos;
        Renglon::Alineacion alineacion = Renglon::Alineacion::Izquierda;
        int espaciado = -1;
        int margen = 0;
        int anchoArea = 0;
        int espacioDerecho = 0;
        bool alReves = false;
        int tabla = 0;
        int internacional = 0;
        bool utf8 = false;
        std::vector<int> tabuladores; // in characters; empty: every 8
        bool tabuladoresFijados = false;
        // barcodes
        int anchoBarras = 3;
        int altoBarras = 162;
        int posicionHri = 0;
        bool fuenteHriB = false;
        // two-dimensional codes
        int moduloQr = 3;
        int nivelQr = 1;
        int moduloPdf = 3;
        int altoFilaPdf = 3;
        int columnasPdf = 0;
        int nivelPdf = 1;
        int moduloOtro = 3;
        QMap<int, QByteArray> datos2D; // by symbol (cn)
        int simboloZ = 2;              // GS Z: what ESC Z prints (0 PDF417, 1 DataMatrix, 2 QR)
    } m_estado;
    QImage m_graficoEnBuffer;              // GS ( L fn 112 / 113, printed by fn 50
    QMap<QByteArray, QImage> m_graficosNv; // GS ( L fn 67 / 83 by key
    QMap<int, QImage> m_logosNv;           // FS q, FS p prints them
    QImage m_imagenDescargada;             // GS *, GS / prints it

    // Star raster mode (ESC * r A to ESC * r B): its rows until the page ends
    bool m_rasterStar = false;
    QList<QByteArray> m_filasRaster;
};
