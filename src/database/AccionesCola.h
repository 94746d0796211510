#pragma once

#include <QtGlobal>

// The two operator actions on the queue, shared by the administration tool and
// the status panel so that both run the same statements.
enum class ResultadoAccion {
    Hecha,
    SinCambios, // the printer already serves its own jobs and is ready: nothing written
    NoExiste,
    NoApartado,  // the job is not set aside
    NoReplicada, // the update took effect here but its replication failed
    Fallida,     // the update failed; Actualizar has logged why
};

// Serves a printer's own jobs again after a redirection: Redirigido = itself
// and Estado_Impresora = 'A', through Actualizar, so the change is logged and
// replicated to the other terminals; a printer that is already so is left
// alone (no update, no transaction to replicate). The check first throws
// ErrorEjecucion on a database failure.
ResultadoAccion RestablecerImpresora(int impresora);

// Puts a set-aside job (Escribiendo = 2) back in the queue, its FechaHora
// renewed to the database's now so that [Cola] EdadMaxima does not set it
// aside again. Database failures throw ErrorEjecucion.
ResultadoAccion ReintentarTrabajo(qint64 trabajo);
