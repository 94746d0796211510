#pragma once

// The forms name Arial and Garamond. On a terminal these are served by
// metric-compatible fonts (Liberation Sans, EB Garamond), so that a text
// measured here wraps where the forms' layouts expect it to. Called once at
// GUI start, before any form exists: by window mode, the GUI tests and
// orlan-capturas.
void SustituirFuentes();
