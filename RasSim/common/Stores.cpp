#include "RasSim/common/Stores.h"

#include <map>
#include <mutex>
#include <unordered_map>

#include "Ras2/RasContract.h"
#include "RasSim/common/Platform.h"
#include "RasSim/common/Text.h"

namespace rassim {

namespace plat = platform;

PhonebookRef ResolvePhonebook(const char* argument) {
  PhonebookRef ref;
  if (argument && *argument) {
    ref.kind = PhonebookKind::Path;
    ref.isDefault = false;
    ref.path = argument;
    return ref;
  }
  ref.kind = argument ? PhonebookKind::Empty : PhonebookKind::Null;
  std::string env = plat::GetEnv("QUOR_RAS_PHONEBOOK");
  ref.path = env.empty() ? plat::JoinPath(plat::DefaultConfigDir(), "rasphone.pbk") : env;
  return ref;
}

std::string CredentialsPath() {
  std::string env = plat::GetEnv("QUOR_RAS_CREDENTIALS");
  if (!env.empty()) return env;
  return plat::JoinPath(plat::DirName(ResolvePhonebook(nullptr).path), "credentials.dat");
}

std::string StateDir() {
  std::string env = plat::GetEnv("QUOR_RAS_STATE_DIR");
  return env.empty() ? plat::DefaultStateDir() : env;
}

bool SafeValue(const std::string& v) {
  return v.find_first_of("\r\n") == std::string::npos;
}

namespace {

// Every entry of a phonebook can be named: no two names equal but for case
// (RAS would only ever find the first) and none longer than a RAS record
// holds. False, with the line and the reason, when one cannot.
bool EntriesDistinct(const IniDocument& doc, std::string& why) {
  constexpr size_t kMaxEntryName = 256;  // RAS_MaxEntryName
  std::map<std::string, const IniSection*> seen;
  for (const IniSection& s : doc.Sections()) {
    const std::string at = "line " + std::to_string(s.lineNo) + ": ";
    if (s.name.size() > kMaxEntryName) {
      why = at + "the entry name is longer than 256 bytes";
      return false;
    }
    const auto [it, added] = seen.emplace(FoldCase(s.name), &s);
    if (!added) {
      why = at + "the entry '" + s.name + "' has the name of the entry '" + it->second->name + "' on line " +
            std::to_string(it->second->lineNo) + " (names compare without regard to case)";
      return false;
    }
  }
  return true;
}

// 0, or the phonebook error for a read that did not give a document.
DWORD ReadDoc(const PhonebookRef& ref, bool missingIsEmpty, IniDocument& doc) {
  if (!FolderTrusted(ref.path)) return ERROR_CANNOT_OPEN_PHONEBOOK;
  std::string text;
  const std::string what = "the phonebook " + ref.path;
  switch (plat::ReadFile(ref.path, text)) {
    case plat::ReadResult::Ok:
      break;
    case plat::ReadResult::NotFound:
      if (!missingIsEmpty) {
        NoteProblem(what + " does not exist");
        return ERROR_CANNOT_OPEN_PHONEBOOK;
      }
      doc = IniDocument();
      return 0;
    case plat::ReadResult::CannotOpen:
      NoteProblem(what + " cannot be opened");
      return ERROR_CANNOT_OPEN_PHONEBOOK;
    case plat::ReadResult::CannotRead:
      NoteProblem(what + " cannot be read (is it a folder?)");
      return ERROR_CANNOT_LOAD_PHONEBOOK;
    case plat::ReadResult::NotAFile:
      NoteProblem(what + " is not a regular file (a named pipe or a device)");
      return ERROR_CANNOT_LOAD_PHONEBOOK;
  }
  std::string why;
  if (!doc.Parse(text, &why) || !EntriesDistinct(doc, why)) {
    NoteProblem(what + ": " + why);
    return ERROR_CORRUPT_PHONEBOOK;
  }
  return 0;
}

std::mutex& ProblemLock() {
  static std::mutex lock;
  return lock;
}

std::string& Problem() {
  static std::string text;
  return text;
}

}  // namespace

// A file of the default configuration folder is used only when that folder is
// the user's own: one another user made, or may write to, could hold planted
// entries and links. False, with the problem noted, when it is refused.
bool FolderTrusted(const std::string& file) {
  const std::string dir = plat::DefaultConfigDir();
  if (plat::DirName(file) != (dir.empty() ? "." : dir)) return true;
  std::string why = dir.empty() ? "HOME is unset and the user has no home folder" : "";
  if (why.empty() && plat::OwnFolder(dir, why)) return true;
  NoteProblem("the configuration folder " + (dir.empty() ? std::string("~/.config/quor") : dir) +
              " is refused: " + why);
  return false;
}

namespace {}  // namespace

void NoteProblem(const std::string& text) {
  std::lock_guard<std::mutex> hold(ProblemLock());
  Problem() = text;
}

std::string LastProblem() {
  std::lock_guard<std::mutex> hold(ProblemLock());
  return Problem();
}

DWORD LoadPhonebook(const PhonebookRef& ref, IniDocument& doc) {
  return ReadDoc(ref, ref.isDefault, doc);
}

namespace {

struct ReadPhonebook {
  plat::FileStamp stamp;
  std::shared_ptr<const IniDocument> doc;
  std::unordered_map<std::string, const IniSection*> byName;  // folded names, first section of a name
};

}  // namespace

namespace {

// The document of the phonebook at `ref` as last read, with its name index.
DWORD CachedPhonebook(const PhonebookRef& ref, std::shared_ptr<const ReadPhonebook>& book) {
  static std::mutex lock;
  static std::unordered_map<std::string, std::shared_ptr<const ReadPhonebook>> cache;  // by path
  book.reset();
  plat::FileStamp stamp;
  const bool stamped = plat::StampOfFile(ref.path, stamp);
  if (stamped) {
    std::lock_guard<std::mutex> held(lock);
    auto it = cache.find(ref.path);
    if (it != cache.end() && it->second->stamp == stamp) {
      book = it->second;
      return 0;
    }
  }
  // Stamped before the read: a change during the read shows at the next look.
  auto fresh = std::make_shared<ReadPhonebook>();
  auto parsed = std::make_shared<IniDocument>();
  if (DWORD e = ReadDoc(ref, ref.isDefault, *parsed)) return e;
  for (const IniSection& s : parsed->Sections()) fresh->byName.emplace(FoldCase(s.name), &s);
  fresh->stamp = stamp;
  fresh->doc = std::move(parsed);
  book = fresh;
  std::lock_guard<std::mutex> held(lock);
  if (stamped) {
    cache[ref.path] = book;
  } else {
    cache.erase(ref.path);
  }
  return 0;
}

}  // namespace

DWORD ReadPhonebookShared(const PhonebookRef& ref, std::shared_ptr<const IniDocument>& doc) {
  std::shared_ptr<const ReadPhonebook> book;
  if (DWORD e = CachedPhonebook(ref, book)) return e;
  doc = book->doc;
  return 0;
}

DWORD FindPhonebookEntry(const PhonebookRef& ref, const std::string& name, std::shared_ptr<const IniDocument>& doc,
                         const IniSection*& sec) {
  sec = nullptr;
  std::shared_ptr<const ReadPhonebook> book;
  if (DWORD e = CachedPhonebook(ref, book)) return e;
  doc = book->doc;
  auto found = book->byName.find(FoldCase(name));
  if (found != book->byName.end()) sec = found->second;
  return 0;
}

DWORD ModifyPhonebook(const PhonebookRef& ref, bool createIfMissing,
                      const std::function<DWORD(IniDocument&, bool& changed)>& change) {
  if (ref.isDefault) plat::MakeDirs(plat::DirName(ref.path), true);
  // Made by us, or already there: it must be ours.
  if (!FolderTrusted(ref.path)) return ERROR_CANNOT_OPEN_PHONEBOOK;
  // The lock belongs to the file itself, whichever link led to it.
  plat::FileLock lock(plat::ResolveLinks(ref.path) + ".lock");
  if (!lock.Held() && !lock.Why().empty()) {
    NoteProblem("the phonebook " + ref.path + " cannot be locked: " + lock.Why());
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  if (!lock.Held()) {
    // Without a lock file (read-only folder) a named phonebook still reads; a write would fail anyway.
    IniDocument probe;
    DWORD e = ReadDoc(ref, createIfMissing || ref.isDefault, probe);
    if (e == 0) NoteProblem("the phonebook " + ref.path + " cannot be written (its folder is read-only)");
    return e ? e : ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  IniDocument doc;
  DWORD e = ReadDoc(ref, createIfMissing || ref.isDefault, doc);
  if (e) return e;
  if (plat::FileIsReadOnly(ref.path)) {
    NoteProblem("the phonebook " + ref.path + " is read-only: clear the mark to let it be written");
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  bool changed = false;
  e = change(doc, changed);
  if (e || !changed) return e;
  if (!plat::WriteFileAtomic(ref.path, doc.Serialize(), false, true)) {
    NoteProblem("the phonebook " + ref.path + " cannot be written");
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  return 0;
}

}  // namespace rassim
