#!/usr/bin/env python3
"""orlan-panel serving HTTPS itself with a shop's certificate: the state and
the sign-in over TLS with a Secure cookie, plain HTTP on that port refused,
and a private key that others can read (or files that are missing or not
PEM) refused before the panel starts.

    https.py BUILD_DIR SOURCE_DIR        exit status 0: passed
"""
import http.client
import json
import os
import socket
import ssl
import subprocess
import sys
import time

from tienda import Tienda, comprobar, iniciar_panel, par_autofirmado, terminar

tienda = Tienda(sys.argv[1], sys.argv[2], "orlan-https.")
entorno, panel_bin, admin, raiz = tienda.entorno, tienda.panel_bin, tienda.admin, tienda.raiz
tienda.demo()
certificado, llave = par_autofirmado(raiz.name)

def rechazo(*opciones):
    """Exit status and stderr of a panel that must refuse to start."""
    r = subprocess.run([panel_bin, "--escuchar", "127.0.0.1:0", *opciones], env=entorno, capture_output=True,
                       text=True, timeout=30)
    return r.returncode, r.stderr


panel, url = iniciar_panel(panel_bin, entorno, "--certificado", certificado, "--llave", llave)
try:
    comprobar(url.startswith("https://127.0.0.1:"), "the panel says it serves HTTPS (%s)" % url)
    puerto = int(url.rstrip("/").rsplit(":", 1)[1])
    contexto = ssl.create_default_context(cafile=certificado)

    conexion = http.client.HTTPSConnection("127.0.0.1", puerto, context=contexto, timeout=20)
    conexion.request("GET", "/api/estado")
    r = conexion.getresponse()
    estado = json.loads(r.read())
    comprobar(r.status == 200 and "impresoras" in json.dumps(estado), "the state is read over HTTPS")

    conexion.request("POST", "/api/sesion", json.dumps({"usuario": "gerente", "contrasena": "demo"}),
                     {"Content-Type": "application/json"})
    r = conexion.getresponse()
    r.read()
    cookie = r.getheader("Set-Cookie", "")
    comprobar(r.status == 200 and "; Secure" in cookie, "signing in over HTTPS sets a Secure cookie (%r)" % cookie)

    # Answers per second of one keep-alive client, for the record only.
    fin, respuestas = time.monotonic() + 3, 0
    while time.monotonic() < fin:
        conexion.request("GET", "/api/estado")
        conexion.getresponse().read()
        respuestas += 1
    print("info   /api/estado over HTTPS, one keep-alive client: %.0f answers/s" % (respuestas / 3), flush=True)
    conexion.close()

    # Plain HTTP to the HTTPS port gets no HTTP answer.
    s = socket.create_connection(("127.0.0.1", puerto), timeout=20)
    s.sendall(b"GET /api/estado HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    datos = b""
    try:
        while True:
            parte = s.recv(65536)
            if not parte:
                break
            datos += parte
    except (socket.timeout, ConnectionResetError):
        pass
    s.close()
    comprobar(not datos.startswith(b"HTTP/"), "plain HTTP to the HTTPS port is not answered (%r)" % datos[:40])
finally:
    panel.terminate()
    panel.wait(timeout=30)

# Refusals: exit status 1, the file named, before anything listens.
os.chmod(llave, 0o644)
codigo, error = rechazo("--certificado", certificado, "--llave", llave)
comprobar(codigo == 1 and llave in error and "chmod 600" in error, "a key of mode 0644 is refused (%d %s)" % (codigo, error))
os.chmod(llave, 0o600)
falta = os.path.join(raiz.name, "no-existe.key")
codigo, error = rechazo("--certificado", certificado, "--llave", falta)
comprobar(codigo == 1 and falta in error, "a missing key is refused (%d %s)" % (codigo, error))
codigo, error = rechazo("--certificado", tienda.base, "--llave", llave)
comprobar(codigo == 1 and tienda.base in error and "PEM" in error,
          "a certificate that is not PEM is refused (%d %s)" % (codigo, error))
codigo, error = rechazo("--certificado", llave, "--llave", llave)
comprobar(codigo == 1 and "PEM" in error, "a key given as the certificate is refused (%d %s)" % (codigo, error))
codigo, error = rechazo("--certificado", certificado)
comprobar(codigo == 1 and "--llave" in error, "--certificado without --llave is refused (%d %s)" % (codigo, error))

terminar()
