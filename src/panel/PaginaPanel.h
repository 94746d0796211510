#pragma once

#include "panel/EstadoTienda.h"

#include <QByteArray>
#include <QString>

// The page with the state drawn into it by the server, for a browser without
// JavaScript: the summary line and one card per printer, those in trouble
// first, every text HTML-escaped. The script replaces the cards with its own
// on its first read; without it the page reloads itself every few seconds.
QByteArray PaginaConEstado(const QByteArray& pagina, const EstadoTienda& estado);
