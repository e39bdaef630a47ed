#include "RasSim/Registry.h"

#include <algorithm>
#include <cstdio>

#include "RasSim/IniFile.h"
#include "RasSim/Platform.h"
#include "RasSim/Stores.h"
#include "RasSim/Text.h"

namespace rassim::registry {

namespace plat = platform;

namespace {

std::string ConnFileName(THRasConn h) {
  char name[32];
  std::snprintf(name, sizeof name, "conn-%08x", static_cast<unsigned>(h));
  return name;
}

std::string LockPath(const std::string& dir) {
  return plat::JoinPath(dir, "registry.lock");
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
  s += "State=" + std::to_string(r.state) + "\n";
  s += "Error=" + std::to_string(r.error) + "\n";
  s += "OwnerPid=" + std::to_string(r.ownerPid) + "\n";
  s += std::string("HungUp=") + (r.hungUp ? "1" : "0") + "\n";
  s += "IpAddress=" + Clean(r.ipAddress) + "\n";
  s += "ServerIpAddress=" + Clean(r.serverIpAddress) + "\n";
  return s;
}

bool Parse(const std::string& text, ConnRecord& r) {
  IniDocument doc;
  if (!doc.Parse(text) || doc.Sections().empty()) return false;
  const IniSection& s = doc.Sections().front();
  uint64_t v;
  if (!ParseUInt(s.Get("Handle"), v) || v == 0 || v > 0xFFFFFFFFu) return false;
  r.handle = static_cast<THRasConn>(v);
  r.entry = s.Get("Entry");
  r.phonebook = s.Get("Phonebook");
  r.deviceType = s.Get("DeviceType");
  r.deviceName = s.Get("DeviceName");
  r.state = ParseUInt(s.Get("State"), v) ? static_cast<TRasConnState>(v) : 0;
  r.error = ParseUInt(s.Get("Error"), v) ? static_cast<DWORD>(v) : 0;
  r.ownerPid = ParseUInt(s.Get("OwnerPid"), v) ? static_cast<uint32_t>(v) : 0;
  r.hungUp = s.Get("HungUp") == "1";
  r.ipAddress = s.Get("IpAddress");
  r.serverIpAddress = s.Get("ServerIpAddress");
  return true;
}

bool ReadIn(const std::string& dir, THRasConn h, ConnRecord& r) {
  std::string text;
  if (plat::ReadFile(plat::JoinPath(dir, ConnFileName(h)), text) != plat::ReadResult::Ok) return false;
  return Parse(text, r) && r.handle == h;
}

bool Live(const ConnRecord& r) {
  return r.ownerPid == plat::CurrentProcessId() || plat::ProcessAlive(r.ownerPid);
}

void RemoveStale(const std::string& dir, THRasConn h) {
  plat::FileLock lock(LockPath(dir));
  ConnRecord again;
  // Re-check under the lock: the handle may have been reused meanwhile (it is not, but be safe).
  if (ReadIn(dir, h, again) && Live(again)) return;
  plat::RemoveFile(plat::JoinPath(dir, ConnFileName(h)));
}

}  // namespace

THRasConn AllocateHandle() {
  std::string dir = StateDir();
  plat::FileLock lock(LockPath(dir));
  std::string path = plat::JoinPath(dir, "handles");
  std::string text;
  uint64_t next = 0x100;
  if (plat::ReadFile(path, text) == plat::ReadResult::Ok) {
    uint64_t v;
    if (ParseUInt(Trim(text), v) && v != 0 && v <= 0xFFFFFFFFu) next = v;
  }
  THRasConn h = static_cast<THRasConn>(next);
  // Skip a handle still in use (only possible after the counter wrapped).
  for (int guard = 0; guard < 1000 && plat::FileExists(plat::JoinPath(dir, ConnFileName(h))); ++guard) {
    h = h == 0xFFFFFFFFu ? 0x100 : h + 1;
  }
  THRasConn after = h == 0xFFFFFFFFu ? 0x100 : h + 1;
  plat::WriteFileAtomic(path, std::to_string(after) + "\n", true, false);
  return h;
}

bool Publish(ConnRecord& rec) {
  std::string dir = StateDir();
  plat::FileLock lock(LockPath(dir));
  ConnRecord existing;
  if (ReadIn(dir, rec.handle, existing) && existing.hungUp) {
    rec.hungUp = true;
    return true;
  }
  plat::WriteFileAtomic(plat::JoinPath(dir, ConnFileName(rec.handle)), Serialize(rec), true, false);
  return rec.hungUp;
}

bool Read(THRasConn handle, ConnRecord& rec) {
  std::string dir = StateDir();
  if (!ReadIn(dir, handle, rec)) return false;
  if (!Live(rec)) {
    RemoveStale(dir, handle);
    return false;
  }
  return true;
}

void Remove(THRasConn handle) {
  std::string dir = StateDir();
  plat::FileLock lock(LockPath(dir));
  plat::RemoveFile(plat::JoinPath(dir, ConnFileName(handle)));
}

std::vector<ConnRecord> List() {
  std::string dir = StateDir();
  std::vector<ConnRecord> out;
  for (const std::string& name : plat::ListFiles(dir)) {
    if (name.size() != 13 || name.compare(0, 5, "conn-") != 0) continue;
    uint64_t v;
    if (!ParseUInt("0x" + name.substr(5), v) || v == 0 || v > 0xFFFFFFFFu) continue;
    ConnRecord r;
    if (!ReadIn(dir, static_cast<THRasConn>(v), r)) continue;
    if (!Live(r)) {
      RemoveStale(dir, r.handle);
      continue;
    }
    out.push_back(r);
  }
  std::sort(out.begin(), out.end(), [](const ConnRecord& a, const ConnRecord& b) { return a.handle < b.handle; });
  return out;
}

bool MarkHungUp(THRasConn handle) {
  std::string dir = StateDir();
  plat::FileLock lock(LockPath(dir));
  ConnRecord r;
  if (!ReadIn(dir, handle, r)) return false;
  if (!Live(r)) {
    plat::RemoveFile(plat::JoinPath(dir, ConnFileName(handle)));
    return false;
  }
  if (r.hungUp) return true;
  r.hungUp = true;
  r.state = RASCS_Disconnected;
  r.error = 0;
  plat::WriteFileAtomic(plat::JoinPath(dir, ConnFileName(handle)), Serialize(r), true, false);
  return true;
}

uint64_t NextAttempt(const std::string& key) {
  std::string dir = StateDir();
  plat::FileLock lock(LockPath(dir));
  std::string path = plat::JoinPath(dir, "attempts");
  std::string text;
  IniDocument doc;
  if (plat::ReadFile(path, text) == plat::ReadResult::Ok) doc.Parse(text);
  IniSection* s = nullptr;
  for (IniSection& sec : doc.Sections())
    if (sec.Get("Key") == key) s = &sec;
  if (!s) {
    s = &doc.Add("attempts");
    s->Set("Key", Clean(key));
  }
  uint64_t n = 0;
  ParseUInt(s->Get("Count", "0"), n);
  ++n;
  s->Set("Count", std::to_string(n));
  plat::WriteFileAtomic(path, doc.Serialize(), true, false);
  return n;
}

void ResetAttempts() {
  std::string dir = StateDir();
  plat::FileLock lock(LockPath(dir));
  plat::RemoveFile(plat::JoinPath(dir, "attempts"));
}

}  // namespace rassim::registry
