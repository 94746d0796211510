#!/usr/bin/env python3
"""orlan-panel attacked as a host of the shop's LAN would: connections left
idle or half-sent, more of them than one address may hold, huge bodies and
heads, HTTP/1.0 and Connection: close, HEAD, foreign Host names, and a till
that holds the SQLite database locked. Everything on 127.0.0.0/8, every loop
bounded, every wait with its own limit.

    hostil.py BUILD_DIR SOURCE_DIR        exit status 0: passed
"""
import os
import re
import select
import socket
import sqlite3
import subprocess
import sys
import time

from tienda import Tienda

# Statements wait for a locked database at most 40 s.
tienda = Tienda(sys.argv[1], sys.argv[2], "orlan-hostil.", "TiempoConsulta=40\n")
entorno, base, panel_bin, admin = tienda.entorno, tienda.base, tienda.panel_bin, tienda.admin

fallas = []


def comprobar(condicion, que):
    print(("ok     " if condicion else "FALLA  ") + que, flush=True)
    if not condicion:
        fallas.append(que)


def iniciar(*opciones, escuchar="127.0.0.1:0"):
    proceso = subprocess.Popen([panel_bin, "--escuchar", escuchar, *opciones], env=entorno,
                               stderr=subprocess.PIPE, text=True)
    linea = proceso.stderr.readline()
    encontrado = re.search(r"http://127\.0\.0\.1:(\d+)/", linea)
    if not encontrado:
        proceso.kill()
        sys.exit("orlan-panel did not start: " + linea)
    return proceso, int(encontrado.group(1))


def conectar(desde="127.0.0.1"):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(20)
    s.bind((desde, 0))
    s.connect(("127.0.0.1", puerto))
    return s


def leer_hasta_cierre(s, limite=30.0):
    """Everything the panel sends until it closes; None if it keeps the connection past the limit."""
    s.settimeout(limite)
    datos = b""
    try:
        while True:
            parte = s.recv(65536)
            if not parte:
                return datos
            datos += parte
    except socket.timeout:
        return None
    except ConnectionResetError:
        return datos


def todas_cerradas(conexiones, limite):
    """The connections the panel has not closed once the limit (for all of them together) is over."""
    abiertas = list(conexiones)
    fin = time.monotonic() + limite
    while abiertas and time.monotonic() < fin:
        legibles, _, _ = select.select(abiertas, [], [], max(0.0, fin - time.monotonic()))
        for s in legibles:
            try:
                if s.recv(65536) == b"":
                    abiertas.remove(s)
            except OSError:
                abiertas.remove(s)
    return abiertas


def respuesta(s, limite=20.0):
    """One answer on a kept-alive connection: (status, headers, body)."""
    s.settimeout(limite)
    datos = b""
    while b"\r\n\r\n" not in datos:
        parte = s.recv(65536)
        if not parte:
            break
        datos += parte
    cabeza, _, cuerpo = datos.partition(b"\r\n\r\n")
    lineas = cabeza.decode("latin-1").split("\r\n")
    estado = int(lineas[0].split()[1]) if lineas and len(lineas[0].split()) > 1 else 0
    encabezados = {k.strip().lower(): v.strip() for k, _, v in (l.partition(":") for l in lineas[1:])}
    largo = int(encabezados.get("content-length", "0"))
    return estado, encabezados, cuerpo, largo


def pedir(metodo, ruta, encabezados="", desde="127.0.0.1", host="127.0.0.1"):
    s = conectar(desde)
    s.sendall(("%s %s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n%s\r\n" % (metodo, ruta, host, encabezados))
              .encode())
    datos = leer_hasta_cierre(s, 20)
    s.close()
    if not datos:
        return 0, b""
    return int(datos.split()[1]), datos.partition(b"\r\n\r\n")[2]


def memoria_kib(proceso):
    with open("/proc/%d/status" % proceso.pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def cpu_s(proceso):
    with open("/proc/%d/stat" % proceso.pid) as f:
        campos = f.read().rsplit(")", 1)[1].split()
    return (int(campos[11]) + int(campos[12])) / os.sysconf("SC_CLK_TCK")


admin("esquema", "sqlite")
admin("demo")
panel, puerto = iniciar("--nombre", "caja1.tienda")
try:
    comprobar(pedir("GET", "/api/estado")[0] == 200, "the demo shop's state reads")

    # Half-sent request lines from one address: beyond the per-address limit
    # they are closed at once, the rest after a few seconds of silence; a
    # client of another address is served meanwhile, and the panel does not
    # spin while it holds them.
    medio = []
    for _ in range(300):
        try:
            s = conectar()
            s.sendall(b"GET /api/est")
            medio.append(s)
        except OSError:
            break
    antes = cpu_s(panel)
    comprobar(pedir("GET", "/panel.css", desde="127.0.0.2")[0] == 200,
              "another address is served while 300 half-sent connections try to stay")
    cerradas = 0
    for s in medio:
        s.settimeout(0.2)
        try:
            cerradas += s.recv(1) == b""
        except socket.timeout:
            pass
        except ConnectionResetError:
            cerradas += 1
    comprobar(cerradas >= 300 - 64, "an address holds at most 64 connections (%d of 300 closed)" % cerradas)
    time.sleep(2)
    comprobar(cpu_s(panel) - antes < 1.5, "the panel does not spin while it holds them")
    abiertas = todas_cerradas(medio, 40)
    comprobar(not abiertas, "half-sent connections are closed after a few seconds (%d left)" % len(abiertas))
    for s in medio:
        s.close()

    # A request head or body trickled a byte a second never lets the idle
    # timeout run: it is closed once the request has taken more than a few
    # seconds. Both are sent side by side.
    cabeza, cuerpo = conectar(), conectar()
    cabeza.sendall(b"GET /panel.css HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Relleno: ")
    cuerpo.sendall(b"POST /api/sesion HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                   b"Content-Length: 4000\r\n\r\n{")
    cerradas = {}
    for _ in range(40):
        for nombre, s in (("head", cabeza), ("body", cuerpo)):
            if nombre in cerradas:
                continue
            try:
                s.sendall(b" ")
                s.settimeout(0.5)
                if s.recv(1) == b"":
                    cerradas[nombre] = True
            except socket.timeout:
                pass
            except OSError:
                cerradas[nombre] = True
        if len(cerradas) == 2:
            break
    cabeza.close()
    cuerpo.close()
    comprobar("head" in cerradas, "a request head trickled a byte a second is closed")
    comprobar("body" in cerradas, "a request body trickled a byte a second is closed")

    # A connection is kept alive between answers, and closed once left idle.
    s = conectar()
    codigos = []
    for ruta in (b"/panel.css", b"/api/estado", b"/api/estado"):
        s.sendall(b"GET " + ruta + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        estado, _, cuerpo, largo = respuesta(s)
        while len(cuerpo) < largo:
            cuerpo += s.recv(65536)
        codigos.append(estado)
    comprobar(codigos == [200, 200, 200], "three answers on one kept-alive connection: %s" % codigos)
    comprobar(leer_hasta_cierre(s, 40) is not None, "an idle kept-alive connection is closed")
    s.close()

    # Connection: close and HTTP/1.0 end the connection after the answer.
    s = conectar()
    s.sendall(b"GET /panel.css HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
    comprobar(leer_hasta_cierre(s, 10) is not None, "Connection: close closes after the answer")
    s.close()
    s = conectar()
    s.sendall(b"GET /api/estado HTTP/1.0\r\n\r\n")
    datos = leer_hasta_cierre(s, 10)
    comprobar(datos is not None and b" 200 " in datos.split(b"\r\n")[0], "HTTP/1.0 is answered and closed")
    s.close()

    # HEAD: the headers of GET without the body.
    s = conectar()
    s.sendall(b"HEAD /api/estado HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
    estado, encabezados, resto, largo = respuesta(s)
    resto += leer_hasta_cierre(s, 10) or b""
    comprobar(estado == 200 and encabezados.get("content-type", "").startswith("application/json") and largo > 0
              and resto == b"", "HEAD answers like GET, without the body")
    s.close()

    # Bodies: refused by their announced size before they are sent, and cut
    # off when they come in chunks; the panel's memory does not follow.
    memoria = memoria_kib(panel)
    s = conectar()
    s.sendall(b"POST /api/sesion HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
              b"Content-Length: 104857600\r\n\r\n")
    estado, _, _, _ = respuesta(s)
    comprobar(estado == 413, "a 100 MB body is refused (413) before it is sent")
    s.close()
    for _ in range(2):
        s = conectar()
        s.sendall(b"POST /no-existe HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n")
        trozo = b"100000\r\n" + b"x" * 0x100000 + b"\r\n"
        enviados = 0
        try:
            for _ in range(100):
                s.sendall(trozo)
                enviados += 1
        except OSError:
            pass
        s.close()
        comprobar(enviados < 100, "a chunked body is cut off (%d of 100 MB taken)" % enviados)
    comprobar(memoria_kib(panel) - memoria < 32 * 1024,
              "memory after 100 MB bodies: %d KiB more" % (memoria_kib(panel) - memoria))

    # A head of 32 KB.
    estado, _ = pedir("GET", "/panel.css", "X-Relleno: %s\r\n" % ("r" * 32768))
    comprobar(estado == 431, "a 32 KB head is refused with 431 (got %d)" % estado)

    # Heads that a proxy in front and the panel could read as two different
    # requests: refused (400) before any handler, the connection closed.
    ingreso = b'{"usuario": "gerente", "contrasena": "x"}'
    for que, cabeza in (
            ("Content-Length with Transfer-Encoding",
             b"POST /api/sesion HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
             b"Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n%x\r\n%s\r\n0\r\n\r\n"
             % (len(ingreso), ingreso)),
            ("two different Content-Lengths",
             b"POST /api/sesion HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
             b"Content-Length: %d\r\nContent-Length: 5\r\n\r\n%s" % (len(ingreso), ingreso)),
            ("HTTP/1.1 without Host", b"GET /panel.css HTTP/1.1\r\n\r\n"),
            ("an encoded NUL in the path", b"GET /panel.css%00.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")):
        s = conectar()
        s.sendall(cabeza)
        datos = leer_hasta_cierre(s, 20)
        s.close()
        comprobar(datos is not None and datos.startswith(b"HTTP/1.1 400 "),
                  "%s is refused with 400 and closed (%r)" % (que, (datos or b"").split(b"\r\n")[0]))

    # Host names: the listening address, localhost and --nombre only.
    comprobar(pedir("GET", "/api/estado", host="atacante.example:%d" % puerto)[0] == 421,
              "a foreign Host is refused (421)")
    comprobar(pedir("GET", "/api/estado", host="caja1.tienda:%d" % puerto)[0] == 200,
              "a name given with --nombre is served")

    # A till holds the database locked while an operator restores a printer:
    # the action waits for the lock on the database side, and meanwhile the
    # page's files still come, a reader says the database does not answer,
    # and so does the action in the end, all while the lock is still held.
    admin("contrasena", "--usuario", "gerente", entrada="demo\n")
    s = conectar()
    cuerpo = b'{"usuario": "gerente", "contrasena": "demo"}'
    s.sendall(b"POST /api/sesion HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
              b"Content-Length: %d\r\n\r\n%s" % (len(cuerpo), cuerpo))
    estado, encabezados, cuerpo, _ = respuesta(s)
    s.close()
    comprobar(estado == 200, "the manager signs in")
    cookie = encabezados.get("set-cookie", "").split(";")[0]
    csrf = re.search(r'"csrf":"(\w+)"', cuerpo.decode()).group(1)
    admin("sql", "UPDATE Impresora SET Redirigido = 1, Estado_Impresora = 'P' WHERE Id_Impresora = 3")
    till = sqlite3.connect(base, timeout=1, isolation_level=None)
    till.execute("BEGIN EXCLUSIVE")
    try:
        accion = conectar()
        accion.sendall(("POST /api/impresoras/3/restablecer HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: %s\r\n"
                        "X-CSRF-Token: %s\r\nContent-Length: 0\r\n\r\n" % (cookie, csrf)).encode())
        time.sleep(1.5)  # past the one second a read is kept for, so the reader must read
        estado_css = pedir("GET", "/panel.css")[0]
        estado_lector, cuerpo = pedir("GET", "/api/estado")
        estado_accion, _, cuerpo_accion, _ = respuesta(accion, 30)
        accion.close()
        estado_css2 = pedir("GET", "/panel.css", desde="127.0.0.3")[0]
    finally:
        till.execute("ROLLBACK")
        till.close()
    comprobar(estado_css == 200 and estado_css2 == 200, "the page's files are served while the database is stalled")
    comprobar(estado_lector == 503, "a reader answers 503 while the database is stalled (%d %s)" % (estado_lector, cuerpo))
    comprobar(estado_accion == 503, "the action answers 503 while the lock holds (%d %s)" % (estado_accion, cuerpo_accion))
    listo = False
    for _ in range(120):
        if pedir("GET", "/api/estado")[0] == 200:
            listo = True
            break
        time.sleep(0.5)
    comprobar(listo, "the state reads again once the lock is gone")

    # The listening address already taken: the reason is given.
    otro = subprocess.run([panel_bin, "--escuchar", "127.0.0.1:%d" % puerto], env=entorno, capture_output=True,
                          text=True, timeout=30)
    motivo = re.search(r"no se puede atender en 127\.0\.0\.1:\d+: (.*)", otro.stderr)
    comprobar(otro.returncode == 2 and motivo and motivo.group(1).strip(),
              "a taken address is refused with its reason: " + otro.stderr.strip())
finally:
    panel.terminate()
    try:
        panel.wait(20)
    except subprocess.TimeoutExpired:
        panel.kill()

if fallas:
    sys.exit("%d failed" % len(fallas))
