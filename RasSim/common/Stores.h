// Where the simulated RAS service keeps things, and how it reads and
// rewrites them safely.
//
// Phonebook: QUOR_RAS_PHONEBOOK, else the per-user default
// (<config dir>/rasphone.pbk); a phonebook argument that is neither null nor
// empty names another file. A missing default phonebook reads as an empty one;
// a missing named one cannot be opened (621).
//
// Credentials: QUOR_RAS_CREDENTIALS, else credentials.dat beside the default
// phonebook. One section per stored entry, keyed by entry name and phonebook.
// Created readable by its owner only.
//
// Every rewrite takes the file's lock file (<file>.lock) across the whole
// read-modify-write and replaces the file atomically.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "RasSim/common/IniFile.h"
#include "RasSim/common/Secret.h"
#include "Win32/Win32.h"

namespace rassim {

enum class PhonebookKind { Null = 0, Empty = 1, Path = 2 };

struct PhonebookRef {
  std::string path;  // file in use
  bool isDefault = true;
  PhonebookKind kind = PhonebookKind::Null;
};

PhonebookRef ResolvePhonebook(const char* argument);  // null, "" or a path
std::string CredentialsPath();
std::string StateDir();  // QUOR_RAS_STATE_DIR or the per-user default (opened by the registry)

// This process's account of its last refused request that an error number
// alone cannot tell (which file, which line, which key), for the
// QuorRasSimLastProblem control export.
void NoteProblem(const std::string& text);

// A file of the default configuration folder is used only when that folder is
// the user's own; false, with the problem noted, when it is refused.
bool FolderTrusted(const std::string& file);
std::string LastProblem();

// Reads a phonebook: 0, 621 (cannot open / named file missing),
// 622 (cannot read), 625 (corrupt).
DWORD LoadPhonebook(const PhonebookRef& ref, IniDocument& doc);
// The phonebook as last read, shared and never changed: read and parsed
// again only when the file changed (see FindPhonebookEntry).
DWORD ReadPhonebookShared(const PhonebookRef& ref, std::shared_ptr<const IniDocument>& doc);
// An entry of the phonebook as last read: the file is read and parsed again
// only when it changed (size, modification time or identity), and the entry
// is found by name without a walk through the document. `sec` (null when
// there is no such entry) stays valid while `doc` is held.
DWORD FindPhonebookEntry(const PhonebookRef& ref, const std::string& name, std::shared_ptr<const IniDocument>& doc,
                         const IniSection*& sec);

// Read-modify-write of a phonebook under its lock. `change` returns 0 to
// commit (the file is rewritten only when it sets *changed), or an error,
// which is returned without writing. A missing file is an empty phonebook
// when createIfMissing or the phonebook is the default one, else 621.
// A read-only file (platform::FileIsReadOnly) or a failed write gives 624.
DWORD ModifyPhonebook(const PhonebookRef& ref, bool createIfMissing,
                      const std::function<DWORD(IniDocument&, bool& changed)>& change);

// Stored dial parameters of one entry (Credentials.cpp).
struct StoredParams {
  std::string userName;
  SecretString password;
  std::string domain, phoneNumber, callbackNumber;
  bool hasPassword = false;
};
// Reads the stored parameters of an entry the phonebook holds: 0, with
// `found` telling whether any are stored, or the error of a credential file
// that cannot be used - 621 (cannot be opened), 622 (cannot be read), 625
// (corrupt) - with the file, line and reason noted. A password kept in a file
// that others may read is not returned (hasPassword false), and why is noted.
DWORD LoadCredentials(const PhonebookRef& ref, const std::string& entry, StoredParams& out, bool& found);
// Stores an entry's parameters: 0, 623 when the phonebook no longer holds the
// entry, the read errors above, 624 when the file cannot be written.
DWORD StoreCredentials(const PhonebookRef& ref, const std::string& entry, const StoredParams& params);

// The stored parameters' side of a phonebook change that renames, deletes or
// creates an entry, so that they follow the phonebook or nothing changes.
// Holds the credential file's lock from Prepare to its end, so that no store
// comes between the two files' writes.
//
// Prepare runs under the phonebook's lock, before the phonebook is written:
// the sections of `from` (the entry renamed or deleted; empty for a new entry)
// are marked pending and copied, also marked, to `to` (the new name; empty
// for a delete), and whatever is left under `to` goes. A marked section
// stands only while the phonebook holds its name, so a writer killed at any
// point leaves files that read right, and the next change of the credential
// file settles the marks. An error (the read errors above, 624 when the file
// cannot be written) means the phonebook must not be written. Finish settles
// the marks as the phonebook now is (written or not).
class CredentialsChange {
 public:
  explicit CredentialsChange(const PhonebookRef& ref);
  ~CredentialsChange();
  CredentialsChange(const CredentialsChange&) = delete;
  CredentialsChange& operator=(const CredentialsChange&) = delete;

  DWORD Prepare(const IniDocument& book, const std::string& from, const std::string& to);
  void Finish(bool phonebookWritten);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Values written into a phonebook must stay on their line.
bool SafeValue(const std::string& v);

}  // namespace rassim
