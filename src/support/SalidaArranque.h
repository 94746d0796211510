#pragma once

// Exit statuses of Arrancar, also used by the server window when its load
// step ends the process.
enum SalidaArranque : int {
    kSalidaNormal = 0,
    kSalidaInstalacion = 1, // "Terminal" missing, 0, not a number or out of 16 bits
    kSalidaConexion = 2,    // Conectar failed
    kSalidaCarga = 3,       // the terminal's printers could not be read
    kSalidaSinPantalla = 4, // window mode without a display it can open (main)
};
