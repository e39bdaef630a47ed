// Compiled for each Windows target only: MinGW-w64's own ras.h, a header
// nobody here wrote, must put every field of RasLayoutFields.def where the
// list says, the handle and pointer-sized fields included. Nothing of ours is
// included, so no name of our declarations meets a name of ras.h.
#include <windows.h>
// windows.h first
#include <ras.h>

#include <cstddef>

#define RAS_FIELD(ours, theirs, field, theirField, at32, at64)                          \
  static_assert(offsetof(theirs, theirField) == (sizeof(void*) == 8 ? (at64) : (at32)), \
                "ras.h puts " #theirs "::" #theirField " elsewhere than our " #ours);
#define RAS_OPTIONAL_FIELD RAS_FIELD
#include "Ras2/RasLayoutFields.def"
#undef RAS_FIELD
#undef RAS_OPTIONAL_FIELD

static_assert(sizeof(HRASCONN) == sizeof(void*), "ras.h's connection handle is pointer-wide");
static_assert(sizeof(RAS_STATS) == 60, "ras.h's RAS_STATS is 60 bytes on both targets");
