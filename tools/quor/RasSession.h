// A session with one TQuor, and the failure RAS's refusal makes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TQuorComponent/TQuorComponent.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Output.h"

namespace quortool {

// One TQuor with the console presenter installed for its whole life.
class RasSession {
 public:
  // Throws Failure(kExitNoRas) when the RAS client library cannot be bound
  // or, unless only connections are asked about, RAS cannot read the phonebook.
  enum class Needs { Phonebook, ConnectionsOnly };
  explicit RasSession(Output& out, Needs needs = Needs::Phonebook);
  ~RasSession();
  RasSession(const RasSession&) = delete;
  RasSession& operator=(const RasSession&) = delete;

  TQuor& Quor() { return *fQuor; }
  Output& Out() { return fOut; }

  // Reads the phonebook again; throws Failure(kExitNoRas) when RAS cannot.
  std::vector<std::string> Entries();
  // The entry's name as the phonebook holds it (names compare as RAS
  // compares them, without regard to case), or "" when there is none.
  std::string StoredName(const std::string& name);
  // The same, but a missing entry throws Failure(kExitFailed) naming it.
  std::string RequireEntry(const std::string& entry);

 private:
  void CheckPhonebook();

  Output& fOut;
  ConsolePresenter fPresenter;
  TMessagePresenter* fPrevious = nullptr;
  std::unique_ptr<TQuor> fQuor;
};

// A request RAS refused: RAS's own text, its number, and for a phonebook
// file the simulated service's account of which file and line.
Failure RasRefused(const std::string& what, uint32_t code);

}  // namespace quortool
