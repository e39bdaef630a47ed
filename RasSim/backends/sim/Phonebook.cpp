// The simulation's phonebook operations: entries and their properties in
// the phonebook file, stored dial parameters in the credential store.
#include "RasSim/backends/sim/SimState.h"
#include "RasSim/common/Platform.h"
#include "RasSim/common/Tables.h"
#include "RasSim/common/Text.h"

namespace rassim {

namespace sim {

const IniSection* FindEntry(const IniDocument& doc, const std::string& name) {
  return doc.Find(name);
}

std::string DottedIp(const BYTE b[4]) {
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

bool ParseIp(const std::string& s, BYTE out[4]) {
  uint64_t parts[4];
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    size_t end = i < 3 ? s.find('.', pos) : s.size();
    if (end == std::string::npos || !ParseUInt(s.substr(pos, end - pos), parts[i]) || parts[i] > 255) return false;
    pos = end + 1;
  }
  for (int i = 0; i < 4; ++i) out[i] = static_cast<BYTE>(parts[i]);
  return true;
}

const char* const kIpKeys[5] = {"IpAddress", "IpDnsAddress", "IpDns2Address", "IpWinsAddress", "IpWins2Address"};

DWORD Num(const IniSection& s, const char* key, DWORD fallback) {
  uint64_t v;
  const std::string* t = s.Find(key);
  return t && ParseUInt(*t, v) && v <= 0xFFFFFFFFu ? static_cast<DWORD>(v) : fallback;
}

EntryProps DefaultProps() {
  EntryProps p;
  p.options = RASEO_UseCountryAndAreaCodes | RASEO_IpHeaderCompression | RASEO_RemoteDefaultGateway |
              RASEO_ModemLights | RASEO_SwCompression;
  p.countryId = 1;
  p.countryCode = 1;
  p.netProtocols = RASNP_Ip;
  p.framing = RASFP_Ppp;
  p.deviceType = Devices()[0].type;
  p.deviceName = Devices()[0].name;
  p.channels = 1;
  return p;
}

EntryProps PropsOf(const IniSection& s) {
  EntryProps p = DefaultProps();
  p.options = Num(s, "EntryOptions", p.options);
  if (const std::string* d = s.Find("UseDialingRules")) {
    if (Trim(*d) == "1")
      p.options |= RASEO_UseCountryAndAreaCodes;
    else
      p.options &= ~RASEO_UseCountryAndAreaCodes;
  }
  p.countryId = Num(s, "CountryID", p.countryId);
  p.countryCode = Num(s, "CountryCode", p.countryCode);
  p.areaCode = s.Get("AreaCode");
  p.phone = s.Get("PhoneNumber");
  p.alternates = s.GetAll("AlternatePhoneNumber");
  for (int i = 0; i < 5; ++i)
    if (const std::string* ip = s.Find(kIpKeys[i])) ParseIp(Trim(*ip), p.ip[i]);
  p.frameSize = Num(s, "FrameSize", 0);
  p.netProtocols = Num(s, "NetProtocols", p.netProtocols);
  p.framing = Num(s, "FramingProtocol", p.framing);
  p.script = s.Get("Script");
  p.autodialDll = s.Get("AutodialDll");
  p.autodialFunc = s.Get("AutodialFunc");
  std::string type = s.Get("DEVICE", s.Get("DeviceType"));
  std::string name = s.Get("Device");
  p.deviceType = type;
  p.deviceName = name;
  if (type.empty() && name.empty()) {
    p.deviceType = Devices()[0].type;
    p.deviceName = Devices()[0].name;
  } else if (const Device* d = FindDevice(name, type)) {
    if (p.deviceType.empty()) p.deviceType = d->type;
    if (p.deviceName.empty()) p.deviceName = d->name;
  }
  p.x25PadType = s.Get("X25PadType");
  p.x25Address = s.Get("X25Address");
  p.x25Facilities = s.Get("X25Facilities");
  p.x25UserData = s.Get("X25UserData");
  p.channels = Num(s, "Channels", p.channels);
  return p;
}

char Hex(unsigned v) {
  return "0123456789ABCDEF"[v & 15];
}

std::string Hex32(DWORD v) {
  std::string s = "0x";
  for (int i = 7; i >= 0; --i) s.push_back(Hex(v >> (i * 4)));
  return s;
}

void WriteProps(IniSection& s, const EntryProps& p) {
  if (!s.Find("Encoding")) s.Set("Encoding", "1");
  s.Set("EntryOptions", Hex32(p.options));
  s.Set("UseDialingRules", (p.options & RASEO_UseCountryAndAreaCodes) ? "1" : "0");
  s.Set("CountryID", std::to_string(p.countryId));
  s.Set("CountryCode", std::to_string(p.countryCode));
  s.Set("AreaCode", p.areaCode);
  s.Set("PhoneNumber", p.phone);
  s.SetAll("AlternatePhoneNumber", p.alternates);
  for (int i = 0; i < 5; ++i) s.Set(kIpKeys[i], DottedIp(p.ip[i]));
  s.Set("FrameSize", std::to_string(p.frameSize));
  s.Set("NetProtocols", std::to_string(p.netProtocols));
  s.Set("FramingProtocol", std::to_string(p.framing));
  s.Set("Script", p.script);
  s.Set("AutodialDll", p.autodialDll);
  s.Set("AutodialFunc", p.autodialFunc);
  s.Set("Device", p.deviceName);
  s.Set("DEVICE", p.deviceType);
  s.Set("X25PadType", p.x25PadType);
  s.Set("X25Address", p.x25Address);
  s.Set("X25Facilities", p.x25Facilities);
  s.Set("X25UserData", p.x25UserData);
  s.Set("Channels", std::to_string(p.channels));
}

bool PropsSafe(const EntryProps& p) {
  for (const std::string* v : {&p.areaCode, &p.phone, &p.script, &p.autodialDll, &p.autodialFunc, &p.deviceType,
                               &p.deviceName, &p.x25PadType, &p.x25Address, &p.x25Facilities, &p.x25UserData})
    if (!SafeValue(*v)) return false;
  for (const std::string& a : p.alternates)
    if (!SafeValue(a) || a.empty()) return false;
  return true;
}

std::string DefaultIp(THRasConn h) {
  unsigned host = static_cast<unsigned>(h % 64516u);  // 254 * 254 addresses
  return "10.64." + std::to_string(host / 254 + 1) + "." + std::to_string(host % 254 + 1);
}

}  // namespace sim

using namespace sim;

DWORD EnumEntries(const PbArg& pb, std::vector<std::string>& names) {
  names.clear();
  std::shared_ptr<const IniDocument> doc;
  if (DWORD e = ReadPhonebookShared(ResolvePhonebook(pb.CStr()), doc)) return e;
  names.reserve(doc->Sections().size());
  for (const IniSection& s : doc->Sections()) names.push_back(s.name);
  return 0;
}

DWORD GetEntryDialParams(const PbArg& pb, const std::string& entry, DialParams& out, bool& passwordReturned) {
  passwordReturned = false;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  std::shared_ptr<const IniDocument> doc;  // holds `sec`
  const IniSection* sec = nullptr;
  if (DWORD e = FindPhonebookEntry(ref, entry, doc, sec)) return e;
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  StoredParams sp;
  out = DialParams();
  out.entry = entry;
  bool found = false;
  if (DWORD e = LoadCredentials(ref, sec->name, sp, found)) return e;
  if (found) {
    out.user = sp.userName;
    out.domain = sp.domain;
    out.phone = sp.phoneNumber;
    out.callback = sp.callbackNumber;
    if (sp.hasPassword) {
      out.password = sp.password;
      passwordReturned = true;
    }
  }
  return 0;
}

DWORD SetEntryDialParams(const PbArg& pb, const DialParams& params, bool removePassword) {
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  std::shared_ptr<const IniDocument> doc;  // holds `sec`
  const IniSection* sec = nullptr;
  if (DWORD e = FindPhonebookEntry(ref, params.entry, doc, sec)) return e;
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  StoredParams sp;
  sp.userName = params.user;
  sp.domain = params.domain;
  sp.phoneNumber = params.phone;
  sp.callbackNumber = params.callback;
  if (!removePassword) {
    sp.password = params.password;
    sp.hasPassword = true;
  }
  return StoreCredentials(ref, sec->name, sp);
}

DWORD ValidateEntryName(const PbArg& pb, const std::string& name) {
  if (!ValidEntryName(name)) return ERROR_INVALID_NAME;
  std::shared_ptr<const IniDocument> doc;
  const IniSection* sec = nullptr;
  if (DWORD e = FindPhonebookEntry(ResolvePhonebook(pb.CStr()), name, doc, sec)) return e;
  return sec ? ERROR_ALREADY_EXISTS : 0;
}

DWORD RenameEntry(const PbArg& pb, const std::string& oldName, const std::string& newName) {
  if (!ValidEntryName(newName)) return ERROR_INVALID_NAME;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  CredentialsChange creds(ref);
  DWORD e = ModifyPhonebook(ref, false, [&](IniDocument& doc, bool& changed) -> DWORD {
    IniSection* s = doc.Find(oldName);
    if (!s) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    IniSection* other = doc.Find(newName);
    if (other && other != s) return ERROR_ALREADY_EXISTS;
    if (s->name == newName) return 0;
    if (DWORD c = creds.Prepare(doc, s->name, newName)) return c;
    doc.Rename(*s, newName);
    changed = true;
    return 0;
  });
  creds.Finish(e == 0);
  return e;
}

DWORD DeleteEntry(const PbArg& pb, const std::string& name) {
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  CredentialsChange creds(ref);
  DWORD e = ModifyPhonebook(ref, false, [&](IniDocument& doc, bool& changed) -> DWORD {
    IniSection* s = doc.Find(name);
    if (!s) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    if (DWORD c = creds.Prepare(doc, s->name, std::string())) return c;
    doc.Remove(name);
    changed = true;
    return 0;
  });
  creds.Finish(e == 0);
  return e;
}

DWORD GetEntryProperties(const PbArg& pb, const std::string& entry, EntryProps& out) {
  if (entry.empty()) {
    out = DefaultProps();
    return 0;
  }
  std::shared_ptr<const IniDocument> doc;  // holds `sec`
  const IniSection* sec = nullptr;
  if (DWORD e = FindPhonebookEntry(ResolvePhonebook(pb.CStr()), entry, doc, sec)) return e;
  if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  out = PropsOf(*sec);
  return 0;
}

DWORD SetEntryProperties(const PbArg& pb, const std::string& entry, const EntryProps& props) {
  if (!PropsSafe(props)) return ERROR_INVALID_PARAMETER;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  CredentialsChange creds(ref);  // a new entry inherits nothing stored under its name
  DWORD e = ModifyPhonebook(ref, true, [&](IniDocument& doc, bool& changed) -> DWORD {
    IniSection* s = doc.Find(entry);
    if (!s) {
      if (!ValidEntryName(entry)) return ERROR_INVALID_NAME;
      if (DWORD c = creds.Prepare(doc, std::string(), entry)) return c;
      s = &doc.Add(entry);
      s->Set("Encoding", "1");
      s->Set("Type", SameName(props.deviceType, "vpn") ? "2" : "1");
    }
    WriteProps(*s, props);
    changed = true;
    return 0;
  });
  creds.Finish(e == 0);
  return e;
}

}  // namespace rassim
