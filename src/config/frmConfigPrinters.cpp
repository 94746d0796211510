#include "config/frmConfigPrinters.h"

#include "config/IconoConfiguracion.h"
#include "dialogs/Twips.h"
#include "platform/Ajustes.h"
#include "platform/CajaMensajes.h"
#include "printer/ComandosImpresora.h"
#include "printer/ctlImpresora.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <array>
#include <utility>

namespace {

const QString kAplicacion = QStringLiteral("orlan");
const QColor kFondo(128, 170, 128);

// The run-time error numbers of a settings write that failed, and of a
// number too large for its type.
constexpr qint64 kErrorRegistro = 5;
constexpr qint64 kErrorDesbordamiento = 6;

QString Leer(const QString& seccion, const QString& clave, const QString& predeterminado) {
    return Ajustes::Leer(kAplicacion, seccion, clave, predeterminado);
}

void Guardar(const QString& seccion, const QString& clave, const QString& valor) {
    if (!Ajustes::Guardar(kAplicacion, seccion, clave, valor)) {
        throw ErrorEjecucion(kErrorRegistro,
                             QStringLiteral("No se pudo guardar el valor %1 de la sección %2").arg(clave, seccion));
    }
}

// Shows `texto` in the list: its item when it has one, else as typed text.
void PonerTexto(QComboBox* lista, const QString& texto) {
    const int indice = lista->findText(texto, Qt::MatchExactly);
    if (indice >= 0) {
        lista->setCurrentIndex(indice);
    }
    lista->setEditText(texto);
}

// A stored feature value as a box state: a whole number that fits 16 bits,
// checked unless 0. Anything else is a damaged setting and a conversion
// error (type mismatch, or overflow for a number too large), so that the
// operator hears of it instead of finding a box silently cleared.
bool Marcada(const QString& impresora, const QString& clave, const QString& valor) {
    bool ok = false;
    const QString limpio = valor.trimmed();
    const qint16 numero = limpio.toShort(&ok);
    if (!ok) {
        bool entero = false;
        limpio.toLongLong(&entero);
        throw ErrorEjecucion(entero ? kErrorDesbordamiento : ErrorEjecucion::kTiposNoCoinciden,
                             (entero ? QStringLiteral("Desbordamiento") : QStringLiteral("No coinciden los tipos")) +
                                 QStringLiteral(" en %1/%2: \"%3\"").arg(impresora, clave, valor));
    }
    return numero != 0;
}

// The form's error box: a heading, a line break and the error's description,
// which also goes to the log.
void MostrarError(const QString& encabezado, const std::exception& e) {
    const auto* error = dynamic_cast<const ErrorEjecucion*>(&e);
    const QString descripcion = error ? error->Descripcion() : QString::fromLocal8Bit(e.what());
    Registrar(QStringLiteral("Configuracion de impresoras, ") + descripcion);
    CajaMensajes::Mostrar(
        {encabezado + QStringLiteral("\r\n") + descripcion, QStringLiteral("Error"), CajaMensajes::Icono::Error, 0});
}

bool Marcada(const QCheckBox* caja) {
    return caja->checkState() != Qt::Unchecked;
}

QString Estado(const QCheckBox* caja) {
    return Marcada(caja) ? QStringLiteral("1") : QStringLiteral("0");
}

// The printer control's logo as a picture: five bands of 116 columns, the top
// dot of each column in the byte's most significant bit.
QImage ImagenLogo() {
    using namespace ComandosImpresora;
    QImage imagen(kColumnasLogo, kBandasLogo * 8, QImage::Format_Mono);
    imagen.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    imagen.fill(0);
    for (int banda = 0; banda < kBandasLogo; ++banda) {
        const QByteArrayView datos = BandaLogo(banda + 1);
        for (int columna = 0; columna < kColumnasLogo; ++columna) {
            const auto byte = static_cast<quint8>(datos[1 + columna]); // after the count's high byte
            for (int punto = 0; punto < 8; ++punto) {
                if (byte & (0x80 >> punto)) {
                    imagen.setPixel(columna, banda * 8 + punto, 1);
                }
            }
        }
    }
    return imagen;
}

void Colocar(QWidget* control, int x, int y, int ancho, int alto) {
    control->setGeometry(Twips::APixeles(QRect(x, y, ancho, alto)));
}

void Pintar(QWidget* control) {
    QPalette paleta = control->palette();
    paleta.setColor(control->backgroundRole(), kFondo); // Button for the check boxes
    paleta.setColor(QPalette::Window, kFondo);
    control->setPalette(paleta);
    control->setAutoFillBackground(true);
}

QComboBox* Lista(QWidget* padre, const QStringList& elementos) {
    auto* lista = new QComboBox(padre);
    lista->setEditable(true);
    lista->setInsertPolicy(QComboBox::NoInsert); // typed text is a value, not a new item
    lista->addItems(elementos);
    return lista;
}

} // namespace

class frmConfigPrinters::Ocupado {
public:
    explicit Ocupado(frmConfigPrinters& forma) : m_forma(forma) { Marcar(true); }
    ~Ocupado() { Marcar(false); }
    Ocupado(const Ocupado&) = delete;
    Ocupado& operator=(const Ocupado&) = delete;

private:
    void Marcar(bool ocupado) {
        m_forma.m_ocupado = ocupado;
        for (QPushButton* boton : {m_forma.btn_guardar, m_forma.btn_test, m_forma.Command1}) {
            boton->setEnabled(!ocupado);
        }
    }

    frmConfigPrinters& m_forma;
};

frmConfigPrinters::frmConfigPrinters(ctlImpresora& pr2, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_pr2(pr2) {
    setWindowTitle(QStringLiteral("Configuracion de Impresoras drv. NODRA-SRP ver. 1.0"));
    setWindowIcon(IconoConfiguracion());
    setFont(QFont(QStringLiteral("Arial"), 8));
    Pintar(this);
    setFixedSize(Twips::APixeles(QSize(6600, 4755)));

    selectimpresora = Lista(this, {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                                   QStringLiteral("COM4"), QStringLiteral("LPT1"), QStringLiteral("LPT2")});
    Colocar(selectimpresora, 240, 240, 1440, 315);
    selectmodo =
        Lista(this, {QStringLiteral("E Modo Epson"), QStringLiteral("C Modo Citizen"), QStringLiteral("S Modo Star")});
    Colocar(selectmodo, 1800, 240, 2400, 315);

    // The serial line, one label and list a row.
    const std::array<std::pair<QLabel**, QComboBox**>, 4> filas = {
        {{&Label1, &selectbps}, {&Label2, &selectpar}, {&Label3, &selectbitsd}, {&Label4, &selectbitsp}}};
    const std::array<QString, 4> rotulos = {QStringLiteral("Velocidad"), QStringLiteral("Paridad"),
                                            QStringLiteral("Bits de datos"), QStringLiteral("Bits de parada")};
    const std::array<QStringList, 4> elementos = {
        QStringList{"110", "300", "600", "1200", "2400", "9600", "14400", "19200", "28800", "38400", "56000", "128000",
                    "256000"},
        QStringList{"Par", "Marca", "Ninguno", "Impar", "Espacio"},
        QStringList{"4", "5", "6", "7", "8"},
        QStringList{"1", "1.5", "2"},
    };
    for (std::size_t i = 0; i < filas.size(); ++i) {
        const int y = 780 + static_cast<int>(i) * 420;
        QLabel* rotulo = *filas[i].first = new QLabel(rotulos[i], this);
        Pintar(rotulo);
        Colocar(rotulo, 240, y + 30, 1440, 255);
        *filas[i].second = Lista(this, elementos[i]);
        Colocar(*filas[i].second, 1800, y, 1320, 315);
    }

    // The features, top to bottom.
    Frame1 = new QGroupBox(QStringLiteral("Caracteristicas"), this);
    Pintar(Frame1);
    Colocar(Frame1, 3360, 660, 3000, 3195);
    const std::array<std::pair<QCheckBox**, QString>, 7> casillas = {{
        {&ch_Negrita, QStringLiteral("Texto en Negrita")},
        {&ch_Subrayado, QStringLiteral("Texto Subrayado")},
        {&Ch_Extendido, QStringLiteral("Texto Extendido")},
        {&Ch_Invertido, QStringLiteral("Texto Invertido")},
        {&Ch_Caja, QStringLiteral("Abrir Caja")},
        {&Ch_Corte, QStringLiteral("Cortar Papel")},
        {&Ch_Logo, QStringLiteral("Logotipo")},
    }};
    for (std::size_t i = 0; i < casillas.size(); ++i) {
        QCheckBox* caja = *casillas[i].first = new QCheckBox(casillas[i].second, Frame1);
        Pintar(caja);
        Colocar(caja, 240, 330 + static_cast<int>(i) * 390, 2520, 315);
    }

    Frame2 = new QGroupBox(this);
    Pintar(Frame2);
    Colocar(Frame2, 240, 2460, 2880, 1395);
    Image1 = new QLabel(Frame2);
    Image1->setAlignment(Qt::AlignCenter);
    const QSize logo = Twips::APixeles(QSize(2610, 900)); // 116 × 40 dots, 22.5 twips a dot
    Image1->setPixmap(QPixmap::fromImage(ImagenLogo()
                                             .convertToFormat(QImage::Format_RGB32)
                                             .scaled(logo, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    Colocar(Image1, 60, 180, 2760, 1140);

    btn_guardar = new QPushButton(QStringLiteral("Guardar Cambios"), this);
    Colocar(btn_guardar, 240, 4080, 1920, 435);
    btn_test = new QPushButton(QStringLiteral("Prueba de Impresion"), this);
    Colocar(btn_test, 2340, 4080, 2160, 435);
    Command1 = new QPushButton(QStringLiteral("Salir"), this);
    Colocar(Command1, 4680, 4080, 1680, 435);
    for (QPushButton* boton : {btn_guardar, btn_test, Command1}) {
        boton->setAutoDefault(false); // Enter in a list must not press a button
    }
    connect(btn_guardar, &QPushButton::clicked, this, [this] { btn_guardar_Click(); });
    connect(btn_test, &QPushButton::clicked, this, [this] { btn_test_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    // Choosing another printer loads nothing: the next save stores the form's
    // values under it, the next test page loads its stored ones.
    selectimpresora->setCurrentIndex(0);
    try {
        CargarConfiguracion(QStringLiteral("COM1"));
    } catch (const std::exception& e) {
        MostrarError(QStringLiteral("Se ha presentado un error de registro:"), e);
    }
}

void frmConfigPrinters::CargarConfiguracion(const QString& impresora) {
    const QString m = Leer(impresora, QStringLiteral("Modo"), QStringLiteral("E"));
    PonerTexto(selectmodo, m == u"C"   ? QStringLiteral("C Modo Citizen")
                           : m == u"S" ? QStringLiteral("S Modo Star")
                                       : QStringLiteral("E Modo Epson"));

    const QString s = Leer(impresora, QStringLiteral("Settings"), QStringLiteral("9600,N,8,1"));
    const qsizetype n = s.size();
    if (n > 6) {
        PonerTexto(selectbitsp, s.mid(n - 1, 1));
        PonerTexto(selectbitsd, s.mid(n - 3, 1));
        PonerTexto(selectpar, s.mid(n - 5, 1));
        PonerTexto(selectbps, s.left(n - 6));
    }

    const std::array<std::pair<QCheckBox*, const char*>, 6> casillas = {{{ch_Negrita, "negrita"},
                                                                         {Ch_Extendido, "extendido"},
                                                                         {ch_Subrayado, "subrayado"},
                                                                         {Ch_Invertido, "invertido"},
                                                                         {Ch_Caja, "caja"},
                                                                         {Ch_Corte, "corte"}}};
    for (const auto& [caja, clave] : casillas) {
        const QString nombre = QString::fromLatin1(clave);
        caja->setChecked(Marcada(impresora, nombre, Leer(impresora, nombre, QStringLiteral("0"))));
    }
}

void frmConfigPrinters::btn_guardar_Click() {
    if (m_ocupado) {
        return;
    }
    const Ocupado ocupado(*this);
    const QString p = selectimpresora->currentText();
    try {
        Guardar(p, QStringLiteral("Modo"), selectmodo->currentText().left(1));
        Guardar(p, QStringLiteral("Tipo"), p.mid(3, 1));
        Guardar(p, QStringLiteral("Settings"),
                selectbps->currentText() + u',' + selectpar->currentText().left(1) + u',' + selectbitsd->currentText() +
                    u',' + selectbitsp->currentText());
        const std::array<std::pair<const char*, QCheckBox*>, 7> casillas = {{{"negrita", ch_Negrita},
                                                                             {"extendido", Ch_Extendido},
                                                                             {"subrayado", ch_Subrayado},
                                                                             {"invertido", Ch_Invertido},
                                                                             {"caja", Ch_Caja},
                                                                             {"corte", Ch_Corte},
                                                                             {"logotipo", Ch_Logo}}};
        for (const auto& [clave, caja] : casillas) {
            Guardar(p, QString::fromLatin1(clave), Estado(caja));
        }
        // While a job prints the control is the job's: the keys take effect
        // at the next job's own opening of the port.
        if (!m_pr2.EnUso()) {
            m_pr2.InicializarPuerto(p);
        }
        CargarConfiguracion(p);
    } catch (const std::exception& e) {
        MostrarError(QStringLiteral("Se ha presentado un error de registro:"), e);
    }
}

void frmConfigPrinters::btn_test_Click() {
    if (m_ocupado) {
        return;
    }
    if (m_pr2.EnUso()) {
        // A job is printing through the same control (waiting on a busy
        // printer lets this click through): the page would take the rest of
        // the job to its own printer.
        CajaMensajes::Mostrar({QStringLiteral("Se esta imprimiendo un trabajo. Intente la prueba en unos segundos."),
                               QStringLiteral("Prueba de Impresion"), CajaMensajes::Icono::Informacion, 0});
        return;
    }
    const Ocupado ocupado(*this);
    const ctlImpresora::Uso uso(m_pr2);
    const QString p = selectimpresora->currentText();
    // Imprimirln may extend the caller's text, so every line is a fresh copy.
    const auto renglon = [this](const QString& texto) {
        QString copia = texto;
        m_pr2.Imprimirln(copia);
    };
    // A feature's name in normal print padded with full stops to 22
    // characters, then the name again in the feature.
    ctlImpresora& pr2 = m_pr2;
    const auto caracteristica = [&pr2, &renglon](const QString& nombre, void (ctlImpresora::*estilo)(bool),
                                                 const QString& muestra) {
        pr2.Imprimir(nombre.leftJustified(22, u'.'));
        (pr2.*estilo)(true);
        renglon(muestra);
        (pr2.*estilo)(false);
    };
    try {
        m_pr2.InicializarPuerto(p);
        CargarConfiguracion(p);
        renglon(p);
        m_pr2.DocumentType(QStringLiteral("P"));
        m_pr2.Imprimir(QStringLiteral("Normal").leftJustified(22, u'.'));
        renglon(QStringLiteral("Normal"));
        if (Marcada(Ch_Logo)) {
            m_pr2.PrintLogo();
        }
        if (Marcada(ch_Negrita)) {
            caracteristica(QStringLiteral("Negrita"), &ctlImpresora::Negrita, QStringLiteral("Negrita"));
        }
        if (Marcada(Ch_Extendido)) {
            caracteristica(QStringLiteral("Extendido"), &ctlImpresora::Expandido, QStringLiteral("Extendido"));
        }
        if (Marcada(ch_Subrayado)) {
            caracteristica(QStringLiteral("Subrayado"), &ctlImpresora::Subrayado, QStringLiteral("Subrayado"));
        }
        if (Marcada(Ch_Invertido)) {
            caracteristica(QStringLiteral("Invertido"), &ctlImpresora::Invertido, QStringLiteral("        Invertido"));
        }
        if (Marcada(Ch_Corte)) {
            m_pr2.Cortar();
        }
    } catch (const std::exception& e) {
        // Only a printer name the control cannot take, or a damaged feature
        // value, gets here; the port's own failures are recorded by the control.
        MostrarError(QStringLiteral("Se ha presentado un error de impresion:"), e);
    }
}

void frmConfigPrinters::Command1_Click() {
    close();
}

void frmConfigPrinters::reject() {
    if (!m_ocupado) {
        QDialog::reject();
    }
}
