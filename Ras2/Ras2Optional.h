// The optional entry points of rasapi32.dll (RasOptionalFunctions.def),
// bound apart from the classic 47: null wherever the loaded library lacks
// the export, and never needed for anything the classic binding does.
#pragma once

#include "Ras2/Ras2.h"
#include "Ras2/RasOptionalContract.h"

#define RAS_OPTIONAL(F, PA, PW, ARGS) \
  extern T##F##A F##A;                \
  extern T##F##W F##W;                \
  extern T##F F;
#define RAS_OPTIONAL_NEUTRAL(F, P, ARGS) extern T##F F;
#include "Ras2/RasOptionalFunctions.def"

// Looks the optional entry points up in the library InitRas loaded (hLib).
// With no library loaded they are all null. Returns how many were found.
int BindRasOptional();
