// The credential file: stored dial parameters, one section per entry and
// phonebook, and how they follow the phonebook's renames and deletes.
#include <cstdio>
#include <mutex>
#include <set>

#include "Ras2/RasContract.h"
#include "RasSim/common/Platform.h"
#include "RasSim/common/Stores.h"
#include "RasSim/common/Text.h"

namespace rassim {

namespace plat = platform;

namespace {

// Marks a section whose fate hangs on the phonebook: it stands only while the
// phonebook holds its name (a rename or delete between its two writes).
const char kPending[] = "Pending";

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
WipedText HexEncode(const SecretString& v) {
  static const char hex[] = "0123456789abcdef";
  WipedText out;
  out.reserve(2 * v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(v[i]);
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 15]);
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HexDecode(const std::string& v, SecretString& out) {
  out.clear();
  if (v.size() % 2) return false;
  out.reserve(v.size() / 2);
  for (size_t i = 0; i < v.size(); i += 2) {
    const int high = HexDigit(v[i]), low = HexDigit(v[i + 1]);
    if (high < 0 || low < 0) {
      out.clear();
      return false;
    }
    out.push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

// Stored parameters belong to one phonebook file, named by its absolute path
// (escaped like every value: a path may hold a line break): two phonebooks in
// one folder share the credential file, never an entry's password. Sections
// written before that carry "default" (or nothing); they still serve the
// phonebook in use as the default one, until the next store gives them the
// path. Paths were once written unescaped, and still match.
struct Owner {
  std::string key, escaped;
  bool isDefault;
  explicit Owner(const PhonebookRef& ref)
      : key(plat::AbsolutePath(ref.path)), escaped(Escape(key)), isDefault(ref.isDefault) {}
  bool Exact(const IniSection& s) const {
    const std::string owner = s.Get("Phonebook", "default");
    return owner == escaped || owner == key;
  }
  bool Owns(const IniSection& s) const { return Exact(s) || (isDefault && s.Get("Phonebook", "default") == "default"); }
};

IniSection* FindSection(IniDocument& doc, const Owner& owner, const std::string& entry) {
  IniSection* legacy = nullptr;
  for (IniSection& s : doc.Sections()) {
    if (!SameName(s.name, entry)) continue;
    if (owner.Exact(s)) return &s;
    if (!legacy && owner.Owns(s)) legacy = &s;
  }
  return legacy;
}

// Removes the sections `drop` picks; whether any went.
template <class Pred>
bool EraseIf(IniDocument& doc, Pred drop) {
  auto& secs = doc.Sections();
  const size_t before = secs.size();
  for (size_t i = secs.size(); i-- > 0;)
    if (drop(secs[i])) secs.erase(secs.begin() + static_cast<std::ptrdiff_t>(i));
  return secs.size() != before;
}

bool HasPending(const IniDocument& doc, const Owner& owner) {
  for (const IniSection& s : doc.Sections())
    if (s.Find(kPending) && owner.Owns(s)) return true;
  return false;
}

// The marked sections of this phonebook stand (unmarked) or go, as `held`
// says their names are in the phonebook; whether anything changed.
template <class Held>
bool Settle(IniDocument& doc, const Owner& owner, Held held) {
  bool changed = EraseIf(doc, [&](const IniSection& s) { return s.Find(kPending) && owner.Owns(s) && !held(s.name); });
  for (IniSection& s : doc.Sections()) {
    if (s.Find(kPending) && owner.Owns(s)) {
      s.Remove(kPending);
      changed = true;
    }
  }
  return changed;
}

std::string What(const std::string& path) {
  return "the credential file " + path;
}

// Reads the whole file: 0 (a missing file is an empty one) or the error, noted.
DWORD ReadCredentials(const std::string& path, IniDocument& doc) {
  if (!FolderTrusted(path)) return ERROR_CANNOT_OPEN_PHONEBOOK;
  WipedText text;  // every stored password, hex-encoded
  switch (plat::ReadFile(path, text)) {
    case plat::ReadResult::Ok:
      break;
    case plat::ReadResult::NotFound:
      doc = IniDocument();
      return 0;
    case plat::ReadResult::CannotOpen:
      NoteProblem(What(path) + " cannot be opened (may this user read it?)");
      return ERROR_CANNOT_OPEN_PHONEBOOK;
    case plat::ReadResult::CannotRead:
      NoteProblem(What(path) + " cannot be read (is it a folder?)");
      return ERROR_CANNOT_LOAD_PHONEBOOK;
    case plat::ReadResult::NotAFile:
      NoteProblem(What(path) + " is not a regular file (a named pipe or a device)");
      return ERROR_CANNOT_LOAD_PHONEBOOK;
  }
  std::string why;
  if (!doc.Parse(text, &why)) {
    NoteProblem(What(path) + ": " + why + " (nothing was changed)");
    return ERROR_CORRUPT_PHONEBOOK;
  }
  return 0;
}

DWORD WriteCredentials(const std::string& path, const IniDocument& doc) {
  if (plat::FileIsReadOnly(path)) {
    NoteProblem(What(path) + " is read-only: clear the mark to let it be written");
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  WipedText out = doc.Serialize();
  if (out.empty()) out = "; Quor RAS stored dial parameters\n";
  if (!plat::WriteFileAtomic(path, out, true, true)) {
    NoteProblem(What(path) + " cannot be written (is its folder read-only, or its disk full?)");
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  return 0;
}

// The credential file under its lock, read. Without the lock (its folder is
// read-only) the file still reads, and a change is refused when written.
struct LockedFile {
  std::string path = CredentialsPath();
  std::unique_ptr<plat::FileLock> lock;
  IniDocument doc;

  DWORD Open() {
    plat::MakeDirs(plat::DirName(path), true);
    lock = std::make_unique<plat::FileLock>(plat::ResolveLinks(path) + ".lock");
    return ReadCredentials(path, doc);
  }
  DWORD Write() const {
    if (!lock || !lock->Held()) {
      const std::string why = lock && !lock->Why().empty() ? lock->Why() : "is its folder read-only?";
      NoteProblem(What(path) + " cannot be written: its lock " + plat::ResolveLinks(path) + ".lock cannot be taken (" +
                  why + ")");
      return ERROR_CANNOT_WRITE_PHONEBOOK;
    }
    return WriteCredentials(path, doc);
  }
};

// Completes what a writer killed between its writes left, as the phonebook
// now says; a reader's best effort (nothing is reported).
void SettleLeftovers(const PhonebookRef& ref) {
  LockedFile file;
  if (file.Open() != 0 || !file.lock->Held()) return;
  const Owner owner(ref);
  if (!HasPending(file.doc, owner)) return;
  // Under the credential file's lock no rename or delete is between its writes.
  IniDocument book;
  if (LoadPhonebook(ref, book) != 0) return;
  if (Settle(file.doc, owner, [&](const std::string& name) { return book.Find(name) != nullptr; })) file.Write();
}

// Says once per file why a stored password is not used.
void ReportNotPrivate(const std::string& path) {
  const std::string why = What(path) +
                          ": other users may read it, so its stored password is not used (make it readable by "
                          "its owner only, or store the password again)";
  NoteProblem(why);
  static std::mutex lock;
  static std::set<std::string> reported;
  std::lock_guard<std::mutex> held(lock);
  if (reported.insert(path).second) std::fprintf(stderr, "rasapi32: %s\n", why.c_str());
}

}  // namespace

DWORD LoadCredentials(const PhonebookRef& ref, const std::string& entry, StoredParams& out, bool& found) {
  out = StoredParams();
  found = false;
  const std::string path = CredentialsPath();
  IniDocument doc;
  if (DWORD e = ReadCredentials(path, doc)) return e;
  const Owner owner(ref);
  // The caller found the entry in the phonebook: a marked section of its name stands.
  if (HasPending(doc, owner)) SettleLeftovers(ref);
  IniSection* s = FindSection(doc, owner, entry);
  if (!s) return 0;
  found = true;
  out.userName = Unescape(s->Get("UserName"));
  out.domain = Unescape(s->Get("Domain"));
  out.phoneNumber = Unescape(s->Get("PhoneNumber"));
  out.callbackNumber = Unescape(s->Get("CallbackNumber"));
  if (const std::string* pw = s->Find("Password")) {
    if (!plat::FileIsPrivate(path))
      ReportNotPrivate(path);
    else
      out.hasPassword = HexDecode(*pw, out.password);
  }
  return 0;
}

DWORD StoreCredentials(const PhonebookRef& ref, const std::string& entry, const StoredParams& params) {
  LockedFile file;
  if (DWORD e = file.Open()) return e;
  // Looked up under the credential file's lock: no rename or delete of the
  // entry is between its writes now.
  std::shared_ptr<const IniDocument> book;
  const IniSection* sec = nullptr;
  if (DWORD e = FindPhonebookEntry(ref, entry, book, sec)) return e;
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  const Owner owner(ref);
  Settle(file.doc, owner, [&](const std::string& name) { return book->Find(name) != nullptr; });
  IniSection* s = FindSection(file.doc, owner, sec->name);
  if (!s) s = &file.doc.Add(sec->name);
  s->Set("Phonebook", owner.escaped);
  s->Set("UserName", Escape(params.userName));
  s->Set("Domain", Escape(params.domain));
  s->Set("PhoneNumber", Escape(params.phoneNumber));
  s->Set("CallbackNumber", Escape(params.callbackNumber));
  if (params.hasPassword)
    s->Set("Password", HexEncode(params.password));
  else
    s->Remove("Password");
  return file.Write();
}

struct CredentialsChange::State {
  PhonebookRef ref;
  LockedFile file;
  std::string from, to;
  bool marked = false;
};

CredentialsChange::CredentialsChange(const PhonebookRef& ref) : state_(std::make_unique<State>()) {
  state_->ref = ref;
}

CredentialsChange::~CredentialsChange() = default;

DWORD CredentialsChange::Prepare(const IniDocument& book, const std::string& from, const std::string& to) {
  State& st = *state_;
  // A new spelling of the same name: the stored parameters serve it as they are.
  if (!from.empty() && !to.empty() && SameName(from, to)) return 0;
  if (DWORD e = st.file.Open()) return e;
  IniDocument& doc = st.file.doc;
  const Owner owner(st.ref);
  bool changed = Settle(doc, owner, [&](const std::string& name) { return book.Find(name) != nullptr; });
  // Whatever an earlier entry of the new name left behind never reaches it.
  if (!to.empty()) changed |= EraseIf(doc, [&](const IniSection& s) { return SameName(s.name, to) && owner.Owns(s); });
  if (!from.empty()) {
    if (IniSection* s = FindSection(doc, owner, from)) {
      const std::vector<IniLine> lines = s->lines;
      for (IniSection& other : doc.Sections())
        if (SameName(other.name, from) && owner.Owns(other)) other.Set(kPending, "1");
      if (!to.empty()) {
        IniSection& copy = doc.Add(to);
        copy.lines = lines;
        copy.Set("Phonebook", owner.escaped);
        copy.Set(kPending, "1");
      }
      st.marked = changed = true;
    }
  }
  st.from = from;
  st.to = to;
  if (!changed) return 0;
  if (DWORD e = st.file.Write()) {
    st.marked = false;
    return e;
  }
  return 0;
}

void CredentialsChange::Finish(bool phonebookWritten) {
  State& st = *state_;
  if (!st.marked) return;
  st.marked = false;
  // Only this change's sections are marked now: the one name is in the
  // phonebook, the other not. Should this write fail, the marks still read
  // right, and the next change settles them.
  const auto held = [&](const std::string& name) {
    if (!st.to.empty() && SameName(name, st.to)) return phonebookWritten;
    if (SameName(name, st.from)) return !phonebookWritten;
    return true;
  };
  if (Settle(st.file.doc, Owner(st.ref), held)) st.file.Write();
}

}  // namespace rassim
