#pragma once

#include <QString>

class ProveedorCredenciales;

// The check behind every operator login: the user must belong to a work
// group holding permission 27, and the typed password must equal (without
// regard to case) the stored one, deciphered with the credentials' key.
enum class ResultadoOperador {
    Valido,
    UsuarioInvalido,      // unknown, or without permission 27
    ContrasenaIncorrecta, // also a stored password that does not decipher
};

// How the user name reaches the statement. The login dialog runs the
// point-of-sale system's fixed text, the name as one literal with its quotes
// doubled; everybody else binds it to a marker, so that no quote or backslash
// in it can end the literal whatever the server's string settings.
enum class FormaConsulta {
    TextoFijo,
    Enlazada,
};

// Runs on the open connection. Database failures, a NULL stored password and a
// missing key throw ErrorEjecucion.
ResultadoOperador ComprobarOperador(const QString& usuario, const QString& contrasena,
                                    const ProveedorCredenciales& credenciales,
                                    FormaConsulta forma = FormaConsulta::Enlazada);

// Whether the user still belongs to a group holding permission 27, with the
// name bound; database failures throw ErrorEjecucion.
bool TienePermisoOperador(const QString& usuario);
