#pragma once

#include <QDialog>
#include <QTextLayout>
#include <array>

class QFrame;
class QPushButton;

// The text area of the message box: a single cell that shows its text
// word-wrapped at its own width (a word longer than the width is broken
// anywhere) and measures the height the wrapped text needs. Measuring and
// painting use the same layout, so what was measured is what is drawn.
class CeldaTexto : public QWidget {
    Q_OBJECT
public:
    explicit CeldaTexto(QWidget* padre = nullptr);

    void EstablecerTexto(const QString& texto);
    QString Texto() const { return m_texto; }

    // The width the text is wrapped at, in pixels (the cell's column width);
    // painting wraps at the same width as measuring.
    void EstablecerAnchoColumna(int pixeles);

    // Height in points that the text needs when wrapped at the column width:
    // the sum of its lines' heights. An empty text needs 0.
    double AltoNecesarioPuntos() const;

protected:
    void paintEvent(QPaintEvent* evento) override;

private:
    // Lays the text out at `ancho` pixels; returns the height in pixels.
    qreal Distribuir(QTextLayout& distribucion, qreal ancho) const;

    QString m_texto;
    int m_anchoColumna = 0;
};

// The system's own modal message box: a borderless light-blue panel with one
// text in a large font, sized to the text, with "Aceptar" or a "Si"/"No" pair.
// The caller fills MsTexto and MnBotones, shows it with exec() and reads the
// process-wide MnRespuesta (support/Estado.h) afterwards; Mostrar does all of
// that. Button numbers follow the standard message-box convention (1 Aceptar,
// 6 Si, 7 No).
//
// The layout is computed in twips, as the form was designed, and runs on
// every showing (Disponer); every measure goes through the Twips helper.
class frmMsg : public QDialog {
    Q_OBJECT
public:
    // Design measures, in twips.
    static constexpr int kAnchoForma = 6435;
    static constexpr int kIzquierdaTexto = 240;
    static constexpr int kArribaTexto = 480;
    static constexpr int kAnchoTexto = 5775;
    static constexpr int kAltoTextoDiseno = 3975;
    static constexpr int kAnchoBoton = 1575;
    static constexpr int kAltoBoton = 735;
    static constexpr int kSeparacionTextoBotones = 300;
    static constexpr int kSeparacionBotones = 20;
    static constexpr int kCantidadBotones = 7;
    // The focused button's frame, in pixels: its width and its distance
    // from the button's edge.
    static constexpr int kGrosorFoco = 2;
    static constexpr int kMargenFoco = 4;

    explicit frmMsg(QWidget* padre = nullptr);

    // The calling protocol: loads a box, fills it, shows it modally without an
    // owner and returns MnRespuesta, which a box closed without a button
    // leaves as the previous box left it.
    static quint8 Mostrar(const QString& PsTexto, int PnBotones);

    // Written by the caller before the box is shown.
    QString MsTexto;
    // Only the bits of value 1, 2 and 4 are looked at (3 or 4 set: "Si" and
    // "No"; otherwise "Aceptar"); higher bits, such as the standard box's
    // icon bit 16, are ignored and no icon is ever shown.
    qint32 MnBotones = 0;

    // The layout at activation: measures the text at the text area's width,
    // sizes the text area and the box to it, puts the buttons 300 twips under
    // the text, makes the buttons of MnBotones visible and centres them.
    // Running it again gives the same result. showEvent calls it; tests may
    // call it directly.
    void Disponer();

    // Pressing button Index: MnRespuesta := Index + 1, then the box unloads.
    void cmdBotones_Click(int Index);

    // After Disponer: the text's height in points as measured, the cell row's
    // height in points, and the box's height in twips.
    double AltoTexto() const { return m_altoTexto; }
    double AltoRenglon() const { return m_altoRenglon; }
    double AltoForma() const { return m_altoForma; }

    CeldaTexto* sslabel;
    QFrame* shaBorde;
    // 0 "Aceptar", 1 "Cancelar", 2 "Abortar", 3 "Reintentar", 4 "Ignorar",
    // 5 "Si", 6 "No"; all hidden until Disponer shows some.
    std::array<QPushButton*, kCantidadBotones> cmdBotones{};

protected:
    void showEvent(QShowEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void keyPressEvent(QKeyEvent* evento) override;

private:
    void Colocar(QWidget* control, double izquierda, double arriba, double ancho, double alto);

    // Twips, as the layout sets them.
    double m_altoArea = kAltoTextoDiseno;
    std::array<double, kCantidadBotones> m_izquierdaBotones{};
    double m_arribaBotones = 0;
    double m_altoForma = 0;
    double m_altoTexto = 0;
    double m_altoRenglon = 0;
};
