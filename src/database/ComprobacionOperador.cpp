#include "database/ComprobacionOperador.h"

#include "credentials/ProveedorCredenciales.h"
#include "crypto/clsDES.h"
#include "database/BaseDatos.h"
#include "platform/Cp1252.h"
#include "support/ErrorEjecucion.h"

namespace {

const QString kConsulta = QStringLiteral(
    "SELECT Contraseña FROM Empleado,EmpleadosXGrupo,PermisosXGrupo_Trabajo WHERE "
    "Empleado.ID_Empleado=EmpleadosXGrupo.ID_Empleado AND "
    "EmpleadosXGrupo.ID_Grupo_Trabajo=PermisosXGrupo_Trabajo.ID_Grupo_Trabajo AND ID_Permiso=27 AND Usuario=");

std::unique_ptr<Recordset> FilasOperador(const QString& usuario, FormaConsulta forma) {
    if (forma == FormaConsulta::Enlazada) {
        return Conexion::Instancia().Consultar(kConsulta + u'?', {usuario});
    }
    // The fixed text: the name enters the statement as one literal, its
    // quotes doubled.
    return Conexion::Instancia().Consultar(kConsulta + u'\'' + DuplicarComillas(usuario) + u'\'');
}

} // namespace

ResultadoOperador ComprobarOperador(const QString& usuario, const QString& contrasena,
                                    const ProveedorCredenciales& credenciales, FormaConsulta forma) {
    const std::unique_ptr<Recordset> filas = FilasOperador(usuario, forma);
    if (filas->Fin()) {
        return ResultadoOperador::UsuarioInvalido;
    }
    clsDES des;
    const std::optional<QString> llave = credenciales.ObtenerLlave();
    if (!llave) {
        throw ErrorEjecucion(429, QStringLiteral("No se obtuvo la llave de las contraseñas"));
    }
    des.Key(*llave);
    const QVariant campo = filas->Campo(QStringLiteral("Contraseña"));
    if (campo.isNull()) {
        throw ErrorEjecucion(94, QStringLiteral("Invalid use of Null"));
    }
    // The typed text as the stored one was made: through Windows-1252, where a
    // character outside the code page is "?".
    const QString tecleada = Cp1252::Decodificar(Cp1252::Codificar(contrasena));
    const QString descifrada = des.DecryptString(campo.toString(), QString(), true);
    // An empty stored password is no password: nothing matches it.
    if (descifrada.isEmpty() || QString::compare(tecleada, descifrada, Qt::CaseInsensitive) != 0) {
        return ResultadoOperador::ContrasenaIncorrecta;
    }
    return ResultadoOperador::Valido;
}

bool TienePermisoOperador(const QString& usuario) {
    return !FilasOperador(usuario, FormaConsulta::Enlazada)->Fin();
}
