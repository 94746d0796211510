'use strict';

// The page reads /api/estado every two seconds and draws one card per printer,
// grouped by terminal. Signed-in operators also get the two actions, which go
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

function cifra(titulo, valor, clase) {
  const d = elemento('div', clase);
  d.append(elemento('dt', '', titulo), elemento('dd', '', String(valor)));
  return d;
}

function tarjeta(impresora, porId) {
  const [palabras, clase] = estadoDe(impresora);
  const t = elemento('article', 'tarjeta ' + clase);
  t.dataset.impresora = impresora.id;
  const h = elemento('h3');
  const titulo = elemento('span', 'nombre', nombreDe(impresora));
  if (impresora.cheques) titulo.append(' ', elemento('span', 'cheques', '(cheques)'));
  h.append(titulo, elemento('span', 'estado', palabras));
  t.append(h);
  t.append(elemento('p', 'detalle',
    '#' + impresora.id + ' · ' + impresora.puerto + ' · ' + (MODOS[impresora.modo] || impresora.modo) +
    (impresora.respaldo !== null ? ' · respaldo: ' + nombreDe(porId.get(impresora.respaldo) || { id: impresora.respaldo }) : '')));
  if (impresora.redirigido !== impresora.id) {
    const destino = porId.get(impresora.redirigido) || { id: impresora.redirigido };
    t.append(elemento('p', 'redirigida',
      'Sus trabajos van a: ' + nombreDe(destino) + (destino.terminal !== undefined ? ' (terminal ' + destino.terminal + ')' : '')));
  }
  if (impresora.falla) {
    t.append(elemento('p', 'causa', 'No imprime: ' + impresora.falla));
  }
  if (impresora.papel_bajo) {
    t.append(elemento('p', 'papel-bajo', 'Papel por terminarse: sigue imprimiendo, cambie el rollo pronto'));
  }
  const atendidas = [...porId.values()].filter(o => o.id !== impresora.id && o.redirigido === impresora.id);
  if (atendidas.length) {
    t.append(elemento('p', 'atiende', 'También imprime lo de: ' + atendidas.map(nombreDe).join(', ')));
  }
  const cifras = elemento('dl', 'cifras');
  cifras.append(cifra('En cola', impresora.pendientes, 'pendientes'),
    cifra('Espera mayor', duracion(impresora.espera_mas_antigua_s), 'espera'),
    cifra('Escribiéndose', impresora.escribiendose, 'escribiendose'),
    cifra('Apartados', impresora.apartados, 'apartados'));
  t.append(cifras);
  if (impresora.trabajos_apartados.length) {
    const lista = elemento('ul', 'apartados');
    for (const trabajo of impresora.trabajos_apartados) {
      const li = elemento('li');
      li.dataset.trabajo = trabajo.id;
      const texto = elemento('span');
      texto.append('Trabajo ' + trabajo.id + ': ', elemento('code', '', trabajo.primer_renglon || '(sin renglones)'));
      li.append(texto);
      if (csrf) li.append(boton('Reintentar', '/api/trabajos/' + trabajo.id + '/reintentar'));
      lista.append(li);
    }
    t.append(lista);
  }
  const usable = impresora.estado !== null && ['A', 'C'].includes(impresora.estado.trim());
  if (csrf && (impresora.redirigido !== impresora.id || !usable)) {
    const acciones = elemento('div', 'acciones');
    acciones.append(boton('Restablecer', '/api/impresoras/' + impresora.id + '/restablecer'));
    t.append(acciones);
  }
  return t;
}

function boton(texto, ruta) {
  const b = elemento('button', 'accion', texto);
  b.type = 'button';
  b.addEventListener('click', () => accion(ruta, b));
  return b;
}

function dibujar(datos) {
  const porId = new Map(datos.impresoras.map(i => [i.id, i]));
  const principal = $('terminales');
  const secciones = [];
  for (const terminal of datos.terminales) {
    const suyas = datos.impresoras.filter(i => i.terminal === terminal.id);
    if (!suyas.length) continue;
    const s = elemento('section');
    s.dataset.terminal = terminal.id;
    s.append(elemento('h2', '', 'Terminal ' + terminal.id + (terminal.nombre ? ' · ' + terminal.nombre : '')));
    const rejilla = elemento('div', 'tarjetas');
    for (const impresora of suyas) rejilla.append(tarjeta(impresora, porId));
    s.append(rejilla);
    secciones.push(s);
  }
  if (!secciones.length) secciones.push(elemento('p', '', 'No hay impresoras registradas.'));
  principal.replaceChildren(...secciones);
}

function hora(iso) {
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleTimeString('es');
}

async function actualizar() {
  try {
    const r = await fetch('/api/estado', { cache: 'no-store' });
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

$('entrar').addEventListener('click', () => {
  $('acceso').hidden = false;
  $('usuario').focus();
});
$('cancelar').addEventListener('click', () => { $('acceso').hidden = true; });
$('acceso').addEventListener('submit', async evento => {
  evento.preventDefault();
  const cuerpo = JSON.stringify({ usuario: $('usuario').value, contrasena: $('contrasena').value });
  $('contrasena').value = '';
  const r = await fetch('/api/sesion', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: cuerpo });
  const datos = await r.json().catch(() => ({}));
  if (r.ok) {
    $('error-acceso').textContent = '';
    sesion(datos);
  } else {
    $('error-acceso').textContent = datos.error || ('Respuesta ' + r.status);
  }
});
$('salir').addEventListener('click', async () => {
  await fetch('/api/sesion/salir', { method: 'POST' });
  sesion(null);
});

fetch('/api/sesion').then(r => (r.ok ? r.json() : null)).then(sesion).catch(() => sesion(null));
actualizar();
setInterval(actualizar, INTERVALO_MS);
