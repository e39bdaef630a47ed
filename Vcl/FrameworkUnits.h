// The framework's own units, as package modules list them in their unit
// tables. A module that needs the framework lists these (initialisation,
// finalisation) pairs before its own units; because every module hands in
// the same routines of this library, the package loader runs each of them
// once however many modules list it, and finalises it with the last release.
//
// The routines have no work of their own: they count their calls and report
// them to an optional trace hook, so a host or a test can see the order.
#pragma once

#include <functional>

#include "Vcl/Vcl.h"

constexpr int FrameworkUnitCount = 22;

// The framework's units as one table, in initialisation order (System first).
// A host initialises it at start and finalises it at exit, so the modules it
// loads only count the framework units.
VCL_API const PackageInfoTable* FrameworkPackageTable();
// Name of unit Index (0..FrameworkUnitCount-1), or nullptr.
VCL_API const char* FrameworkUnitName(int Index);
// How often unit Index was initialised and finalised in this process.
VCL_API int FrameworkUnitInitCount(int Index);
VCL_API int FrameworkUnitFinalCount(int Index);
// Called with the unit's name on each initialisation (true) and
// finalisation (false) of a framework unit; nullptr removes it.
VCL_API void SetUnitTraceHook(std::function<void(const String& Unit, bool Initialization)> Hook);
