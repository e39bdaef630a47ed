// The package module TQuor30: its unit table and its entry points.
//
// The module exports, undecorated and with C linkage, GetPackageInfoTable,
// Initialize, Finalize and Register. The routines below are their bodies;
// how each platform exports them under those names is kept in one file per
// platform (Exports_linux.cpp, Exports_windows.def).
#pragma once

#include "Vcl/Vcl.h"

// 22 framework units, then Ras2, then TQuorComponent.
constexpr int TQuor30UnitCount = 24;
constexpr int TQuor30Ras2Unit = 22;
constexpr int TQuor30ComponentUnit = 23;

extern "C" {
// The unit initialisation table (never null, TQuor30UnitCount entries).
const PackageInfoTable* WINAPI TQuor30GetPackageInfoTable(void);
// Package load: runs the units' initialisation in table order, each unit once
// in the process. Exceptions of a failing unit pass out (the loader has then
// finalised again what it initialised).
void WINAPI TQuor30Initialize(void);
// Package unload: runs the finalisation in reverse order, so Ras2 is
// finalised after TQuorComponent.
void WINAPI TQuor30Finalize(void);
// Design-time registration: TQuor on the palette page "RAS".
void WINAPI TQuor30Register(void);
}
