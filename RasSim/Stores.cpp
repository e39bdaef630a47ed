#include "RasSim/Stores.h"

#include <mutex>
#include <unordered_map>

#include "Ras2/RasContract.h"
#include "RasSim/Platform.h"
#include "RasSim/Text.h"

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
  if (!doc.Parse(text, &why)) {
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

// Stored parameters belong to one phonebook file, named by its absolute path:
// two phonebooks in one folder share the credential file, never an entry's
// password. Sections written before that carry "default" (or nothing); they
// still serve the phonebook in use as the default one, until the next store
// gives them the path.
std::string PhonebookKey(const PhonebookRef& ref) {
  return plat::AbsolutePath(ref.path);
}

IniSection* FindCredentials(IniDocument& doc, const PhonebookRef& ref, const std::string& entry) {
  const std::string key = PhonebookKey(ref);
  IniSection* legacy = nullptr;
  for (IniSection& s : doc.Sections()) {
    if (!SameName(s.name, entry)) continue;
    const std::string owner = s.Get("Phonebook", "default");
    if (owner == key) return &s;
    if (owner == "default" && ref.isDefault && !legacy) legacy = &s;
  }
  return legacy;
}

void EraseSection(IniDocument& doc, IniSection* s) {
  auto& secs = doc.Sections();
  for (size_t i = 0; i < secs.size(); ++i)
    if (&secs[i] == s) {
      secs.erase(secs.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

// Credential values are escaped so that no text can break the file's lines.
std::string Escape(const std::string& v) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : v) {
    if (c < 0x20 || c == '%' || c == 0x7F) {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string Unescape(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '%' && i + 2 < v.size()) {
      uint64_t x;
      if (ParseUInt("0x" + v.substr(i + 1, 2), x)) {
        out.push_back(static_cast<char>(x));
        i += 2;
        continue;
      }
    }
    out.push_back(v[i]);
  }
  return out;
}

// The password is kept hex-encoded: not secret, but not readable at a glance either.
std::string HexEncode(const std::string& v) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : v) {
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 15]);
  }
  return out;
}

bool HexDecode(const std::string& v, std::string& out) {
  out.clear();
  if (v.size() % 2) return false;
  for (size_t i = 0; i < v.size(); i += 2) {
    uint64_t x;
    if (!ParseUInt("0x" + v.substr(i, 2), x)) return false;
    out.push_back(static_cast<char>(x));
  }
  return true;
}

DWORD ModifyCredentials(const std::function<void(IniDocument&, bool&)>& change) {
  std::string path = CredentialsPath();
  plat::MakeDirs(plat::DirName(path), true);
  if (!FolderTrusted(path)) return ERROR_CANNOT_WRITE_PHONEBOOK;
  plat::FileLock lock(plat::ResolveLinks(path) + ".lock");
  if (!lock.Held()) {
    if (!lock.Why().empty()) NoteProblem("the credentials file " + path + " cannot be locked: " + lock.Why());
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  IniDocument doc;
  std::string text;
  plat::ReadResult r = plat::ReadFile(path, text);
  if (r == plat::ReadResult::Ok) {
    if (!doc.Parse(text)) return ERROR_CANNOT_WRITE_PHONEBOOK;  // never overwrite what we cannot read
  } else if (r != plat::ReadResult::NotFound) {
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  bool changed = false;
  change(doc, changed);
  if (!changed) return 0;
  std::string out = doc.Serialize();
  if (out.empty()) out = "; Quor RAS stored dial parameters\n";
  if (!plat::WriteFileAtomic(path, out, true, true)) return ERROR_CANNOT_WRITE_PHONEBOOK;
  return 0;
}

}  // namespace

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
  bool changed = false;
  e = change(doc, changed);
  if (e || !changed) return e;
  if (!plat::WriteFileAtomic(ref.path, doc.Serialize(), false, true)) {
    NoteProblem("the phonebook " + ref.path + " cannot be written");
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  return 0;
}

bool LoadCredentials(const PhonebookRef& ref, const std::string& entry, StoredParams& out) {
  out = StoredParams();
  std::string path = CredentialsPath();
  if (!FolderTrusted(path)) return false;
  std::string text;
  if (plat::ReadFile(path, text) != plat::ReadResult::Ok) return false;
  IniDocument doc;
  if (!doc.Parse(text)) return false;
  IniSection* s = FindCredentials(doc, ref, entry);
  if (!s) return false;
  out.userName = Unescape(s->Get("UserName"));
  out.domain = Unescape(s->Get("Domain"));
  out.phoneNumber = Unescape(s->Get("PhoneNumber"));
  out.callbackNumber = Unescape(s->Get("CallbackNumber"));
  if (const std::string* pw = s->Find("Password")) {
    std::string decoded;
    if (HexDecode(*pw, decoded) && plat::FileIsPrivate(path)) {
      out.password = decoded;
      out.hasPassword = true;
    }
  }
  return true;
}

DWORD StoreCredentials(const PhonebookRef& ref, const std::string& entry, const StoredParams* params) {
  return ModifyCredentials([&](IniDocument& doc, bool& changed) {
    IniSection* s = FindCredentials(doc, ref, entry);
    if (!params) {
      // Remove exactly these sections: same-named ones may belong to other phonebooks.
      for (; s; s = FindCredentials(doc, ref, entry)) {
        EraseSection(doc, s);
        changed = true;
      }
      return;
    }
    if (!s) s = &doc.Add(entry);
    s->Set("Phonebook", PhonebookKey(ref));
    s->Set("UserName", Escape(params->userName));
    s->Set("Domain", Escape(params->domain));
    s->Set("PhoneNumber", Escape(params->phoneNumber));
    s->Set("CallbackNumber", Escape(params->callbackNumber));
    if (params->hasPassword)
      s->Set("Password", HexEncode(params->password));
    else
      s->Remove("Password");
    changed = true;
  });
}

DWORD RenameCredentials(const PhonebookRef& ref, const std::string& oldName, const std::string& newName) {
  return ModifyCredentials([&](IniDocument& doc, bool& changed) {
    if (!FindCredentials(doc, ref, oldName)) return;
    // Parameters left behind under the new name by an older entry must not shadow the moved ones.
    if (!SameName(oldName, newName)) {
      while (IniSection* stale = FindCredentials(doc, ref, newName)) EraseSection(doc, stale);
    }
    IniSection* moved = FindCredentials(doc, ref, oldName);
    doc.Rename(*moved, newName);
    moved->Set("Phonebook", PhonebookKey(ref));
    changed = true;
  });
}

}  // namespace rassim
