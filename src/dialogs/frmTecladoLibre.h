#pragma once

#include <QDialog>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>

class QLineEdit;
class QPushButton;
class RelojInactividad;

// One key as a layout places it: caption and rectangle in twips.
struct TeclaDispuesta {
    QString Caption;
    QRectF Rect;
};

// What a layout build leaves on the form. Element i of Letras is cmdLetra(i);
// Digitos is empty when digit key 0 is hidden (QWERTY). Texto is the text
// box's new rectangle when the build moves it.
struct DisposicionTeclado {
    QList<TeclaDispuesta> Letras;
    QList<TeclaDispuesta> Digitos;
    std::optional<QRectF> Texto;
};

// The two builds as pure functions of the screen size and the form's width in
// twips and the rectangles of the arrays' element 0 (and of the text box), so
// that they can be checked against figures worked out by hand.
//
// QWERTY: four rows of ten keys from letter key 0, then "Espacio", "BORRAR"
// and "Borrar todo". The keys are sized in proportion to the screen (740 × 555
// on 12000 × 9000 twips) as long as every key still lies whole on the form;
// on a larger screen they take the largest size that fits, with the same
// proportions. The alphabetical build reuses that size and fits as well.
DisposicionTeclado DisponerQWERTY(QSizeF pantalla, QSizeF forma, QRectF letra0, QRectF texto);
// Alphabetical: rows of eight keys of letter key 0's current size, "Espacio",
// "Borrar", "Borrar todo" and a keypad of digit keys of digit key 0's size.
DisposicionTeclado DisponerAlfabetico(double anchoForma, QRectF letra0, QRectF digito0);

// The modal on-screen keyboard. A caller loads it (construction, or Cargar()
// for the one shared instance), sets MsTitulo, the password character of
// txtTexto and MfTecladoQWERTY, empties txtTexto, shows it with exec(), reads
// MsResultado and unloads it with close(). Every activation flips the layout.
//
// Closing: the close box always acts as "Cancelar" and keeps the form loaded;
// the first close() by code while bActivo is turned into "Cancelar" as well
// (and clears bActivo); a later close() unloads the form.
class frmTecladoLibre : public QDialog {
    Q_OBJECT
public:
    explicit frmTecladoLibre(QWidget* padre = nullptr);
    ~frmTecladoLibre() override;

    // The shared instance, created (loaded) when there is none; an instance
    // made here is destroyed once it unloads. While it stays loaded (hidden
    // after a refused unload) Cargar() hands back the same form without
    // running the load again.
    static frmTecladoLibre* Cargar();

    QString MsResultado;
    bool MfTecladoQWERTY = true;
    QString MsTitulo;
    bool bActivo = false;

    QPushButton* cmdTipoTeclado;
    QPushButton* cmdAceptar;
    QPushButton* cmdCancelar;
    QLineEdit* txtTexto;
    QList<QPushButton*> cmdLetra;
    QList<QPushButton*> cmdDigito;
    RelojInactividad* UsrInactivo;

    // Whether an unload was accepted.
    bool Descargado() const { return m_descargado; }

    // The event handlers, public so that tests can press keys by index.
    void Form_Activate();
    void CambiarTeclado();
    void cmdTipoTeclado_Click();
    void cmdLetra_Click(int Index);
    void cmdDigito_Click(int Index);
    void cmdAceptar_Click();
    void cmdCancelar_Click();

    // Design measures in twips.
    static constexpr double kAnchoForma = 9990;
    static constexpr double kAltoForma = 6375;

protected:
    bool event(QEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    void reject() override;

private:
    void Form_Load();
    QPushButton* CrearTecla(const QFont& fuente);
    void Aplicar(const DisposicionTeclado& disposicion);
    void Colocar(QWidget* control, const QRectF& twips);

    // The twips rectangles of the controls the builds read back.
    QRectF m_letra0;
    QRectF m_digito0;
    QRectF m_texto;
    bool m_descargado = false;
    bool m_compartida = false;
};

// The password character of a text box, as the forms set it: "*" shows every
// character as an asterisk, the empty string shows the text.
void EstablecerPasswordChar(QLineEdit* caja, const QString& caracter);
