// --verbose: the RAS calls quor and its TQuor make, with RAS's answers.
#pragma once

#include <cstdint>

namespace quortool {

// From now on every call through Ras2's entry points (the tool's and its
// TQuor's) is reported with RAS's answer as a --verbose line ("RAS:
// RasEnumEntries answered 0"); the same answer twice in a row is said once.
void TraceRasCalls();
// Reports one answer of RAS as TraceRasCalls does (with --verbose); returns the code.
uint32_t NoteRasAnswer(const char* function, uint32_t code);

}  // namespace quortool
