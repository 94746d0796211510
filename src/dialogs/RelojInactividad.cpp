#include "dialogs/RelojInactividad.h"

#include "dialogs/Twips.h"
#include "dialogs/VolverAlServidor.h"

#include <QMouseEvent>

RelojInactividad::RelojInactividad(QWidget* padre) : QWidget(padre) {
    setFixedSize(Twips::APixeles(QSize(645, 645)));
    hide();
    connect(&TmrBloquear, &QTimer::timeout, this, &RelojInactividad::TmrBloquear_Timer);
}

void RelojInactividad::EstablecerIntervalo(int PnIntervalo) {
    TmrBloquear.setInterval(PnIntervalo);
    Actualizar();
}

void RelojInactividad::EstablecerEnabled(bool PbHabilitar) {
    m_enabled = PbHabilitar;
    Actualizar();
}

void RelojInactividad::EstablecerForma(QWidget* PfForma) {
    if (MfForma) {
        MfForma->removeEventFilter(this);
    }
    MfForma = PfForma;
    if (MfForma) {
        MfForma->setMouseTracking(true);
        MfForma->installEventFilter(this);
    }
}

// The timer runs only while enabled with a non-zero interval, as a timer
// control with interval 0 never fires.
void RelojInactividad::Actualizar() {
    if (m_enabled && TmrBloquear.interval() > 0) {
        if (!TmrBloquear.isActive()) {
            TmrBloquear.start();
        }
    } else {
        TmrBloquear.stop();
    }
}

void RelojInactividad::TmrBloquear_Timer() {
    if (!MbInactivo) {
        bAvisado = false;
        MbInactivo = true;
    } else if (bAvisado) {
        VolverAlServidor(MfForma);
    } else {
        bAvisado = true;
    }
}

bool RelojInactividad::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto == MfForma && (evento->type() == QEvent::MouseButtonPress || evento->type() == QEvent::MouseMove)) {
        const auto* raton = static_cast<QMouseEvent*>(evento);
        if (!MfForma->childAt(raton->position().toPoint())) {
            MbInactivo = false;
        }
    }
    return QWidget::eventFilter(objeto, evento);
}
