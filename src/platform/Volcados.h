#pragma once

// The programs that hold the database password (orlan-cola, orlan-panel,
// orlan-admin) make themselves not dumpable first thing in main: no core file
// is written when they crash, and other processes of the same user cannot
// read their memory (ptrace, /proc/PID/mem). False when the system refused.
namespace Volcados {
bool Impedir();
}
