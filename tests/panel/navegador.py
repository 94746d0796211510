#!/usr/bin/env python3
"""The status page in a real browser (Debian's chromium, headless, through
chromium-driver): a demo shop built with orlan-admin on SQLite, orlan-panel
serving it, and an operator who watches a printer fail, signs in and restores
it.

    navegador.py BUILD_DIR SOURCE_DIR                 the test (exit status 0: passed)
    navegador.py BUILD_DIR SOURCE_DIR --capturas DIR  also draws the page at a
                                                      till's and a phone's width
"""
import os
import re
import sys
import time

from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import WebDriverWait

from tienda import Tienda, chromium, iniciar_panel

build, fuente = sys.argv[1], sys.argv[2]
capturas = sys.argv[4] if len(sys.argv) > 4 and sys.argv[3] == "--capturas" else None
tienda = Tienda(build, fuente, "orlan-navegador.")
entorno, panel_bin, admin, raiz = tienda.entorno, tienda.panel_bin, tienda.admin, tienda.raiz


admin("esquema", "sqlite")
admin("demo")
admin("contrasena", "--usuario", "gerente", entrada="demo\n")
admin("sql", "UPDATE Terminal SET Nombre = 'Caja principal' WHERE ID_Terminal = 1")
admin("encolar", "--impresora", "3", "<B>1</B> Agua de jamaica")

panel, url = iniciar_panel(panel_bin, entorno)
navegador = chromium(os.path.join(raiz.name, "chromium"))
# The page redraws its cards every two seconds: an element found just before a
# redraw is gone after it, and is looked up again.
espera = WebDriverWait(navegador, 20, ignored_exceptions=[StaleElementReferenceException])


def tarjeta(impresora):
    return navegador.find_element(By.CSS_SELECTOR, 'article[data-impresora="%d"]' % impresora)


def muestra(impresora, texto):
    """Waits until the printer's card shows the text."""
    espera.until(lambda _: texto in tarjeta(impresora).text)


def no_muestra(impresora, texto):
    espera.until(lambda _: texto not in tarjeta(impresora).text)


def dibujar(nombre, ancho, alto, movil):
    navegador.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                              {"width": ancho, "height": alto, "deviceScaleFactor": 1, "mobile": movil})
    time.sleep(0.5)  # one frame of layout after the resize, for the picture only
    if movil:  # the whole page: a phone scrolls
        alto = navegador.execute_script("return document.documentElement.scrollHeight")
        navegador.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                  {"width": ancho, "height": alto, "deviceScaleFactor": 1, "mobile": movil})
        time.sleep(0.5)
    navegador.save_screenshot(os.path.join(capturas, nombre))


try:
    navegador.get(url)
    espera.until(EC.presence_of_element_located((By.CSS_SELECTOR, 'article[data-impresora="3"]')))
    muestra(3, "Lista")
    assert "Barra" in tarjeta(3).text
    assert "Terminal 1 · Caja principal" in navegador.find_element(By.CSS_SELECTOR, "main").text
    assert not navegador.find_elements(By.XPATH, "//button[text()='Restablecer']")

    # The kitchen's network printer says its paper is near its end: it still
    # prints, and its card says so until the roll is changed.
    admin("sql", "UPDATE Impresora SET PapelBajo = 1 WHERE Id_Impresora = 2")
    muestra(2, "Papel por terminarse")
    admin("sql", "UPDATE Impresora SET PapelBajo = 0 WHERE Id_Impresora = 2")
    no_muestra(2, "Papel por terminarse")

    # The bar's printer runs out of paper: the server points its row at the backup.
    admin("sql", "UPDATE Impresora SET Redirigido = 1, Estado_Impresora = 'P' WHERE Id_Impresora = 3")
    muestra(3, "Sin papel o falla del puerto")
    muestra(3, "Sus trabajos van a: Caja")
    muestra(1, "También imprime lo de: Barra")

    # A wrong password is told, and gives no actions.
    navegador.find_element(By.ID, "entrar").click()
    navegador.find_element(By.ID, "usuario").send_keys("gerente")
    navegador.find_element(By.ID, "contrasena").send_keys("otra")
    navegador.find_element(By.ID, "aceptar").click()
    espera.until(lambda _: "El usuario o la contraseña no son válidos" in navegador.find_element(By.ID, "error-acceso").text)
    navegador.find_element(By.ID, "usuario").clear()
    navegador.find_element(By.ID, "usuario").send_keys("gerente")
    navegador.find_element(By.ID, "contrasena").send_keys("demo")
    navegador.find_element(By.ID, "aceptar").click()
    espera.until(lambda _: navegador.find_element(By.ID, "operador").text == "gerente")
    # The session cookie is out of the page's reach.
    assert "orlan_sesion" not in navegador.execute_script("return document.cookie")

    # At a till's and a phone's width nothing runs off the side of the screen.
    # (A phone's emulation would widen its viewport to fit what overflows.)
    for ancho, alto in ((1024, 768), (390, 844), (1366, 768)):
        navegador.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                  {"width": ancho, "height": alto, "deviceScaleFactor": 1, "mobile": False})
        espera.until(lambda _: navegador.execute_script("return window.innerWidth") == ancho)
        desborde = navegador.execute_script(
            "return [...document.querySelectorAll('body *')].filter(e => e.getBoundingClientRect().right > "
            "window.innerWidth + 0.5).map(e => e.tagName + '.' + e.className)")
        assert not desborde, "%d px: %s" % (ancho, desborde)
    navegador.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    if capturas:
        admin("encolar", "--impresora", "1", "Ticket 1025")
        admin("encolar", "--impresora", "2", "<B>1</B> Flan", "listo en < 5 min")
        admin("sql", "UPDATE ColaImpresion SET Escribiendo = 2, FechaHora = datetime('now', '-75 seconds') "
                     "WHERE IdTrabajo = (SELECT MAX(IdTrabajo) FROM ColaImpresion)")
        admin("sql", "UPDATE ColaImpresion SET FechaHora = datetime('now', '-135 seconds') WHERE IdTrabajo = 1")
        admin("sql", "UPDATE Impresora SET Estado_Impresora = 'D' WHERE Id_Impresora = 4")
        admin("sql", "UPDATE Impresora SET PapelBajo = 1 WHERE Id_Impresora = 2")
        # Set-aside jobs are listed on demand.
        espera.until(lambda _: tarjeta(2).find_element(By.CSS_SELECTOR, "details summary").is_displayed())
        tarjeta(2).find_element(By.CSS_SELECTOR, "details summary").click()
        muestra(2, "Reintentar")
        muestra(2, "Papel por terminarse")
        os.makedirs(capturas, exist_ok=True)
        dibujar("panel.png", 1024, 768, False)
        dibujar("panel-telefono.png", 390, 844, True)
        navegador.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    def restablecer(_):
        tarjeta(3).find_element(By.XPATH, ".//button[text()='Restablecer']").click()
        return True
    espera.until(restablecer)
    muestra(3, "Lista")
    no_muestra(3, "Sus trabajos van a")
    fila = admin("impresora", "3")
    assert re.search(r"(?i)redirigido: 3\b", fila), fila
    assert re.search(r"(?i)estado_impresora: A\b", fila), fila
    bitacora = "".join(open(os.path.join(entorno["XDG_DATA_HOME"], "orlan/nodra", n), encoding="utf-8").read()
                       for n in os.listdir(os.path.join(entorno["XDG_DATA_HOME"], "orlan/nodra")) if n.endswith(".log"))
    assert "Panel, gerente restablecio la impresora 3" in bitacora, bitacora

    # Without the queue's table the panel cannot read the shop, and the page says so
    # (the driver's own text stays in the panel's log).
    admin("sql", "ALTER TABLE ColaImpresion RENAME TO ColaGuardada")
    espera.until(lambda _: navegador.find_element(By.ID, "aviso").is_displayed())
    assert "No se pudo leer el estado" in navegador.find_element(By.ID, "aviso").text
    assert "error de la base de datos" in navegador.find_element(By.ID, "aviso").text
    admin("sql", "ALTER TABLE ColaGuardada RENAME TO ColaImpresion")
    espera.until(lambda _: not navegador.find_element(By.ID, "aviso").is_displayed())

    # Without the panel the page says it cannot read the shop's state.
    panel.terminate()
    panel.wait(10)
    espera.until(lambda _: navegador.find_element(By.ID, "aviso").is_displayed())
    assert "Sin conexión con el panel" in navegador.find_element(By.ID, "aviso").text
    print("page ok")
finally:
    navegador.quit()
    if panel.poll() is None:
        panel.kill()
