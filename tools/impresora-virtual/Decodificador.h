#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Turns the bytes a receipt printer receives into a readable receipt, in the
// dialect of the printer control's command table (1 Epson, 2 Citizen,
// 3 Star). Text is Windows-1252; a line ends at each line feed.
//
// What the receipt shows:
//   styles       [B]..[/B] bold, [U]..[/U] underline, [I]..[/I] inverted,
//                [C]..[/C] colour, [E]..[/E] expanded, [X]..[/X] extra expanded
//   cut          a dashed line with "✂ corte"
//   drawer kick  "==== abre cajón ===="
//   bit images   braille dots, two columns and four dot rows per character
//   other bytes  <hex> for control bytes outside the table
// The paper-status request and padding NULs print nothing. Citizen's colour-on
// byte is the carriage return, so on a Citizen receipt colour shows only where
// it ends.
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

    bool operator==(const Estilos&) const = default;
};

// One line of paper as the printer lays it out, for drawing the receipt.
struct Renglon {
    enum class Tipo { Texto, Corte, Cajon };
    struct Tramo {
        QString texto;
        Estilos estilos;
    };

    Tipo tipo = Tipo::Texto;
    QByteArray imagen; // bit-image columns above the text, top dot in the most significant bit
    QList<Tramo> tramos;
};

class Decodificador {
public:
    // `ancho` is the paper's width in characters of normal print (42 on an
    // 80 mm roll): text that reaches it goes on in a new line, as on paper,
    // expanded characters counting twice. 0 never wraps.
    explicit Decodificador(qint16 modo, int ancho = 0);

    // 'E', 'C' or 'S' (either case) to 1, 2 or 3; 0 for anything else.
    static qint16 ModoDeLetra(QChar letra);

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

    // A whole stream at once, lines joined with '\n'.
    static QString Decodificar(QByteArrayView bytes, qint16 modo, int ancho = 0);

private:
    // Decodes from the start of m_pendiente; returns how many bytes were used,
    // 0 when the command there is still incomplete.
    qsizetype Paso(bool final);
    void Aplicar(qsizetype fila);
    void Marca(int estilo, bool activo);
    void FinDeLinea();
    void LineaSuelta(Renglon::Tipo tipo);
    void Texto(const QString& texto);
    void TextoEnRenglon(QChar letra);

    qint16 m_modo;
    QByteArray m_pendiente;
    QString m_linea;
    QByteArray m_imagen; // bit-image columns of the current line
    QStringList m_lineas;
    bool m_estilos[6] = {};
    int m_ancho;
    int m_columna = 0; // characters of normal width on the current line
    bool m_conservarRenglones = false;
    Renglon m_renglon;
    QList<Renglon> m_renglones;
};
