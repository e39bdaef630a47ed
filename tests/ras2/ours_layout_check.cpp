// Our declarations put every field of RasLayoutFields.def where the list
// says; mingw_layout_check.cpp holds MinGW-w64's ras.h to the same list.
#include <cstddef>

#include "Ras2/RasContract.h"
#include "Ras2/RasOptionalContract.h"

#define RAS_FIELD(ours, theirs, field, theirField, at32, at64)                   \
  static_assert(offsetof(ours, field) == (sizeof(void*) == 8 ? (at64) : (at32)), \
                #ours "::" #field " is not where the Windows headers put " #theirs "::" #theirField);
#include "tests/ras2/RasLayoutFields.def"
#undef RAS_FIELD
