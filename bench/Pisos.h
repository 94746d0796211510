#pragma once

// The reference figures the benchmarks hold the program to where nothing can
// be measured in the same run: what a till needs of it, not what one machine
// happens to give. Kept in one place so that every benchmark of the same
// thing compares against the same figure.

// An idle server, in service or window mode: under 0.5% of one core.
inline constexpr double kPisoCpuPorciento = 0.5;
// The timer runs every 2 s; an idle tick may take a thousandth of that.
inline constexpr double kPisoTickMs = 2.0;
// A rush of 500 kitchen orders must be rendered in under three seconds.
inline constexpr double kPisoTrabajosPorSegundo = 200.0;
// The same pipeline before jobs were claimed (one statement fewer, but the
// printer's row and the header cleanup once a job): the best of its rounds
// on PostgreSQL 15 and on SQLite, on the reference machine. Claims must not
// cost throughput.
inline constexpr double kPisoSinReclamosPostgresql = 701.0;
inline constexpr double kPisoSinReclamosSqlite = 2069.0;
// Resident memory of an idle service, and of window mode with its GUI
// libraries.
inline constexpr double kPisoMemoriaServicioMb = 40.0;
inline constexpr double kPisoMemoriaVentanaMb = 60.0;
// Window mode: from its start to its icon in the notification area.
inline constexpr double kPisoArranqueVentanaMs = 1000.0;

// 200 idle terminals take under 5% of one database core.
inline constexpr double kMetaBaseDatosPorciento = 5.0;
inline constexpr int kMetaTerminales = 200;
// A released job is on paper within the 2-s poll interval plus 50 ms...
inline constexpr double kMetaLatenciaMs = 2050.0;
// ...and within 50 ms when the database wakes the server.
inline constexpr double kMetaDespertarMs = 50.0;
// The receipt viewer: a receipt's picture on disk within a second of its cut.
inline constexpr double kPlazoReciboVisorMs = 1000.0;
// The status panel: at most 5 ms of database time per answer, and at least
// 200 answers a second.
inline constexpr double kMetaPanelBaseDatosMs = 5.0;
inline constexpr double kMetaPanelRespuestasPorSegundo = 200.0;
