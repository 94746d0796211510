"""The terminal the panel's Python tests run on: a temporary home with the
settings, the credentials (mode 0600) and the SQLite driver registry of this
source tree, and orlan-admin of this build on it."""
import os
import re
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

    def demo(self):
        """The demo shop on SQLite, its manager signing in with "demo"."""
        self.admin("esquema", "sqlite")
        self.admin("demo")
        self.admin("contrasena", "--usuario", "gerente", entrada="demo\n")


def chromium(carpeta, javascript=True):
    """Debian's chromium, headless, with its profile in `carpeta`."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    opciones = webdriver.ChromeOptions()
    opciones.binary_location = "/usr/bin/chromium"
    for argumento in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--no-first-run", "--user-data-dir=" + carpeta, "--window-size=1024,768", "--lang=es"):
        opciones.add_argument(argumento)
    if not javascript:
        opciones.add_experimental_option("prefs", {"profile.managed_default_content_settings.javascript": 2})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opciones)


def iniciar_panel(panel_bin, entorno, *argumentos):
    """orlan-panel on a free port of 127.0.0.1: the process and its address."""
    proceso = subprocess.Popen([panel_bin, "--escuchar", "127.0.0.1:0", *argumentos], env=entorno,
                               stderr=subprocess.PIPE, text=True)
    linea = proceso.stderr.readline()
    encontrado = re.search(r"(https?://\S+)", linea)
    if not encontrado:
        sys.exit("orlan-panel did not start: " + linea)
    return proceso, encontrado.group(1)


def par_autofirmado(carpeta):
    """A self-signed certificate for localhost and 127.0.0.1 and its key (mode
    0600) in `carpeta`, made the way the operations guide tells a shop."""
    certificado, llave = os.path.join(carpeta, "panel.crt"), os.path.join(carpeta, "panel.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", llave, "-out", certificado],
                   check=True, capture_output=True, timeout=60)
    os.chmod(llave, 0o600)
    return certificado, llave


fallas = []


def comprobar(condicion, que):
    """One check, printed; the test goes on and fails at the end (terminar)."""
    print(("ok     " if condicion else "FALLA  ") + que, flush=True)
    if not condicion:
        fallas.append(que)


def terminar():
    if fallas:
        sys.exit("%d checks failed" % len(fallas))
    print("all checks passed")
