#pragma once

#include <QString>
#include <QtGlobal>

// The printer control: binds to one printer port at a time (an "LPT" port
// written through the parallel-port layer, or one of four "COM" ports),
// keeps the printer's dialect (1 Epson, 2 Citizen, 3 Star) and emits every
// command, text and the logo in that dialect.
//
// Failures are Boolean results and event-log lines. A port name whose fourth
// character is not a digit throws ErrorEjecucion (type mismatch) to the
// caller, as the original raised it.
class ctlImpresora {
public:
    ctlImpresora();
    ~ctlImpresora();
    ctlImpresora(const ctlImpresora&) = delete;
    ctlImpresora& operator=(const ctlImpresora&) = delete;

    // The public operations, in the order of the original interface.
    bool InicializarPuerto(const QString& impresora, QString* estado_impresora = nullptr);
    void CerrarPuerto(qint16 NumberPort);
    bool ConfigurarPuerto(const QString& impresora, const QString& modo, const QString& settings = QString(),
                          QString* estado_impresora = nullptr);
    bool Imprimirln(QString& PsCadena);
    QString Recibir();
    void Cortar();
    bool Abrircaja();
    void Negrita(bool active);
    void Subrayado(bool active);
    void Invertido(bool active);
    void Color(bool active);
    void Avanzar(qint16 nLines = 0);
    bool Imprimir(const QString& PsCadena);
    void Expandido(bool active);
    void ExtraExpandido(bool active);
    void ResetCaracter();
    void ResetPrinter();
    void DocumentType(const QString& Tipo);
    QString GetNameModo() const;
    void SetModo(qint16 nModo);
    void PrintLogo();

    qint16 ModoImpresora() const { return m_modoImpresora; }
    bool EsLpt() const { return m_esLpt; }
    qint16 NumeroPuerto() const { return m_numeroPuerto; }
    qint16 DireccionLpt() const { return m_direccionLpt; }

private:
    struct Privado;

    qint16 m_modoImpresora = 0;
    bool m_esLpt = false;
    qint16 m_numeroPuerto = 0;
    qint16 m_direccionLpt = 0;
    Privado* d = nullptr; // serial objects and the rest of the implementation
};
