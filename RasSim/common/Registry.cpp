#include "RasSim/common/Registry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <set>

#include "RasSim/common/IniFile.h"
#include "RasSim/common/Lasting.h"
#include "RasSim/common/Platform.h"
#include "RasSim/common/Stores.h"
#include "RasSim/common/Tables.h"
#include "RasSim/common/Text.h"

namespace rassim::registry {

namespace plat = platform;

namespace {

// Connection handles are the shared counter's serial number or'ed with kHandleUpperTag.
constexpr uint64_t kMaxHandle = std::numeric_limits<THRasConn>::max();
// Handles are stored whole: file names hold all their hex digits.
constexpr size_t kConnNameLength = 5 + 2 * sizeof(THRasConn);

std::string ConnFileName(THRasConn h) {
  char name[40];
  std::snprintf(name, sizeof name, "conn-%0*llx", static_cast<int>(2 * sizeof(THRasConn)),
                static_cast<unsigned long long>(h));
  return name;
}

constexpr char kLockName[] = "registry.lock";

// The records of hung-up connections are kept as spare files and given to
// the next new connection by a rename, instead of removing one file and
// creating another per call: creating a file is the costliest thing a dial
// does to the folder (on some file systems a millisecond, and more after
// many removals). The pool is a stack: "spares" counts them, "spare-<n>"
// are its files (n below the count). A file beyond the count (a writer
// killed between its rename and the count) is taken over by the next push.
constexpr char kSparesName[] = "spares";
// Enough for every connection of a busy machine; beyond it records are removed.
constexpr uint64_t kMaxSpares = 16384;
// Records are padded to this length (one disk sector, the most written in
// place), so that every record fits every spare and is rewritten in place.
constexpr size_t kRecordSize = 512;

std::string SpareName(uint64_t n) {
  char name[32];
  std::snprintf(name, sizeof name, "spare-%08llx", static_cast<unsigned long long>(n));
  return name;
}

// FNV-1a of a text.
uint64_t Hash(const std::string& text) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

// "<prefix><16 hex digits>", the digits `value` (a hash) plus `probe`.
std::string Hex16(const char* prefix, uint64_t value) {
  char name[48];
  std::snprintf(name, sizeof name, "%s%016llx", prefix, static_cast<unsigned long long>(value));
  return name;
}

// "<prefix><16 hex digits>", the digits a hash of the key, plus `probe` to
// step past another key with the same hash.
std::string HashedName(const char* prefix, const std::string& key, uint64_t probe = 0) {
  return Hex16(prefix, Hash(key) + probe);
}

// The file naming the latest call of an entry of a phonebook.
std::string EntryFileName(const std::string& phonebook, const std::string& entry) {
  return HashedName("entry-", phonebook + "\n" + FoldCase(entry));
}

// Opens the state folder safely (see PrivateDir). A folder that is refused
// is reported on standard error once per reason, since the RAS error
// number alone cannot say which folder is wrong and why.
bool OpenDir(plat::PrivateDir& dir) {
  std::string why;
  if (dir.Open(StateDir(), why)) return true;
  static Lasting<std::mutex> reportedLock;  // also used by the unload's last writes
  static Lasting<std::set<std::string>> reported;
  std::lock_guard<std::mutex> guard(*reportedLock);
  if (reported->insert(why).second) std::fprintf(stderr, "rasapi32: state folder refused: %s\n", why.c_str());
  return false;
}

// A number as the counters and the latest-call files hold it: padded to a
// fixed width, so that every later value has the same length and is written
// in place (PrivateDir::Overwrite) instead of by a new file and a rename.
std::string Padded(uint64_t v) {
  std::string s = std::to_string(v);
  s.resize(20, ' ');
  return s;
}

std::string Clean(const std::string& v) {
  std::string s = v;
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

std::string Serialize(const ConnRecord& r) {
  std::string s = "[connection]\n";
  s += "Handle=" + std::to_string(r.handle) + "\n";
  s += "Entry=" + Clean(r.entry) + "\n";
  s += "Phonebook=" + Clean(r.phonebook) + "\n";
  s += "DeviceType=" + Clean(r.deviceType) + "\n";
  s += "DeviceName=" + Clean(r.deviceName) + "\n";
  // Every state of one connection gives a record of the same length.
  s += "State=" + Padded(r.state) + "\n";
  s += "Error=" + Padded(r.error) + "\n";
  s += "OwnerPid=" + std::to_string(r.ownerPid) + "\n";
  s += "Owner=" + Clean(r.owner) + "\n";
  s += std::string("HungUp=") + (r.hungUp ? "1" : "0") + "\n";
  s += "IpAddress=" + Clean(r.ipAddress) + "\n";
  s += "ServerIpAddress=" + Clean(r.serverIpAddress) + "\n";
  s += "Line=" + Clean(r.line) + "\n";
  s += "LostReason=" + Padded(r.lostReason) + "\n";
  s += "LostAt=" + Padded(r.lostAt) + "\n";
  // "Pad=", spaces and a line break up to the record length; the check line is 23 bytes.
  constexpr size_t kTail = 5 + 23;
  if (s.size() + kTail <= kRecordSize) s += "Pad=" + std::string(kRecordSize - kTail - s.size(), ' ') + "\n";
  // Rewritten in place: a reader that meets a rewrite half done sees a
  // record whose last line does not match the rest.
  s += Hex16("Check=", Hash(s)) + "\n";
  return s;
}

bool Parse(const std::string& text, ConnRecord& r) {
  // A record without a check line was written whole, by a new file and a rename.
  const size_t line = text.rfind("\nCheck=");
  if (line != std::string::npos &&
      text.compare(line + 1, std::string::npos, Hex16("Check=", Hash(text.substr(0, line + 1))) + "\n") != 0)
    return false;
  IniDocument doc;
  if (!doc.Parse(text) || doc.Sections().empty()) return false;
  const IniSection& s = doc.Sections().front();
  uint64_t v;
  if (!ParseUInt(s.Get("Handle"), v) || v == 0 || v > kMaxHandle) return false;
  r.handle = static_cast<THRasConn>(v);
  r.entry = s.Get("Entry");
  r.phonebook = s.Get("Phonebook");
  r.deviceType = s.Get("DeviceType");
  r.deviceName = s.Get("DeviceName");
  r.state = ParseUInt(s.Get("State"), v) ? static_cast<TRasConnState>(v) : 0;
  r.error = ParseUInt(s.Get("Error"), v) ? static_cast<DWORD>(v) : 0;
  r.ownerPid = ParseUInt(s.Get("OwnerPid"), v) ? static_cast<uint32_t>(v) : 0;
  r.owner = s.Get("Owner");
  r.hungUp = s.Get("HungUp") == "1";
  r.ipAddress = s.Get("IpAddress");
  r.serverIpAddress = s.Get("ServerIpAddress");
  r.line = s.Get("Line");
  r.lostReason = ParseUInt(s.Get("LostReason"), v) ? static_cast<DWORD>(v) : 0;
  r.lostAt = ParseUInt(s.Get("LostAt"), v) ? v : 0;
  return true;
}

enum class Found { Yes, No, Unreadable };

Found Look(const plat::PrivateDir& dir, THRasConn h, ConnRecord& r) {
  std::string text;
  if (dir.Read(ConnFileName(h), text) != plat::ReadResult::Ok) return Found::No;
  if (!Parse(text, r)) return Found::Unreadable;
  return r.handle == h ? Found::Yes : Found::No;
}

// Under the folder's lock: no rewrite is under way.
bool ReadIn(const plat::PrivateDir& dir, THRasConn h, ConnRecord& r) {
  return Look(dir, h, r) == Found::Yes;
}

// Without the lock: a record met in the middle of a rewrite is read again
// once the writer is done (a record that still does not read then was left
// half written by a writer that died, and counts as gone).
bool ReadUnlocked(const plat::PrivateDir& dir, THRasConn h, ConnRecord& r) {
  const Found found = Look(dir, h, r);
  if (found != Found::Unreadable) return found == Found::Yes;
  plat::FileLock lock(dir, kLockName);
  return lock.Held() && ReadIn(dir, h, r);
}

uint64_t WallSeconds() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// A lost line's record lives for its time, whoever holds it; any other while
// its owner does (a record of an older version names its owner by process id only).
bool Live(const plat::PrivateDir& dir, const ConnRecord& r) {
  if (r.lostReason != 0) {
    const uint64_t now = WallSeconds();
    return now >= r.lostAt && now < r.lostAt + kLostReasonKeptSeconds;
  }
  if (!r.owner.empty()) return r.owner == plat::OwnerTag() || plat::OwnerMarkHeld(dir, r.owner);
  return r.ownerPid == plat::CurrentProcessId() || plat::ProcessAlive(r.ownerPid);
}

uint64_t ReadCount(const plat::PrivateDir& dir, const char* name) {
  std::string text;
  uint64_t v = 0;
  return dir.Read(name, text) == plat::ReadResult::Ok && ParseUInt(Trim(text), v) ? v : 0;
}

// Under the lock: the record of `h` becomes a spare, or is removed when the
// pool is full or cannot take it.
void Retire(const plat::PrivateDir& dir, THRasConn h) {
  const std::string name = ConnFileName(h);
  const uint64_t count = ReadCount(dir, kSparesName);
  if (count < kMaxSpares && dir.Rename(name, SpareName(count))) {
    dir.Overwrite(kSparesName, Padded(count + 1) + "\n");
    return;
  }
  dir.Remove(name);
}

// Under the lock: a spare takes the record name of `h`. False when the pool
// is empty (a spare the count names but that is missing is passed over).
bool TakeSpare(const plat::PrivateDir& dir, THRasConn h) {
  const uint64_t before = std::min(ReadCount(dir, kSparesName), kMaxSpares);
  uint64_t count = before;
  bool taken = false;
  while (count > 0 && !taken) taken = dir.Rename(SpareName(--count), ConnFileName(h));
  if (count != before) dir.Overwrite(kSparesName, Padded(count) + "\n");
  return taken;
}

// Whether a record is of that entry of that phonebook.
bool OfEntry(const ConnRecord& r, const std::string& phonebook, bool isDefault, const std::string& entry) {
  return (r.phonebook == phonebook || (r.phonebook.empty() && isDefault)) && FoldCase(r.entry) == FoldCase(entry);
}

// The handle the entry's latest-call file names; 0 when none. Read under the
// lock (the file is written in place).
THRasConn LatestHandle(const plat::PrivateDir& dir, const std::string& phonebook, const std::string& entry) {
  std::string text;
  uint64_t v;
  if (dir.Read(EntryFileName(phonebook, entry), text) != plat::ReadResult::Ok || !ParseUInt(Trim(text), v) ||
      v > kMaxHandle)
    return 0;
  return static_cast<THRasConn>(v);
}

void RemoveStale(const plat::PrivateDir& dir, THRasConn h) {
  plat::FileLock lock(dir, kLockName);
  if (!lock.Held()) return;
  ConnRecord again;
  // Re-check under the lock: the handle may have been reused meanwhile (it is not, but be safe).
  const bool known = ReadIn(dir, h, again);
  if (known && Live(dir, again)) return;
  Retire(dir, h);
  if (known) plat::RemoveOwnerMarkIfGone(dir, again.owner);
}

// Removes the marks of owners that are gone (killed with no record left,
// or whose records were retired by others). The mark of an owner that is
// alive is held, and stays.
void SweepMarks(const plat::PrivateDir& dir, const std::vector<std::string>& names) {
  const std::string mine = plat::OwnerTag();
  for (const std::string& name : names) {
    if (name.size() != 22 || name.compare(0, 6, "owner-") != 0) continue;
    const std::string tag = name.substr(6);
    if (tag == mine || plat::OwnerMarkHeld(dir, tag)) continue;
    plat::FileLock lock(dir, kLockName);
    if (lock.Held()) plat::RemoveOwnerMarkIfGone(dir, tag);
  }
}

}  // namespace

THRasConn AllocateHandle() {
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return 0;
  plat::FileLock lock(dir, kLockName);
  if (!lock.Held()) return 0;
  std::string text;
  uint64_t next = 0x100;
  if (dir.Read("handles", text) == plat::ReadResult::Ok) {
    uint64_t v;
    if (ParseUInt(Trim(text), v) && v != 0 && v <= 0xFFFFFFFFu) next = v;
  }
  uint64_t serial = next;
  // Skip a handle still in use (only possible after the counter wrapped).
  for (int guard = 0; guard < 1000 && dir.Exists(ConnFileName(kHandleUpperTag | static_cast<THRasConn>(serial)));
       ++guard) {
    serial = serial == 0xFFFFFFFFu ? 0x100 : serial + 1;
  }
  const THRasConn h = kHandleUpperTag | static_cast<THRasConn>(serial);
  const uint64_t after = serial == 0xFFFFFFFFu ? 0x100 : serial + 1;
  // A counter that cannot be written would hand out the same handle again.
  if (!dir.Overwrite("handles", Padded(after) + "\n")) return 0;
  return h;
}

bool Publish(ConnRecord& rec, DWORD* error) {
  if (error) *error = 0;
  plat::PrivateDir dir;
  if (!OpenDir(dir)) {
    if (error) *error = ERROR_RASMAN_CANNOT_INITIALIZE;
    return rec.hungUp;
  }
  plat::FileLock lock(dir, kLockName);
  ConnRecord existing;
  const bool known = ReadIn(dir, rec.handle, existing);
  if (known && existing.hungUp) {
    rec.hungUp = true;
    return true;
  }
  // The record is live while this process holds its mark (made under the lock).
  rec.owner = plat::OwnerTag();
  if (lock.Held() && !plat::HoldOwnerMark(dir)) {
    if (error) *error = ERROR_RASMAN_CANNOT_INITIALIZE;
    return rec.hungUp;
  }
  // One connection per entry: a dial started beside this one may have made its call since this one looked.
  if (!known && lock.Held() && !rec.entry.empty()) {
    ConnRecord other;
    const THRasConn latest = LatestHandle(dir, rec.phonebook, rec.entry);
    if (latest != 0 && latest != rec.handle && ReadIn(dir, latest, other) && Live(dir, other) && !other.hungUp &&
        other.error == 0 && OfEntry(other, rec.phonebook, false, rec.entry)) {
      if (error) *error = ERROR_DIAL_ALREADY_IN_PROGRESS;
      return rec.hungUp;
    }
  }
  const std::string text = Serialize(rec);
  // Nothing another process could see has changed (a dial's first step
  // repeats the state the call was published with): the file stays as it is.
  if (known && lock.Held() && Serialize(existing) == text) return rec.hungUp;
  // A new call's record: a spare file of an earlier call, rewritten in place.
  if (!known && lock.Held() && !dir.Exists(ConnFileName(rec.handle))) TakeSpare(dir, rec.handle);
  bool written = lock.Held() && dir.Overwrite(ConnFileName(rec.handle), text);
  // A new call becomes its entry's latest.
  if (written && !known && !rec.entry.empty()) {
    written = dir.Overwrite(EntryFileName(rec.phonebook, rec.entry), Padded(rec.handle) + "\n");
  }
  if (!written && error) *error = ERROR_RASMAN_CANNOT_INITIALIZE;
  return rec.hungUp;
}

bool Read(THRasConn handle, ConnRecord& rec) {
  plat::PrivateDir dir;
  if (!OpenDir(dir) || !ReadUnlocked(dir, handle, rec)) return false;
  if (!Live(dir, rec)) {
    RemoveStale(dir, handle);
    return false;
  }
  return true;
}

void Remove(THRasConn handle) {
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return;
  plat::FileLock lock(dir, kLockName);
  ConnRecord r;
  if (ReadIn(dir, handle, r) && !r.entry.empty()) {
    const std::string latest = EntryFileName(r.phonebook, r.entry);
    std::string text;
    uint64_t v;
    if (dir.Read(latest, text) == plat::ReadResult::Ok && ParseUInt(Trim(text), v) && v == handle) {
      dir.Overwrite(latest, Padded(0) + "\n");  // no latest call; kept for the entry's next one
    }
  }
  if (lock.Held())
    Retire(dir, handle);
  else
    dir.Remove(ConnFileName(handle));
}

DWORD List(std::vector<ConnRecord>& out) {
  out.clear();
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return ERROR_RASMAN_CANNOT_INITIALIZE;
  const std::vector<std::string> names = dir.List();
  for (const std::string& name : names) {
    if (name.size() != kConnNameLength || name.compare(0, 5, "conn-") != 0) continue;
    uint64_t v;
    if (!ParseUInt("0x" + name.substr(5), v) || v == 0 || v > kMaxHandle) continue;
    ConnRecord r;
    if (!ReadUnlocked(dir, static_cast<THRasConn>(v), r)) {
      // Not a record of this handle even under the lock (a writer killed
      // after taking a spare or in the middle of a write): nobody's record.
      plat::FileLock lock(dir, kLockName);
      std::string text;
      if (lock.Held() && dir.Read(name, text) == plat::ReadResult::Ok && (!Parse(text, r) || r.handle != v))
        Retire(dir, static_cast<THRasConn>(v));
      continue;
    }
    if (!Live(dir, r)) {
      RemoveStale(dir, r.handle);
      continue;
    }
    out.push_back(r);
  }
  SweepMarks(dir, names);
  std::sort(out.begin(), out.end(), [](const ConnRecord& a, const ConnRecord& b) { return a.handle < b.handle; });
  return 0;
}

std::vector<ConnRecord> List() {
  std::vector<ConnRecord> out;
  List(out);
  return out;
}

bool MarkHungUp(THRasConn handle) {
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return false;
  plat::FileLock lock(dir, kLockName);
  ConnRecord r;
  if (!ReadIn(dir, handle, r)) return false;
  if (!Live(dir, r)) {
    if (lock.Held())
      Retire(dir, handle);
    else
      dir.Remove(ConnFileName(handle));
    return false;
  }
  if (r.hungUp) return true;
  r.hungUp = true;
  r.state = RASCS_Disconnected;
  if (r.lostReason == 0) r.error = 0;  // a lost line keeps telling why
  return dir.Overwrite(ConnFileName(handle), Serialize(r));
}

void MarkLost(THRasConn handle, DWORD reason) {
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return;
  plat::FileLock lock(dir, kLockName);
  ConnRecord r;
  if (!lock.Held() || !ReadIn(dir, handle, r)) return;
  r.state = RASCS_Disconnected;
  r.error = reason;
  r.lostReason = reason;
  r.lostAt = WallSeconds();
  if (!dir.Overwrite(ConnFileName(handle), Serialize(r))) Retire(dir, handle);  // never listed as still up
}

DWORD LossAnswer(const ConnRecord& rec) {
  if (rec.lostReason == 0) return 0;
  return rec.hungUp && rec.owner == plat::OwnerTag() ? static_cast<DWORD>(ERROR_INVALID_HANDLE) : rec.lostReason;
}

bool LatestOfEntry(const std::string& phonebook, bool isDefault, const std::string& entry, ConnRecord& rec) {
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return false;
  THRasConn h = 0;
  {
    plat::FileLock lock(dir, kLockName);
    if (!lock.Held() || (h = LatestHandle(dir, phonebook, entry)) == 0) return false;
  }
  return Read(h, rec) && OfEntry(rec, phonebook, isDefault, entry);
}

// One small file per key, so a dial does not read every entry's counter.
uint64_t NextAttempt(const std::string& key) {
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return 0;
  plat::FileLock lock(dir, kLockName);
  if (!lock.Held()) return 0;
  const std::string cleanKey = Clean(key);
  for (uint64_t probe = 0; probe < 64; ++probe) {
    const std::string name = HashedName("attempt-", cleanKey, probe);
    std::string text;
    IniDocument doc;
    const bool found = dir.Read(name, text) == plat::ReadResult::Ok && doc.Parse(text) && !doc.Sections().empty();
    if (found && doc.Sections().front().Get("Key") != cleanKey) continue;  // another key with this hash
    if (!found) doc.Add("attempts").Set("Key", cleanKey);
    IniSection& s = doc.Sections().front();
    uint64_t n = 0;
    ParseUInt(s.Get("Count", "0"), n);
    ++n;
    s.Set("Count", Padded(n));
    // A counter that cannot be written would count this attempt again.
    return dir.Overwrite(name, doc.Serialize()) ? n : 0;
  }
  return 1;
}

void ResetAttempts() {
  plat::PrivateDir dir;
  if (!OpenDir(dir)) return;
  plat::FileLock lock(dir, kLockName);
  for (const std::string& name : dir.List()) {
    if (name.rfind("attempt", 0) == 0) dir.Remove(name);  // also an "attempts" file of old
  }
}

}  // namespace rassim::registry
