#!/usr/bin/env python3
"""ajustes_manual.py SOURCE_DIR: every setting of orlan.ini that the programs
read or write is described in man/orlan.ini.5.scd, and the page describes no
key the programs never touch.

The (section, key) pairs come from the calls Ajustes::Leer and Ajustes::Guardar
in src/ and tools/. An argument is a string literal, "COM%1".arg(n) (the key
COMn), or a name followed back within the same file: a constant, a local
variable, a loop over a list, or a parameter of the function or lambda around
the call (then every call of that function in the file). A section that is not
a literal is a printer port's section, documented once as [COMn], [LPTn]. A
name that cannot be followed back fails the test, so that a new setting cannot
slip past the page.
"""
import pathlib
import re
import sys

fuente = pathlib.Path(sys.argv[1])
PAGINA = fuente / "man" / "orlan.ini.5.scd"
PUERTO = "[COMn], [LPTn]"  # the page's heading for the sections named per port
# Keys computed from the port's name rather than written out: the kind of an
# unknown port (the first three letters of "USB1") is the key.
CALCULADAS = {("ctlImpresora.cpp", "tipo"): "KIND"}

LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
# A literal as the code writes one, perhaps with its %1 filled in.
LITERAL_SOLO = re.compile(r'(?:QStringLiteral|QLatin1String|QString::fromLatin1|QString::fromUtf8)?\(?\s*'
                          r'"((?:[^"\\]|\\.)*)"\s*\)?(?:\.arg\([^()]*\))?')
# A name, perhaps converted to a QString.
NOMBRE_SOLO = re.compile(r"(?:QString::fromLatin1|QString::fromUtf8)?\(?\s*([A-Za-z_]\w*)\s*\)?")


def partir_ternario(expresion):
    """The two branches of `c ? a : b` at the top level, or None."""
    nivel, pregunta = 0, None
    for i, c in enumerate(expresion):
        if c in "([{":
            nivel += 1
        elif c in ")]}":
            nivel -= 1
        elif c == "?" and nivel == 0 and pregunta is None:
            pregunta = i
        elif c == ":" and nivel == 0 and pregunta is not None and expresion[i - 1] != ":" and \
                expresion[i + 1:i + 2] != ":":
            return expresion[pregunta + 1:i], expresion[i + 1:]
    return None


def sin_comentarios(texto):
    """The text with comments blanked out (same length, so offsets hold)."""
    salida, i, n = list(texto), 0, len(texto)
    while i < n:
        c = texto[i]
        if c in "\"'":
            j = i + 1
            while j < n and texto[j] != c:
                j += 2 if texto[j] == "\\" else 1
            i = j + 1
        elif texto.startswith("//", i):
            j = texto.find("\n", i)
            j = n if j < 0 else j
            salida[i:j] = " " * (j - i)
            i = j
        elif texto.startswith("/*", i):
            j = texto.find("*/", i + 2)
            j = n if j < 0 else j + 2
            salida[i:j] = [ch if ch == "\n" else " " for ch in texto[i:j]]
            i = j
        else:
            i += 1
    return "".join(salida)


def cerrar(texto, i, abre="(", cierra=")"):
    """Index of the bracket that closes the one at i."""
    nivel, n = 0, len(texto)
    while i < n:
        c = texto[i]
        if c == '"':
            i += 1
            while texto[i] != '"':
                i += 2 if texto[i] == "\\" else 1
        elif c == abre:
            nivel += 1
        elif c == cierra:
            nivel -= 1
            if nivel == 0:
                return i
        i += 1
    raise ValueError("unbalanced bracket")


def partir(texto):
    """Top-level comma-separated parts of an argument list or initializer."""
    partes, nivel, actual, i = [], 0, "", 0
    while i < len(texto):
        c = texto[i]
        if c == '"':
            j = i + 1
            while texto[j] != '"':
                j += 2 if texto[j] == "\\" else 1
            actual += texto[i:j + 1]
            i = j + 1
            continue
        if c in "([{":
            nivel += 1
        elif c in ")]}":
            nivel -= 1
        if c == "," and nivel == 0:
            partes.append(actual.strip())
            actual = ""
        else:
            actual += c
        i += 1
    if actual.strip():
        partes.append(actual.strip())
    return partes


class Archivo:
    def __init__(self, ruta):
        self.ruta = ruta
        self.texto = sin_comentarios(ruta.read_text(encoding="utf-8"))

    def donde(self, pos):
        return f"{self.ruta.relative_to(fuente)}:{self.texto.count(chr(10), 0, pos) + 1}"

    def valores(self, expresion, pos, profundidad=0):
        """The texts an expression at `pos` may have: a set, or None when the
        expression does not come down to literals."""
        expresion = expresion.strip()
        if profundidad > 6:
            return None
        ternario = partir_ternario(expresion)
        if ternario:
            a, b = (self.valores(x, pos, profundidad) for x in ternario)
            return None if a is None or b is None else a | b
        m = LITERAL_SOLO.fullmatch(expresion)
        if m:
            return {re.sub(r"%\d", "n", m.group(1))}
        m = NOMBRE_SOLO.fullmatch(expresion)
        if m:
            return self.nombre(m.group(1), pos, profundidad + 1)
        return None

    def nombre(self, nombre, pos, profundidad):
        antes = self.texto[:pos]
        # A parameter of the function or lambda around pos: every call of it.
        for m in reversed(list(re.finditer(r"(?:(\w+)\s*\(|auto\s+(\w+)\s*=\s*\[[^\]]*\]\s*\()([^()]*)\)\s*(?:const\s*)?(?:->\s*\w+\s*)?\{", antes))):
            funcion = m.group(1) or m.group(2)
            if funcion in ("if", "for", "while", "switch", "catch"):
                continue
            cuerpo = m.end() - 1
            if cerrar(self.texto, cuerpo, "{", "}") < pos:
                continue
            parametros = [re.findall(r"\w+", p)[-1] for p in partir(m.group(3)) if re.findall(r"\w+", p)]
            if nombre not in parametros:
                continue
            indice = parametros.index(nombre)
            valores = set()
            definicion = m.start(1) if m.group(1) else m.start(2)
            for llamada in re.finditer(r"(?<![\w:.>])" + funcion + r"\s*\(", self.texto):
                if llamada.start() == definicion:
                    continue
                abre = llamada.end() - 1
                argumentos = partir(self.texto[abre + 1:cerrar(self.texto, abre)])
                if len(argumentos) <= indice:
                    continue
                v = self.valores(argumentos[indice], llamada.start(), profundidad)
                if v is None:
                    return None
                valores |= v
            return valores or None
        # A loop variable over a braced list or a named one: its position in each element.
        for m in reversed(list(re.finditer(r"for\s*\(\s*(?:const\s+)?auto\s*&?\s*\[([^\]]*)\]\s*:\s*", antes))):
            enlaces = [e.strip() for e in m.group(1).split(",")]
            if nombre not in enlaces:
                continue
            indice = enlaces.index(nombre)
            resto = self.texto[m.end():]
            if resto.startswith("{"):
                lista = resto[1:cerrar(resto, 0, "{", "}")]
            else:
                variable = re.match(r"\w+", resto).group(0)
                d = list(re.finditer(r"\b" + variable + r"\s*=\s*\{", antes))
                if not d:
                    return None
                inicio = d[-1].end() - 1
                lista = self.texto[inicio + 1:cerrar(self.texto, inicio, "{", "}")]
                lista = lista.strip()
                if lista.startswith("{") and cerrar(lista, 0, "{", "}") == len(lista) - 1:
                    lista = lista[1:-1]
            valores = set()
            for elemento in partir(lista):
                campos = partir(elemento[elemento.index("{") + 1:elemento.rindex("}")])
                v = self.valores(campos[indice], m.start(), profundidad)
                if v is None:
                    return None
                valores |= v
            return valores
        # A variable or constant defined before pos (the nearest definition).
        for m in reversed(list(re.finditer(r"\b" + nombre + r"\s*=\s*([^;]*);", antes))):
            return self.valores(m.group(1), m.start(), profundidad)
        m = re.search(r"\b" + nombre + r"\s*=\s*([^;]*);", self.texto)
        if m:
            return self.valores(m.group(1), m.start(), profundidad)
        return None


def claves_del_codigo():
    usadas, fallas = {}, []
    archivos = sorted(p for d in ("src", "tools") for p in (fuente / d).rglob("*") if p.suffix in (".cpp", ".h"))
    for ruta in archivos:
        if ruta.name.startswith("Ajustes."):
            continue  # the store itself
        a = Archivo(ruta)
        for llamada in re.finditer(r"\bAjustes::(Leer|Guardar)\s*\(", a.texto):
            abre = llamada.end() - 1
            argumentos = partir(a.texto[abre + 1:cerrar(a.texto, abre)])
            donde = a.donde(llamada.start())
            aplicacion = a.valores(argumentos[0], llamada.start())
            if aplicacion is None:
                fallas.append(f"{donde}: cannot tell which settings file it names")
                continue
            if {x.lower() for x in aplicacion} != {"orlan"}:
                continue  # another file
            secciones = a.valores(argumentos[1], llamada.start())
            # A port's section: named by a variable, or a port's name written out.
            secciones = {PUERTO if secciones is None or re.fullmatch(r"(COM|LPT)\d", s, re.I) else f"[{s}]"
                         for s in (secciones or {None})}
            clave = argumentos[2].strip()
            if (ruta.name, clave) in CALCULADAS:
                claves = {CALCULADAS[(ruta.name, clave)]}
            else:
                claves = a.valores(clave, llamada.start())
            if claves is None:
                fallas.append(f"{donde}: cannot tell which key '{clave}' names")
                continue
            for s in secciones:
                for c in claves:
                    usadas.setdefault((s.lower(), c.lower()), (s, c, donde))
    return usadas, fallas


def claves_de_la_pagina():
    """The keys the page describes: the terms of its definition lists (a line
    of bold names followed by an indented description) under a heading that
    names a section."""
    documentadas, seccion = {}, None
    lineas = PAGINA.read_text(encoding="utf-8").splitlines()
    for numero, linea in enumerate(lineas, 1):
        if linea.startswith("# "):
            seccion = linea[2:].strip() if linea[2:].startswith("[") else None
        elif seccion and linea.startswith("*") and numero < len(lineas) and lineas[numero].startswith("\t"):
            for clave in re.findall(r"\*([^*]+)\*", linea):
                documentadas[(seccion.lower(), clave.lower())] = (seccion, clave, f"{PAGINA.name}:{numero}")
    return documentadas


usadas, fallas = claves_del_codigo()
documentadas = claves_de_la_pagina()
for clave in sorted(set(usadas) - set(documentadas)):
    s, c, donde = usadas[clave]
    fallas.append(f"{s} {c} ({donde}) is not in {PAGINA.name}")
for clave in sorted(set(documentadas) - set(usadas)):
    s, c, donde = documentadas[clave]
    fallas.append(f"{donde}: {s} {c} is read and written by no program")
if len(usadas) < 20:
    fallas.append(f"only {len(usadas)} settings found in the code: the extraction is broken")
if fallas:
    sys.exit("\n".join("FAIL: " + f for f in fallas))
print(f"{len(usadas)} settings of orlan.ini, each in {PAGINA.name}, and no other")
