// A session with one TQuor, with the console presenter installed for its
// whole life, and the failure RAS's refusal makes.
#include "tools/quor/RasSession.h"

#include "tools/quor/Cli.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Output.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasTrace.h"

namespace quortool {

// ---------------------------------------------------------------- session

RasSession::RasSession(Output& out, Needs needs) : fOut(out), fPresenter(out) {
  fPrevious = SetMessagePresenter(&fPresenter);
  // The constructor reads the phonebook; what it would say about a broken
  // one is said once, with the reason, by CheckPhonebook.
  fPresenter.Hold(true);
  fQuor = std::make_unique<TQuor>(nullptr);
  fPresenter.Hold(false);
  if (!fQuor->RasInitialized) {
    fQuor.reset();
    SetMessagePresenter(fPrevious);
    throw Failure(kExitNoRas, "the RAS client library (rasapi32.dll) could not be loaded");
  }
  const RasLibraryInfo library = LoadedRasLibrary();
  fOut.Verbose("rasapi32.dll: " + library.Describe());
  if (GlobalOutput().verbose) TraceRasCalls();
  if (needs == Needs::Phonebook) CheckPhonebook();  // a broken one must not keep anyone from hanging up
}

RasSession::~RasSession() {
  // Destroying the component hangs up a call it still holds; its messages
  // must still reach the console.
  fQuor.reset();
  SetMessagePresenter(fPrevious);
}

void RasSession::CheckPhonebook() {
  // The component keeps quiet when RAS cannot open or read the phonebook
  // (the list just comes out empty): ask RAS itself.
  const uint32_t code = ProbePhonebook();
  if (code == 0) return;
  if (code == ERROR_PROC_NOT_FOUND) {
    throw Failure(kExitNoRas,
                  "the loaded rasapi32.dll (" + LoadedRasLibrary().path +
                      ") has no RasEnumEntries: it is not a RAS client library",
                  code, RasErrorText(code));
  }
  const std::string text = RasErrorText(code);
  const std::string detail = SimulatedServiceProblem();
  throw Failure(kExitNoRas,
                (detail.empty() ? std::string("RAS cannot use the phonebook") : detail) + " (RAS error " +
                    std::to_string(code) + ": " + text + ")",
                code, text);
}

std::vector<std::string> RasSession::Entries() {
  fPresenter.Hold(true);
  fQuor->GetPhoneBookEntries();
  fPresenter.Hold(false);
  CheckPhonebook();
  return fQuor->PhoneBookEntries->Items();
}

std::string RasSession::StoredName(const std::string& name) {
  const std::string folded = FoldName(name);
  for (const auto& stored : Entries()) {
    if (FoldName(stored) == folded) return stored;
  }
  return std::string();
}

std::string RasSession::RequireEntry(const std::string& entry) {
  const std::string stored = StoredName(entry);
  if (stored.empty()) {
    throw Failure(kExitFailed, "unknown entry '" + Printable(entry) + "' ('quor entries' lists the phonebook)");
  }
  return stored;
}

Failure RasRefused(const std::string& what, uint32_t code) {
  const std::string text = RasErrorText(code);
  std::string message = what + ": " + text + " (RAS error " + std::to_string(code) + ")";
  // The simulated service tells the file (and line) of a phonebook it could
  // not read or write.
  if (code == ERROR_CANNOT_OPEN_PHONEBOOK || code == ERROR_CANNOT_LOAD_PHONEBOOK ||
      code == ERROR_CANNOT_WRITE_PHONEBOOK || code == ERROR_CORRUPT_PHONEBOOK) {
    const std::string detail = SimulatedServiceProblem();
    if (!detail.empty()) message += "; " + detail;
  }
  return Failure(code == ERROR_CORRUPT_PHONEBOOK || code == ERROR_CANNOT_LOAD_PHONEBOOK ? kExitNoRas : kExitFailed,
                 message, code, text);
}

}  // namespace quortool
