#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

// A control that closes a form nobody is using. Placed on a form and told
// which form to watch (`Forma`), it counts the ticks of its timer without mouse
// activity on that form's own surface: the first tick after the last activity
// re-arms the clock, the next marks it, and the one after that hands the form
// to VolverAlServidor. A form that refuses to close is asked again on every
// later tick while it stays idle.
//
// Only presses and moves over the bare form count: Qt hands a child's unused
// mouse event on to its parent, so events that lie over a visible child (a key,
// a text box) are told apart by position and ignored.
//
// The control is invisible at run time and keeps a fixed size of 645 × 645
// twips. It starts stopped with interval 0, as with no stored properties.
class RelojInactividad : public QWidget {
    Q_OBJECT
public:
    explicit RelojInactividad(QWidget* padre = nullptr);

    int Intervalo() const { return TmrBloquear.interval(); }
    void EstablecerIntervalo(int PnIntervalo);
    bool Enabled() const { return m_enabled; }
    void EstablecerEnabled(bool PbHabilitar);
    // The form to watch; enables mouse tracking on it so that moves over its
    // surface are seen without a button held.
    void EstablecerForma(QWidget* PfForma);

    // The timer's tick; public so that tests drive it without waiting.
    void TmrBloquear_Timer();

    bool Inactivo() const { return MbInactivo; }
    bool Avisado() const { return bAvisado; }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void Actualizar();

    QTimer TmrBloquear;
    QPointer<QWidget> MfForma;
    bool m_enabled = false;
    bool MbInactivo = false;
    bool bAvisado = false;
};
