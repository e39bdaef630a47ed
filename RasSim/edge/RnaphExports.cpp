// rnaph.dll: the four plain-named functions that old systems kept outside
// rasapi32.dll, on the same implementation as rasapi32's A exports.
#include "RasSim/edge/ExportCheck.h"

#define RAS_GUARDED(F, PA, PW, ARGS)
#define RAS_PLAIN(F, PA, PW, ARGS)
#define RAS_FALLBACK(F, PA, PW, ARGS) RASSIM_EXPORT_ONE(F, F##A, T##F##A, PA, ARGS)
#include "Ras2/RasFunctions.def"
