#include "TerminalBench.h"

#include "platform/Ajustes.h"
#include "ports/PuertoES.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/DatosCola.h"

#include <cstdio>

int TerminalBench::Correr(Motor motor, const std::function<int(TerminalBench&)>& medir) {
    TerminalBench terminal(motor, 1);
    if (!terminal.Preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(terminal.Error()));
        return 1;
    }
    int resultado = 1;
    try {
        resultado = medir(terminal);
    } catch (const ErrorEjecucion& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Descripcion()));
    }
    PuertoES::Establecer(nullptr);
    return resultado;
}

bool TerminalBench::Preparar() {
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", QString::number(m_numeroTerminal));
    try {
        if (!m_bd.Preparar()) {
            m_error = m_bd.Error();
            return false;
        }
    } catch (const ErrorEjecucion& e) {
        m_error = QStringLiteral("esquema: ") + e.Descripcion();
        return false;
    }
    return true;
}

void TerminalBench::AltaImpresoras() {
    Conexion::Instancia().Ejecutar(
        QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(m_numeroTerminal));
    InsertarImpresora(1, m_numeroTerminal, 2);
    InsertarImpresora(2, m_numeroTerminal, 1);
}

bool TerminalBench::PrepararConImpresoras() {
    if (!Preparar()) {
        return false;
    }
    try {
        AltaImpresoras();
    } catch (const ErrorEjecucion& e) {
        m_error = e.Descripcion();
        return false;
    }
    Ajustes::Guardar("ORLAN", "Puertos", "LPT", "simulado");
    return true;
}

QString TerminalBench::Servidor() const {
    return Ajustes::Leer("ORLAN", "Configuracion", "Servidor");
}

QString TerminalBench::BaseDatos() const {
    return Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");
}
