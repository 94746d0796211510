"""The terminal the panel's Python tests run on: a temporary home with the
settings, the credentials (mode 0600) and the SQLite driver registry of this
source tree, and orlan-admin of this build on it."""
import os
import subprocess
import sys
import tempfile


class Tienda:
    def __init__(self, build, fuente, prefijo, ajustes=""):
        self.raiz = tempfile.TemporaryDirectory(prefix=prefijo)
        self.base = os.path.join(self.raiz.name, "orlan.db")
        self.admin_bin = os.path.join(build, "tools/orlan-admin/orlan-admin")
        self.panel_bin = os.path.join(build, "src/panel/orlan-panel")
        self.entorno = dict(os.environ,
                            XDG_CONFIG_HOME=os.path.join(self.raiz.name, "config"),
                            XDG_DATA_HOME=os.path.join(self.raiz.name, "data"),
                            ODBCSYSINI=os.path.join(fuente, "src/database/odbc/sqlite"),
                            LC_ALL="C.UTF-8")
        configuracion = os.path.join(self.entorno["XDG_CONFIG_HOME"], "orlan")
        os.makedirs(configuracion)
        with open(os.path.join(configuracion, "orlan.ini"), "w") as f:
            f.write("[Configuracion]\nTerminal=1\nServidor=localhost\nBASE_DE_DATOS=%s\n%s" % (self.base, ajustes))
        credenciales = os.path.join(configuracion, "credenciales.ini")
        with open(os.open(credenciales, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
            f.write("Usuario=orlan\nContrasena=orlan\nLlave=%s\n" % prefijo.strip("."))

    def admin(self, *argumentos, entrada=None):
        r = subprocess.run([self.admin_bin, *argumentos], env=self.entorno, input=entrada, capture_output=True,
                           text=True, timeout=60)
        if r.returncode != 0:
            sys.exit("orlan-admin %s: %s" % (" ".join(argumentos), r.stderr))
        return r.stdout
