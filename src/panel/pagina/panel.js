'use strict';

// The page reads api/estado every two seconds and keeps one card per printer,
// those in trouble first, under a summary line and a filter. URLs are
// relative: the page may be served under a proxy's sub-path. Signed-in operators also get the two actions, which go
// out with the session's CSRF token.

const INTERVALO_MS = 2000;
const ESTADOS = {
  A: ['Lista', ''],
  C: ['Lista (aviso de la impresora)', ''],
  F: ['No responde', 'aviso'],
  P: ['Sin papel o falla del puerto', 'falla'],
  D: ['Fuera de servicio', 'fuera'],
};
const MODOS = { E: 'Epson', C: 'Citizen', S: 'Star' };

let csrf = null;
let ultimo = null;
let rejilla = null;

function $(id) { return document.getElementById(id); }

function elemento(etiqueta, clase, texto) {
  const e = document.createElement(etiqueta);
  if (clase) e.className = clase;
  if (texto !== undefined) e.textContent = texto;
  return e;
}

function nombreDe(impresora) {
  return impresora.nombre || ('Impresora ' + impresora.id);
}

function duracion(segundos) {
  if (segundos === null || segundos === undefined) return '—';
  if (segundos < 60) return segundos + ' s';
  const dos = n => String(n).padStart(2, '0');
  if (segundos < 3600) return Math.floor(segundos / 60) + ':' + dos(segundos % 60) + ' min';
  return Math.floor(segundos / 3600) + ':' + dos(Math.floor(segundos / 60) % 60) + ' h';
}

function estadoDe(impresora) {
  // A port the print server cannot serve: nothing prints, whatever the state says.
  if (impresora.puerto_valido === false) return ['Puerto no válido', 'falla'];
  if (impresora.estado === null) return ['Sin estado (fuera de servicio)', 'fuera'];
  const letra = impresora.estado.trim();
  // Its server found it cannot print, whatever the routing's letter says.
  if (impresora.falla && letra !== 'D') return ['No imprime', 'falla'];
  return ESTADOS[letra] || ['Estado ' + letra, 'aviso'];
}

// A job line as the printer shows it: everything from a "<" to the next ">"
// is a tag the printer consumes, not text.
function sinEtiquetas(renglon) {
  return renglon.replace(/<[^>]*>/g, '');
}

// A wait longer than this puts the printer among those in trouble.
const ESPERA_LARGA_S = 120;
// Set-aside jobs listed under a card; the rest are only counted.
const APARTADOS_VISIBLES = 5;

function enProblemas(impresora) {
  const [, clase] = estadoDe(impresora);
  return clase !== '' || impresora.redirigido !== impresora.id || !!impresora.falla || impresora.apartados > 0 ||
    (impresora.espera_mas_antigua_s || 0) >= ESPERA_LARGA_S;
}

// Sets the text only when it changed: a rewrite would drop a selection.
function texto(e, valor) {
  if (e.textContent !== valor) e.textContent = valor;
}

function mostrar(e, valor) {
  e.hidden = !valor;
  if (valor) texto(e, valor);
}

function cifra(titulo, clase) {
  const d = elemento('div', clase);
  d.append(elemento('dt', '', titulo), elemento('dd'));
  return d;
}

// A card's elements, made once per printer; every refresh only changes their text.
function nuevaTarjeta(id) {
  const t = elemento('article', 'tarjeta');
  t.dataset.impresora = id;
  const h = elemento('h3');
  const titulo = elemento('span', 'titulo');
  titulo.append(elemento('span', 'nombre'), elemento('span', 'cheques', ' (cheques)'));
  h.append(titulo, elemento('span', 'estado'));
  const cifras = elemento('dl', 'cifras');
  cifras.append(cifra('En cola', 'pendientes'), cifra('Espera mayor', 'espera'),
    cifra('Escribién\u00addose', 'escribiendose'), cifra('Apartados', 'apartados'));
  const apartados = elemento('details', 'apartados');
  apartados.append(elemento('summary'), elemento('ul'), elemento('p', 'mas'));
  t.append(h, elemento('p', 'detalle'), elemento('p', 'redirigida'), elemento('p', 'causa'),
    elemento('p', 'papel-bajo'), elemento('p', 'atiende'), cifras, apartados, elemento('div', 'acciones'));
  return t;
}

function actualizarTarjeta(t, impresora, porId, atendidas, terminal) {
  const [palabras, clase] = estadoDe(impresora);
  const q = selector => t.querySelector(selector);
  const claseTarjeta = 'tarjeta ' + clase + (clase === '' && enProblemas(impresora) ? ' atencion' : '');
  if (t.className !== claseTarjeta) t.className = claseTarjeta;
  texto(q('.nombre'), nombreDe(impresora));
  q('.cheques').hidden = !impresora.cheques;
  texto(q('.estado'), palabras);
  texto(q('.detalle'), 'Terminal ' + impresora.terminal + (terminal && terminal.nombre ? ' · ' + terminal.nombre : '') +
    ' · #' + impresora.id + ' · ' + impresora.puerto + ' · ' + (MODOS[impresora.modo] || impresora.modo) +
    (impresora.respaldo !== null ? ' · respaldo: ' + nombreDe(porId.get(impresora.respaldo) || { id: impresora.respaldo }) : ''));
  const destino = porId.get(impresora.redirigido) || { id: impresora.redirigido };
  mostrar(q('.redirigida'), impresora.redirigido === impresora.id ? '' :
    'Sus trabajos van a: ' + nombreDe(destino) + (destino.terminal !== undefined ? ' (terminal ' + destino.terminal + ')' : ''));
  mostrar(q('.causa'), impresora.falla ? 'No imprime: ' + impresora.falla : '');
  mostrar(q('.papel-bajo'), impresora.papel_bajo ? 'Papel por terminarse: sigue imprimiendo, cambie el rollo pronto' : '');
  mostrar(q('.atiende'), atendidas.length ? 'También imprime lo de: ' + atendidas.map(nombreDe).join(', ') : '');
  texto(q('.pendientes dd'), String(impresora.pendientes));
  texto(q('.espera dd'), duracion(impresora.espera_mas_antigua_s));
  texto(q('.escribiendose dd'), String(impresora.escribiendose));
  texto(q('.apartados dd'), String(impresora.apartados));

  const apartados = q('details.apartados');
  const lista = impresora.trabajos_apartados;
  apartados.hidden = !lista.length;
  texto(apartados.querySelector('summary'), lista.length === 1 ? '1 trabajo apartado' : lista.length + ' trabajos apartados');
  const visibles = lista.slice(0, APARTADOS_VISIBLES);
  const firma = JSON.stringify([!!csrf, visibles]);
  if (apartados.dataset.firma !== firma) {
    apartados.dataset.firma = firma;
    apartados.querySelector('ul').replaceChildren(...visibles.map(trabajo => {
      const li = elemento('li');
      li.dataset.trabajo = trabajo.id;
      const renglon = elemento('span');
      // Its text comes only to a signed-in operator.
      renglon.append('Trabajo ' + trabajo.id);
      if (trabajo.primer_renglon !== undefined) {
        renglon.append(': ',
          elemento('code', '', trabajo.primer_renglon ? sinEtiquetas(trabajo.primer_renglon) : '(sin renglones)'));
      }
      li.append(renglon);
      if (csrf) li.append(boton('Reintentar', 'api/trabajos/' + trabajo.id + '/reintentar'));
      return li;
    }));
  }
  mostrar(apartados.querySelector('.mas'), lista.length > APARTADOS_VISIBLES ?
    'y ' + (lista.length - APARTADOS_VISIBLES) + ' más' : '');

  const usable = impresora.estado !== null && ['A', 'C'].includes(impresora.estado.trim());
  const restablecer = !!csrf && (impresora.redirigido !== impresora.id || !usable);
  const acciones = q('.acciones');
  acciones.hidden = !restablecer;
  if (restablecer !== !!acciones.firstChild) {
    acciones.replaceChildren(...(restablecer ? [boton('Restablecer', 'api/impresoras/' + impresora.id + '/restablecer')] : []));
  }
  t.dataset.buscar = normalizar(nombreDe(impresora) + ' terminal ' + impresora.terminal + ' ' +
    (terminal && terminal.nombre ? terminal.nombre : '') + ' #' + impresora.id);
}

function boton(texto, ruta) {
  const b = elemento('button', 'accion', texto);
  b.type = 'button';
  b.addEventListener('click', () => accion(ruta, b));
  return b;
}

function normalizar(s) {
  return s.normalize('NFD').replace(/[\u0300-\u036f]/g, '').toLowerCase();
}

// Whether a card's words hold the typed one: a number whole ("19" is not
// terminal 190), other words by their start.
function contiene(palabras, buscada) {
  return palabras.some(p => (/^\d+$/.test(buscada) ? p === buscada : p.startsWith(buscada)));
}

// Cards whose words hold every word typed in the filter.
function filtrar() {
  const buscadas = normalizar($('filtro').value).split(/\s+/).filter(Boolean);
  let vistas = 0;
  for (const t of $('terminales').querySelectorAll('article[data-impresora]')) {
    const palabras = t.dataset.buscar.split(' ');
    const ver = buscadas.every(b => contiene(palabras, b));
    if (t.hidden === ver) t.hidden = !ver;
    if (ver) vistas++;
  }
  return vistas;
}

function resumen(datos, vistas) {
  const problemas = datos.impresoras.filter(enProblemas).length;
  const pendientes = datos.impresoras.reduce((suma, i) => suma + i.pendientes, 0);
  let mayor = null;
  for (const i of datos.impresoras) {
    if (i.espera_mas_antigua_s !== null && (!mayor || i.espera_mas_antigua_s > mayor.espera_mas_antigua_s)) mayor = i;
  }
  const total = datos.impresoras.length;
  return problemas + ' de ' + total + ' impresoras con problemas · ' + pendientes + ' trabajos en cola · ' +
    (mayor ? 'espera mayor ' + duracion(mayor.espera_mas_antigua_s) + ' (' + nombreDe(mayor) + ')' : 'sin esperas') +
    (vistas < total ? ' · se muestran ' + vistas + ' de ' + total : '');
}

// Updates the cards in place, keyed by printer: focus, scroll, open lists and
// the filter's choice stay. Printers in trouble come first.
function dibujar(datos) {
  // The first read replaces the cards the server drew into the page.
  if (!rejilla) {
    rejilla = elemento('div', 'tarjetas');
    $('terminales').replaceChildren(rejilla);
  }
  const porId = new Map(datos.impresoras.map(i => [i.id, i]));
  const terminales = new Map(datos.terminales.map(t => [t.id, t]));
  const atendidas = new Map();
  for (const i of datos.impresoras) {
    if (i.redirigido !== i.id) atendidas.set(i.redirigido, [...(atendidas.get(i.redirigido) || []), i]);
  }
  const existentes = new Map([...rejilla.children].map(t => [Number(t.dataset.impresora), t]));
  const orden = datos.impresoras.map(i => [enProblemas(i) ? 0 : 1, i])
    .sort((a, b) => a[0] - b[0]).map(([, i]) => i);
  const tarjetas = orden.map(i => {
    const t = existentes.get(i.id) || nuevaTarjeta(i.id);
    existentes.delete(i.id);
    actualizarTarjeta(t, i, porId, atendidas.get(i.id) || [], terminales.get(i.terminal));
    return t;
  });
  for (const t of existentes.values()) t.remove();
  // Moved only when the order changed: moving a card would take its focus.
  if (tarjetas.some((t, n) => rejilla.children[n] !== t)) rejilla.append(...tarjetas);
  texto($('resumen'), datos.impresoras.length ? resumen(datos, filtrar()) : 'No hay impresoras registradas.');
}

function hora(iso) {
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleTimeString('es');
}

async function actualizar() {
  try {
    const r = await fetch('api/estado', { cache: 'no-store' });
    if (r.status === 503) throw new Error('Sin conexión con la base de datos: el panel no puede leerla.');
    if (!r.ok) {
      const datos = await r.json().catch(() => ({}));
      throw new Error(datos.error ? datos.error + '.' : 'El panel respondió ' + r.status + '.');
    }
    ultimo = await r.json();
    dibujar(ultimo);
    $('aviso').hidden = true;
    $('terminales').classList.remove('viejo');
    $('actualizado').textContent = 'Actualizado a las ' + hora(ultimo.generado) + ' · cada 2 s';
  } catch (e) {
    const aviso = $('aviso');
    const motivo = e instanceof TypeError ? 'Sin conexión con el panel.' : e.message;
    aviso.textContent = motivo + ' Se reintenta cada 2 s; lo que se ve puede estar atrasado.';
    aviso.hidden = false;
    $('terminales').classList.add('viejo');
  }
}

function mostrarMensaje(texto) {
  const m = $('mensaje');
  m.textContent = texto;
  m.hidden = false;
  clearTimeout(mostrarMensaje.reloj);
  mostrarMensaje.reloj = setTimeout(() => { m.hidden = true; }, 5000);
}

function sesion(datos) {
  csrf = datos ? datos.csrf : null;
  $('entrar').hidden = !!datos;
  $('salir').hidden = !datos;
  $('operador').hidden = !datos;
  $('operador').textContent = datos ? datos.usuario : '';
  if (datos) $('acceso').hidden = true;
  if (ultimo) dibujar(ultimo);
}

async function accion(ruta, b) {
  b.disabled = true;
  try {
    const r = await fetch(ruta, { method: 'POST', headers: { 'X-CSRF-Token': csrf || '' } });
    const datos = await r.json().catch(() => ({}));
    if (r.status === 401) sesion(null);
    mostrarMensaje(datos.mensaje || datos.error || ('Respuesta ' + r.status));
  } finally {
    b.disabled = false;
    actualizar();
  }
}

$('buscar').hidden = false;
$('filtro').addEventListener('input', () => { if (ultimo) dibujar(ultimo); });
$('entrar').addEventListener('click', () => {
  $('acceso').hidden = false;
  $('usuario').focus();
});
$('cancelar').addEventListener('click', () => { $('acceso').hidden = true; });
$('acceso').addEventListener('submit', async evento => {
  evento.preventDefault();
  const cuerpo = JSON.stringify({ usuario: $('usuario').value, contrasena: $('contrasena').value });
  $('contrasena').value = '';
  const r = await fetch('api/sesion', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: cuerpo });
  const datos = await r.json().catch(() => ({}));
  if (r.ok) {
    $('error-acceso').textContent = '';
    sesion(datos);
  } else {
    $('error-acceso').textContent = datos.error || ('Respuesta ' + r.status);
  }
});
$('salir').addEventListener('click', async () => {
  await fetch('api/sesion/salir', { method: 'POST' });
  sesion(null);
});

fetch('api/sesion').then(r => (r.ok ? r.json() : null)).then(sesion).catch(() => sesion(null));
actualizar();
setInterval(actualizar, INTERVALO_MS);
