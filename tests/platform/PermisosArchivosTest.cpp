#include "platform/Ajustes.h"
#include "platform/Reloj.h"
#include "ports/PuertoSimulado.h"
#include "support/Bitacora.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

int Modo(const QString& ruta) {
    struct stat info {};
    return ::stat(QFile::encodeName(ruta).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

} // namespace

// Under the usual umask 022 the files the server creates would be readable by
// every user: settings and printed receipts are the owner's alone, the event
// log the owner's and the group's.
TEST(PermisosArchivos, TheServersFilesAreNotWorldReadableWhateverTheUmask) {
    EntornoPrueba entorno;
    const mode_t antes = ::umask(022);
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "local");
    ASSERT_TRUE(Registrar("linea"));
    PuertoSimulado puerto;
    puerto.write8(0x378, 'a');
    puerto.write8(0x37A, 0x05);
    puerto.write8(0x37A, 0x04);
    puerto.Vaciar();
    ::umask(antes);

    EXPECT_EQ(Modo(Ajustes::RutaArchivo("ORLAN")), 0600);
    EXPECT_EQ(Modo(RutaBitacora(Reloj::Ahora().date())), 0640);
    EXPECT_EQ(Modo(entorno.Datos() + "/lpt/378.bin"), 0600);

    // A mode the administrator gave the settings file stays.
    ASSERT_EQ(::chmod(QFile::encodeName(Ajustes::RutaArchivo("ORLAN")).constData(), 0640), 0);
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", "otro");
    EXPECT_EQ(Modo(Ajustes::RutaArchivo("ORLAN")), 0640);
}
