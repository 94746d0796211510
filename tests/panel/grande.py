#!/usr/bin/env python3
"""The status page of a big shop in a real browser: 200 terminals with two
printers each, five of them in trouble (one holds 250 jobs set aside), seen at
a phone's and a wide screen's width, behind a proxy that serves it under
/orlan/, and with JavaScript off.

    grande.py BUILD_DIR SOURCE_DIR                 the test (exit status 0: passed)
    grande.py BUILD_DIR SOURCE_DIR --capturas DIR  also draws the page at 360 and 1920 px

It prints the page's height and the time of one redraw at both widths.
"""
import http.client
import http.server
import os
import sqlite3
import sys
import threading
import time

from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from tienda import Tienda, chromium, iniciar_panel

build, fuente = sys.argv[1], sys.argv[2]
capturas = sys.argv[4] if len(sys.argv) > 4 and sys.argv[3] == "--capturas" else None
tienda = Tienda(build, fuente, "orlan-grande.")
tienda.admin("esquema", "sqlite")

# The tills' program writes the rows; nothing checks them.
base = sqlite3.connect(tienda.base)
base.executemany("INSERT INTO Terminal (ID_Terminal, Nombre) VALUES (?, ?)",
                 [(t, "Caja %d" % t if t % 2 else None) for t in range(1, 201)])
base.executemany("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, Redirigido, "
                 "Estado_Impresora) VALUES (?, ?, ?, 'E', ?, ?, 'A')",
                 [(i, (i + 1) // 2, "COM%d" % (2 - i % 2), ("Cocina %d" if i % 2 else "Barra %d") % ((i + 1) // 2), i)
                  for i in range(1, 401)])
MALICIOSO = '<img src=x onerror="document.title=1">Barra'
base.execute("UPDATE Impresora SET Nombre_Impresora = ? WHERE Id_Impresora = 56", (MALICIOSO,))
# Cocina 19 is out of paper and sends its jobs to Barra 19; Cocina 62's server
# cannot open its port; Barra 150 is out of service; Cocina 167 has a job
# waiting for 20 minutes; Cocina 125 has 250 jobs set aside.
base.execute("UPDATE Impresora SET Estado_Impresora = 'P', Redirigido = 38 WHERE Id_Impresora = 37")
base.execute("UPDATE Impresora SET Falla = 'no se pudo abrir /dev/ttyS0: Permission denied' WHERE Id_Impresora = 123")
base.execute("UPDATE Impresora SET Estado_Impresora = 'D' WHERE Id_Impresora = 300")
# The manager, who may read the jobs' text.
base.execute("INSERT INTO Empleado (ID_Empleado, Usuario) VALUES (1, 'gerente')")
base.execute("INSERT INTO EmpleadosXGrupo (ID_Empleado, ID_Grupo_Trabajo) VALUES (1, 1)")
base.execute("INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (1, 27)")
trabajo = 0


def encolar(impresora, renglon, escribiendo=0, hace="0 seconds"):
    global trabajo
    trabajo += 1
    base.execute("INSERT INTO ColaImpresion (IdTrabajo, Tipo, FechaHora, Escribiendo, id_impresora) "
                 "VALUES (?, 'T', datetime('now', ?), ?, ?)", (trabajo, "-" + hace, escribiendo, impresora))
    base.execute("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) VALUES (?, 1, ?)", (trabajo, renglon))


encolar(249, "<H>" + "X" * 150 + "</H>", escribiendo=2)
for n in range(151, 400):
    encolar(249, "<B>Ticket %d</B>" % n, escribiendo=2)
encolar(333, "<B>Mesa 4</B>", hace="1200 seconds")
for i in range(1, 401, 3):
    encolar(i, "Comanda %d" % i)
base.commit()
tienda.admin("contrasena", "--usuario", "gerente", entrada="demo\n")
EN_PROBLEMAS = {37, 123, 249, 300, 333}

panel, url = iniciar_panel(tienda.panel_bin, tienda.entorno)


class Proxy(http.server.BaseHTTPRequestHandler):
    """A proxy that serves the panel under /orlan/ and nothing at the root."""

    def do_GET(self):
        self.pasar()

    def do_POST(self):
        self.pasar()

    def pasar(self):
        if not self.path.startswith("/orlan/"):
            self.send_error(404)
            return
        largo = int(self.headers.get("Content-Length") or 0)
        cuerpo = self.rfile.read(largo) if largo else None
        encabezados = {k: v for k, v in self.headers.items() if k.lower() not in ("host", "connection")}
        conexion = http.client.HTTPConnection(url.split("//")[1].rstrip("/"), timeout=10)
        conexion.request(self.command, self.path[len("/orlan"):], cuerpo, encabezados)
        respuesta = conexion.getresponse()
        datos = respuesta.read()
        self.send_response(respuesta.status)
        for k, v in respuesta.getheaders():
            if k.lower() not in ("connection", "transfer-encoding", "content-length"):
                self.send_header(k, v)
        self.send_header("Content-Length", str(len(datos)))
        self.end_headers()
        self.wfile.write(datos)

    def log_message(self, *argumentos):
        pass


proxy = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Proxy)
threading.Thread(target=proxy.serve_forever, daemon=True).start()

navegador = chromium(os.path.join(tienda.raiz.name, "chromium"))
sin_guion = None
espera = WebDriverWait(navegador, 30, ignored_exceptions=[StaleElementReferenceException])


def ancho(px, alto=900):
    navegador.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                              {"width": px, "height": alto, "deviceScaleFactor": 1, "mobile": False})
    espera.until(lambda _: navegador.execute_script("return window.innerWidth") == px)


def tarjeta(impresora, cual=None):
    return (cual or navegador).find_element(By.CSS_SELECTOR, 'article[data-impresora="%d"]' % impresora)


def generado():
    return navegador.execute_script("return typeof ultimo === 'undefined' || !ultimo ? null : ultimo.generado")


def dos_lecturas():
    """Waits for two reads of the state after this one."""
    for _ in range(2):
        antes = generado()
        espera.until(lambda _: generado() not in (None, antes))


try:
    navegador.get(url)
    espera.until(lambda _: tarjeta(400).text)
    for px in (1920, 360):
        ancho(px)
        medida = navegador.execute_script(
            "const veces = []; for (let i = 0; i < 5; i++) { const t = performance.now(); dibujar(ultimo); "
            "document.body.offsetHeight; veces.push(performance.now() - t); } veces.sort((a, b) => a - b); "
            "return [document.documentElement.scrollHeight, veces[2]]")
        print("%d px: page %d px tall, a redraw %.1f ms" % (px, medida[0], medida[1]))

    # First the summary and the printers in trouble.
    ancho(1920)
    resumen = navegador.find_element(By.ID, "resumen").text
    assert "5 de 400 impresoras con problemas" in resumen, resumen
    assert "Cocina 167" in resumen and "20:" in resumen, resumen
    primeras = navegador.execute_script(
        "return [...document.querySelectorAll('article[data-impresora]')].slice(0, 5).map(e => +e.dataset.impresora)")
    assert set(primeras) == EN_PROBLEMAS, primeras

    # 250 jobs set aside: a count, the first few on demand; their text only
    # to a signed-in operator, as printed (no tags).
    apartados = tarjeta(249)
    assert "250 trabajos apartados" in apartados.text, apartados.text
    assert "Ticket 151" not in apartados.text
    assert apartados.size["height"] < 400, apartados.size
    apartados.find_element(By.CSS_SELECTOR, "details summary").click()
    espera.until(lambda _: "Trabajo 2" in tarjeta(249).text)
    assert "Ticket" not in tarjeta(249).text, tarjeta(249).text
    navegador.find_element(By.ID, "entrar").click()
    navegador.find_element(By.ID, "usuario").send_keys("gerente")
    navegador.find_element(By.ID, "contrasena").send_keys("demo")
    navegador.find_element(By.ID, "aceptar").click()
    espera.until(lambda _: navegador.find_element(By.ID, "operador").text == "gerente")
    espera.until(lambda _: "Ticket 151" in tarjeta(249).text)
    assert "<B>" not in tarjeta(249).text and "<H>" not in tarjeta(249).text, tarjeta(249).text
    assert len(tarjeta(249).find_elements(By.CSS_SELECTOR, "li")) <= 10
    assert "Ticket 399" not in tarjeta(249).text

    # The filter keeps its focus, its words and the cards it hides across
    # refreshes, and a card is the same element after them, with new text.
    filtro = navegador.find_element(By.ID, "filtro")
    filtro.click()
    filtro.send_keys("terminal 19")
    navegador.execute_script("window.guardada = document.querySelector('article[data-impresora=\"38\"]')")
    base.execute("UPDATE Impresora SET Estado_Impresora = 'F' WHERE Id_Impresora = 38")
    base.commit()
    dos_lecturas()
    assert navegador.execute_script("return document.activeElement.id") == "filtro"
    assert filtro.get_attribute("value") == "terminal 19"
    visibles = navegador.execute_script(
        "return [...document.querySelectorAll('article[data-impresora]')].filter(e => e.offsetParent)"
        ".map(e => +e.dataset.impresora)")
    assert sorted(visibles) == [37, 38], visibles
    assert navegador.execute_script("return document.contains(window.guardada)")
    assert "No responde" in tarjeta(38).text
    assert "<img" in tarjeta(56).get_attribute("textContent")
    assert navegador.execute_script("return document.title") != "1"
    base.execute("UPDATE Impresora SET Estado_Impresora = 'A' WHERE Id_Impresora = 38")
    base.commit()
    filtro.clear()
    filtro.send_keys(" ")
    filtro.clear()

    # Nothing runs off the side, neither the page nor a card.
    for px in (360, 768, 1024, 1920):
        ancho(px)
        desborde = navegador.execute_script(
            "const e = document.documentElement; const fuera = e.scrollWidth > e.clientWidth ? ['html'] : []; "
            "return fuera.concat([...document.querySelectorAll('.tarjeta')]"
            ".filter(t => t.scrollWidth > t.clientWidth).map(t => t.dataset.impresora))")
        assert not desborde, "%d px: %s" % (px, desborde)

    if capturas:
        os.makedirs(capturas, exist_ok=True)
        for nombre, px, alto in (("panel-grande-360.png", 360, 1400), ("panel-grande-1920.png", 1920, 1080)):
            ancho(px, alto)
            navegador.execute_script("window.scrollTo(0, 0)")
            time.sleep(0.5)  # one frame of layout after the resize, for the picture only
            navegador.save_screenshot(os.path.join(capturas, nombre))
    navegador.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    # Under a proxy's sub-path the page loads its files and the state from there.
    navegador.get("http://127.0.0.1:%d/orlan/" % proxy.server_address[1])
    espera.until(lambda _: "5 de 400" in navegador.find_element(By.ID, "resumen").text)
    espera.until(lambda _: "Cocina 62" in tarjeta(123).text)
    assert not navegador.find_element(By.ID, "aviso").is_displayed()

    # Without JavaScript the server's page shows the cards, and refreshes.
    sin_guion = chromium(os.path.join(tienda.raiz.name, "sin-guion"), javascript=False)
    sin_guion.get(url)
    assert "Cargando" not in sin_guion.find_element(By.TAG_NAME, "body").text
    assert "5 de 400 impresoras con problemas" in sin_guion.find_element(By.ID, "resumen").text
    assert "No imprime: no se pudo abrir /dev/ttyS0" in tarjeta(123, sin_guion).text
    assert "250 trabajos apartados" in tarjeta(249, sin_guion).text
    assert MALICIOSO in tarjeta(56, sin_guion).text
    assert not sin_guion.find_elements(By.TAG_NAME, "img")
    base.execute("UPDATE Impresora SET Estado_Impresora = 'D' WHERE Id_Impresora = 200")
    base.commit()
    WebDriverWait(sin_guion, 30, ignored_exceptions=[StaleElementReferenceException]).until(
        lambda _: "Fuera de servicio" in tarjeta(200, sin_guion).text)
    print("big shop ok")
finally:
    navegador.quit()
    if sin_guion:
        sin_guion.quit()
    proxy.shutdown()
    if panel.poll() is None:
        panel.kill()
