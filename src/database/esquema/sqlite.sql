-- Schema of the shared database on SQLite (the embedded single-file database).

-- A write-ahead log: readers (the print servers' job queries) go on while a
-- till or a server commits, instead of waiting for the file's lock. The mode
-- stays with the file.
PRAGMA journal_mode=WAL;

CREATE TABLE Terminal (
    ID_Terminal smallint NOT NULL PRIMARY KEY,
    Nombre varchar(50) NULL
);

CREATE TABLE Impresora (
    Id_Impresora int NOT NULL PRIMARY KEY,
    ID_Terminal smallint NOT NULL,
    Puerto varchar(10) NOT NULL,
    Modo char(1) NOT NULL DEFAULT 'E',
    Nombre_Impresora varchar(50) NULL,
    Id_Impresora_Respaldo int NULL,
    Redirigido int NOT NULL,
    Estado_Impresora varchar(10) NULL,
    esdecheques smallint NOT NULL DEFAULT 0,
    -- Ours, optional: 1 while a network or USB printer says its paper is near
    -- its end (it still prints), for the status panel. A shop's own table can
    -- have it added with "ALTER TABLE Impresora ADD PapelBajo smallint NULL";
    -- without it the servers and the panel work, the panel without the mark.
    PapelBajo smallint NULL,
    -- Ours, optional: why the terminal's server could not print on the
    -- printer when it last tried (its device did not open, it did not
    -- answer, it ran out of paper), NULL while it prints. Estado_Impresora
    -- stays as the routing left it. Added to a shop's own table with "ALTER
    -- TABLE Impresora ADD Falla varchar(200) NULL".
    Falla varchar(200) NULL
);
-- The job query looks up the printers of one terminal, and routing finds the
-- printers whose jobs a printer serves.
CREATE INDEX IX_Impresora_Terminal ON Impresora (ID_Terminal, esdecheques);
CREATE INDEX IX_Impresora_Redirigido ON Impresora (Redirigido);

CREATE TABLE ColaImpresion (
    IdTrabajo int NOT NULL PRIMARY KEY,
    Tipo varchar(10) NULL,
    Usuario varchar(50) NULL,
    FechaHora datetime NULL DEFAULT CURRENT_TIMESTAMP,
    Escribiendo smallint NOT NULL DEFAULT 0,
    id_impresora int NOT NULL
);
CREATE INDEX IX_ColaImpresion_Impresora ON ColaImpresion (id_impresora, Escribiendo, IdTrabajo);

CREATE TABLE DetalleColaImpresion (
    IdTrabajo int NOT NULL,
    IdRenglon int NOT NULL,
    Datos varchar(4000) NULL,
    PRIMARY KEY (IdTrabajo, IdRenglon)
);

CREATE TABLE ImpresorasXImpresion (
    IdTrabajo int NOT NULL,
    Id_Impresora int NOT NULL,
    PRIMARY KEY (IdTrabajo, Id_Impresora)
);

CREATE TABLE Parametros (
    Id_Parametro varchar(30) NOT NULL PRIMARY KEY,
    Valor_Num int NULL
);

CREATE TABLE Transacciones (
    ID_Transaccion INTEGER PRIMARY KEY AUTOINCREMENT,
    Transaccion text NOT NULL
);

CREATE TABLE TransaccionesXTerminal (
    ID_Transaccion int NOT NULL,
    ID_Terminal smallint NOT NULL,
    PRIMARY KEY (ID_Transaccion, ID_Terminal)
);

CREATE TABLE Empleado (
    ID_Empleado int NOT NULL PRIMARY KEY,
    Usuario varchar(30) NOT NULL,
    Contraseña varchar(100) NULL
);
CREATE INDEX IX_Empleado_Usuario ON Empleado (Usuario);

CREATE TABLE EmpleadosXGrupo (
    ID_Empleado int NOT NULL,
    ID_Grupo_Trabajo int NOT NULL,
    PRIMARY KEY (ID_Empleado, ID_Grupo_Trabajo)
);

CREATE TABLE PermisosXGrupo_Trabajo (
    ID_Grupo_Trabajo int NOT NULL,
    ID_Permiso int NOT NULL,
    PRIMARY KEY (ID_Grupo_Trabajo, ID_Permiso)
);

-- Reclamos: optional, ours, not the point-of-sale system's. With this table
-- each job is claimed by one print server before its first byte is sent (a
-- row per job being printed, with the claiming terminal and a number of its
-- own), so that two terminals never print the same job; a claim left by a
-- server that died expires. Without it the servers still work, with a weaker
-- check. This part can be run on its own on an existing database
-- ("orlan-admin esquema MOTOR --reclamos"), as often as wanted.
CREATE TABLE IF NOT EXISTS ReclamoTrabajo (
    IdTrabajo int NOT NULL PRIMARY KEY,
    ID_Terminal smallint NOT NULL,
    Ficha bigint NOT NULL
);
