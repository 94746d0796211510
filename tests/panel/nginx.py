#!/usr/bin/env python3
"""orlan-panel behind nginx exactly as the operations guide sets it up: the
guide's nginx block (the only one of "Exposing the panel", with a free port
and a self-signed pair filled in) in front of a panel started with
--proxy-confiable 127.0.0.1. Through nginx over HTTPS an operator signs in
with a Secure cookie and restores a printer, and a client that guesses
passwords is braked by its own address, not the proxy's, while another
client still signs in.

    nginx.py BUILD_DIR SOURCE_DIR        exit status 0: passed
"""
import http.client
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import time

from tienda import Tienda, comprobar, iniciar_panel, par_autofirmado, terminar

build, fuente = sys.argv[1], sys.argv[2]
tienda = Tienda(build, fuente, "orlan-nginx.")
entorno, panel_bin, admin, raiz = tienda.entorno, tienda.panel_bin, tienda.admin, tienda.raiz
tienda.demo()
certificado, llave = par_autofirmado(raiz.name)

def bloque_de_la_guia():
    """The nginx block of the guide's section on exposing the panel."""
    texto = open(os.path.join(fuente, "docs/operacion.md"), encoding="utf-8").read()
    inicio = texto.find("### Exposing the panel")
    if inicio < 0:
        sys.exit("the operations guide has no section on exposing the panel")
    fin = re.compile(r"^#{2,3} ", re.M).search(texto, inicio + 1)
    seccion = texto[inicio:fin.start() if fin else len(texto)]
    bloques = re.findall(r"^```nginx\n(.*?)^```", seccion, re.M | re.S)
    if len(bloques) != 1:
        sys.exit("the section on exposing the panel holds %d nginx blocks, not one" % len(bloques))
    return bloques[0]


def puerto_libre():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


panel, url = iniciar_panel(panel_bin, entorno, "--proxy-confiable", "127.0.0.1", "--nombre", "caja1.tienda")
puerto = puerto_libre()
bloque = bloque_de_la_guia()
for patron, valor in ((r"listen \d+ ssl;", "listen 127.0.0.1:%d ssl;" % puerto),
                      (r"ssl_certificate \S+;", "ssl_certificate %s;" % certificado),
                      (r"ssl_certificate_key \S+;", "ssl_certificate_key %s;" % llave),
                      (r"proxy_pass http://127\.0\.0\.1:8631;", "proxy_pass %s;" % url.rstrip("/"))):
    bloque, cambios = re.subn(patron, lambda _: valor, bloque)
    if cambios != 1:
        sys.exit("the guide's nginx block has no '%s'" % patron)

# nginx unprivileged, everything it writes inside its own folder (run as root
# its workers are nobody, who must reach that folder).
carpeta = tempfile.TemporaryDirectory(prefix="orlan-nginx-servidor.")
os.chmod(carpeta.name, 0o755)
temporales = "".join("    %s_temp_path %s;\n" % (t, os.path.join(carpeta.name, t))
                     for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
configuracion = os.path.join(carpeta.name, "nginx.conf")
with open(configuracion, "w") as f:
    f.write("daemon off;\nworker_processes 1;\npid %s;\nerror_log %s;\nevents {}\nhttp {\n    access_log off;\n%s%s}\n"
            % (os.path.join(carpeta.name, "nginx.pid"), os.path.join(carpeta.name, "error.log"), temporales, bloque))
nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", carpeta.name, "-c", configuracion, "-e",
                          os.path.join(carpeta.name, "error.log")], stderr=subprocess.PIPE, text=True)

contexto = ssl.create_default_context(cafile=certificado)


def pedir(metodo, ruta, desde, cuerpo=None, encabezados=None):
    """One request to nginx over HTTPS from the address `desde`: status, headers, body."""
    conexion = http.client.HTTPSConnection("127.0.0.1", puerto, context=contexto, timeout=30,
                                           source_address=(desde, 0))
    todos = {"Host": "caja1.tienda"}
    todos.update(encabezados or {})
    if cuerpo is not None:
        todos["Content-Type"] = "application/json"
    conexion.request(metodo, ruta, cuerpo, todos)
    r = conexion.getresponse()
    datos = r.read()
    conexion.close()
    return r.status, r, datos


def entrar(desde, contrasena):
    # A client's own X-Forwarded-For is kept by nginx but never believed.
    return pedir("POST", "/api/sesion", desde, json.dumps({"usuario": "gerente", "contrasena": contrasena}),
                 {"X-Forwarded-For": "10.9.9.9"})


try:
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", puerto), timeout=1).close()
            break
        except OSError:
            if nginx.poll() is not None:
                sys.exit("nginx did not start: " + nginx.stderr.read())
            time.sleep(0.1)

    estado, _, datos = pedir("GET", "/api/estado", "127.0.0.2")
    comprobar(estado == 200 and b'"impresoras"' in datos, "the state is read through nginx (%d)" % estado)

    estado, r, datos = entrar("127.0.0.2", "demo")
    cookie = r.getheader("Set-Cookie", "")
    comprobar(estado == 200 and "; Secure" in cookie, "signing in through nginx sets a Secure cookie (%d %r)"
              % (estado, cookie))
    csrf = re.search(r'"csrf":"(\w+)"', datos.decode())
    admin("sql", "UPDATE Impresora SET Redirigido = 1, Estado_Impresora = 'P' WHERE Id_Impresora = 3")
    estado, _, datos = pedir("POST", "/api/impresoras/3/restablecer", "127.0.0.2", "",
                             {"Cookie": cookie.split(";")[0], "X-CSRF-Token": csrf.group(1) if csrf else ""})
    comprobar(estado == 200, "restoring a printer through nginx works (%d %s)" % (estado, datos))
    comprobar("P" not in admin("sql", "SELECT Estado_Impresora FROM Impresora WHERE Id_Impresora = 3"),
              "the printer serves its own jobs again")

    # Five wrong passwords from 127.0.0.2 brake that client, even with the
    # right one; 127.0.0.3, behind the same proxy, still signs in.
    fallidos = [entrar("127.0.0.2", "adivinada%d" % i)[0] for i in range(5)]
    comprobar(all(e in (401, 429) for e in fallidos), "the wrong passwords are refused (%s)" % fallidos)
    estado = entrar("127.0.0.2", "demo")[0]
    comprobar(estado == 429, "the guessing client is braked with 429 (%d)" % estado)
    estado = entrar("127.0.0.3", "demo")[0]
    comprobar(estado == 200, "another client behind the same proxy still signs in (%d)" % estado)

    carpeta_bitacora = os.path.join(entorno["XDG_DATA_HOME"], "orlan/nodra")
    bitacora = "".join(open(os.path.join(carpeta_bitacora, n), encoding="utf-8", errors="replace").read()
                       for n in os.listdir(carpeta_bitacora) if n.endswith(".log"))
    comprobar("acceso rechazado a gerente desde 127.0.0.2" in bitacora and "desde 127.0.0.1" not in bitacora
              and "10.9.9.9" not in bitacora, "the log names the client, not the proxy nor a forged address")
    comprobar("Panel, gerente restablecio la impresora 3" in bitacora, "the log names the operator's action")
finally:
    nginx.terminate()
    nginx.wait(timeout=30)
    panel.terminate()
    panel.wait(timeout=30)

terminar()
