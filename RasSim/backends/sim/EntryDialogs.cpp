// The entry dialogs of the simulation: RasCreatePhonebookEntry and
// RasEditPhonebookEntry through the edge's dialog presenter.
#include "RasSim/backends/sim/SimState.h"
#include "RasSim/common/Dialogs.h"
#include "RasSim/common/Tables.h"
#include "RasSim/common/Text.h"

namespace rassim {

using namespace sim;

namespace {

// Resolves a dialog's device answer: a device type or a device name.
const Device* DeviceAnswer(const std::string& text) {
  if (text.empty()) return &Devices()[0];
  return FindDevice(text, text);
}

std::string CheckDevice(const std::string& text) {
  if (DeviceAnswer(text)) return std::string();
  std::string names;
  for (const Device& d : Devices()) names += std::string(names.empty() ? "" : ", ") + d.type;
  return "There is no device '" + text + "' (" + names + ").";
}

// A name the dialog can take: valid, and not another entry's (`self` may keep its own).
std::string CheckName(const PhonebookRef& ref, const std::string& name, const std::string& self) {
  if (!ValidEntryName(name)) return "The entry name is not valid.";
  std::shared_ptr<const IniDocument> doc;
  const IniSection* sec = nullptr;
  if (FindPhonebookEntry(ref, name, doc, sec) == 0 && sec && !SameName(sec->name, self))
    return "The entry '" + sec->name + "' already exists.";
  return std::string();
}

}  // namespace

DWORD CreatePhonebookEntry(HWND /*owner*/, const PbArg& pb) {
  dialogs::Request req;
  req.create = true;
  const PhonebookRef ref = ResolvePhonebook(pb.CStr());
  req.checkName = [&](const std::string& name) { return CheckName(ref, name, std::string()); };
  req.checkDevice = CheckDevice;
  dialogs::Answers ans;
  if (!dialogs::Show(req, ans)) return ERROR_CANCELLED;
  std::string name = ans.entry.value_or(std::string());
  std::string phone = ans.phone.value_or(std::string());
  if (!ValidEntryName(name)) return ERROR_INVALID_NAME;
  if (!SafeValue(phone)) return ERROR_INVALID_PARAMETER;
  const Device* dev = DeviceAnswer(ans.device.value_or(std::string()));
  if (!dev) return ERROR_DEVICE_DOES_NOT_EXIST;
  CredentialsChange creds(ref);  // a new entry inherits nothing stored under its name
  DWORD e = ModifyPhonebook(ref, true, [&](IniDocument& doc, bool& changed) -> DWORD {
    if (doc.Find(name)) return ERROR_ALREADY_EXISTS;
    if (DWORD c = creds.Prepare(doc, std::string(), name)) return c;
    IniSection& s = doc.Add(name);
    s.Set("Encoding", "1");
    s.Set("Type", SameName(dev->type, "vpn") ? "2" : "1");
    s.Set("PhoneNumber", phone);
    s.Set("Device", dev->name);
    s.Set("DEVICE", dev->type);
    changed = true;
    return 0;
  });
  creds.Finish(e == 0);
  return e;
}

DWORD EditPhonebookEntry(HWND /*owner*/, const PbArg& pb, const std::string& entry) {
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  IniDocument doc;
  if (DWORD e = LoadPhonebook(ref, doc)) return e;
  const IniSection* sec = FindEntry(doc, entry);
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  dialogs::Request req;
  req.create = false;
  req.entry = sec->name;
  req.phone = sec->Get("PhoneNumber");
  req.device = sec->Get("DEVICE", sec->Get("DeviceType"));
  req.checkName = [&](const std::string& name) { return CheckName(ref, name, req.entry); };
  req.checkDevice = CheckDevice;
  dialogs::Answers ans;
  if (!dialogs::Show(req, ans)) return ERROR_CANCELLED;
  std::string newName = ans.entry.value_or(req.entry);
  if (newName.empty()) newName = req.entry;
  if (!ValidEntryName(newName)) return ERROR_INVALID_NAME;
  if (ans.phone && !SafeValue(*ans.phone)) return ERROR_INVALID_PARAMETER;
  const Device* dev = nullptr;
  if (ans.device && !ans.device->empty()) {
    dev = DeviceAnswer(*ans.device);
    if (!dev) return ERROR_DEVICE_DOES_NOT_EXIST;
  }
  CredentialsChange creds(ref);
  DWORD e = ModifyPhonebook(ref, false, [&](IniDocument& d, bool& changed) -> DWORD {
    IniSection* s = d.Find(entry);
    if (!s) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    IniSection* other = d.Find(newName);
    if (other && other != s) return ERROR_ALREADY_EXISTS;
    if (s->name != newName) {
      if (DWORD c = creds.Prepare(d, s->name, newName)) return c;
      d.Rename(*s, newName);
    }
    if (ans.phone) s->Set("PhoneNumber", *ans.phone);
    if (dev) {
      s->Set("Device", dev->name);
      s->Set("DEVICE", dev->type);
    }
    changed = true;
    return 0;
  });
  creds.Finish(e == 0);
  return e;
}

}  // namespace rassim
