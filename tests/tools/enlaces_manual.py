#!/usr/bin/env python3
"""enlaces_manual.py SOURCE_DIR: every relative link of README.md, CHANGELOG.md
and docs/*.md leads to a file of the repository and, when it names an anchor
(#...), to a heading of that file as GitHub names it; and the README stays
short (at most 250 lines)."""
import pathlib
import re
import sys
import urllib.parse

fuente = pathlib.Path(sys.argv[1]).resolve()
PAGINAS = [fuente / "README.md", fuente / "CHANGELOG.md"] + sorted((fuente / "docs").glob("*.md"))
MAXIMO_README = 250

# [text](target) and ![alt](target); the target ends at the first blank or ")".
ENLACE = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")


def sin_codigo(texto):
    """The page without fenced blocks, indented code blocks and code spans,
    which may hold brackets that are no links."""
    lineas, dentro = [], False
    for linea in texto.splitlines():
        if linea.lstrip().startswith("```"):
            dentro = not dentro
            lineas.append("")
        elif dentro or linea.startswith("    ") and not linea.lstrip().startswith(("-", "*", "|", "!", "[")):
            lineas.append("")
        else:
            lineas.append(re.sub(r"`[^`]*`", "", linea))
    return lineas


def ancla(titulo, vistas):
    """The anchor GitHub gives a heading: lower case, punctuation and symbols
    dropped (letters, digits, '-' and '_' kept), each blank a '-'; a repeated
    one gets -1, -2..."""
    titulo = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", titulo)  # a link keeps its text
    base = "".join(c for c in titulo.strip().lower().replace("`", "") if c.isalnum() or c in "-_ ").replace(" ", "-")
    n = vistas.get(base, 0)
    vistas[base] = n + 1
    return base if n == 0 else f"{base}-{n}"


def anclas(pagina):
    vistas, dentro, resultado = {}, False, set()
    for linea in pagina.read_text(encoding="utf-8").splitlines():
        if linea.lstrip().startswith("```"):
            dentro = not dentro
        elif not dentro and re.match(r"#{1,6} ", linea):
            resultado.add(ancla(linea.lstrip("#"), vistas))
    return resultado


fallas = []
enlaces = 0
for pagina in PAGINAS:
    nombre = pagina.relative_to(fuente)
    if not pagina.exists():
        fallas.append(f"{nombre} does not exist")
        continue
    texto = "\n".join(sin_codigo(pagina.read_text(encoding="utf-8")))
    for m in ENLACE.finditer(texto):  # a link's text may run over a line break
        destino, numero = m.group(1), texto.count("\n", 0, m.start()) + 1
        if re.match(r"[a-z][a-z0-9+.-]*:", destino, re.I):
            continue  # an address on the web or mail
        enlaces += 1
        ruta, _, fragmento = destino.partition("#")
        archivo = (pagina.parent / urllib.parse.unquote(ruta)).resolve() if ruta else pagina
        donde = f"{nombre}:{numero}: {destino}"
        if fuente not in archivo.parents and archivo != fuente:
            fallas.append(f"{donde} leads out of the repository")
        elif not archivo.exists():
            fallas.append(f"{donde}: no file {archivo.relative_to(fuente)}")
        elif fragmento and archivo.suffix != ".md":
            fallas.append(f"{donde}: an anchor into a file that is no page")
        elif fragmento and urllib.parse.unquote(fragmento) not in anclas(archivo):
            fallas.append(f"{donde}: {archivo.relative_to(fuente)} has no heading #{fragmento}")

lineas_readme = len((fuente / "README.md").read_text(encoding="utf-8").splitlines())
if lineas_readme > MAXIMO_README:
    fallas.append(f"README.md has {lineas_readme} lines, more than {MAXIMO_README}: move the rest into docs/")
if enlaces < 20:
    fallas.append(f"only {enlaces} relative links found: the link reader is broken")
if fallas:
    sys.exit("\n".join("FAIL: " + f for f in fallas))
print(f"{enlaces} relative links in {len(PAGINAS)} pages, each to a file and heading that exist")
