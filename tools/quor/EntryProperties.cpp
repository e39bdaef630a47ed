// `entry show`, and `entry create`/`entry edit` with options: an entry's
// properties read and written in one RAS call each, without the dialog.
#include "tools/quor/EntryProperties.h"

#include <cstring>
#include <iterator>

#include "tools/quor/Cli.h"
#include "tools/quor/CommandSupport.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Output.h"
#include "tools/quor/RasDirect.h"
#include "tools/quor/RasSession.h"

namespace quortool {

namespace {

struct Flag {
  DWORD bit;
  const char* name;
};

const std::vector<Flag>& OptionFlags() {
  static const std::vector<Flag> flags = {
      {RASEO_UseCountryAndAreaCodes, "UseCountryAndAreaCodes"},
      {RASEO_SpecificIpAddr, "SpecificIpAddr"},
      {RASEO_SpecificNameServers, "SpecificNameServers"},
      {RASEO_IpHeaderCompression, "IpHeaderCompression"},
      {RASEO_RemoteDefaultGateway, "RemoteDefaultGateway"},
      {RASEO_DisableLcpExtensions, "DisableLcpExtensions"},
      {RASEO_TerminalBeforeDial, "TerminalBeforeDial"},
      {RASEO_TerminalAfterDial, "TerminalAfterDial"},
      {RASEO_ModemLights, "ModemLights"},
      {RASEO_SwCompression, "SwCompression"},
      {RASEO_RequireEncryptedPw, "RequireEncryptedPw"},
      {RASEO_RequireMsEncryptedPw, "RequireMsEncryptedPw"},
      {RASEO_RequireDataEncryption, "RequireDataEncryption"},
      {RASEO_NetworkLogon, "NetworkLogon"},
      {RASEO_UseLogonCredentials, "UseLogonCredentials"},
      {RASEO_PromoteAlternates, "PromoteAlternates"},
  };
  return flags;
}

const std::vector<Flag>& ProtocolFlags() {
  static const std::vector<Flag> flags = {{RASNP_Netbeui, "NetBEUI"}, {RASNP_Ipx, "IPX"}, {RASNP_Ip, "IP"}};
  return flags;
}

const std::vector<Flag>& Framings() {
  static const std::vector<Flag> framings = {{RASFP_Ppp, "ppp"}, {RASFP_Slip, "slip"}, {RASFP_Ras, "ras"}};
  return framings;
}

std::vector<std::string> Names(const std::vector<Flag>& flags, DWORD bits) {
  std::vector<std::string> names;
  for (const Flag& f : flags) {
    if ((bits & f.bit) != 0) names.push_back(f.name);
  }
  return names;
}

std::string Joined(const std::vector<std::string>& items, const char* separator = ", ") {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size());  // checked against N - 1 before
}

std::string Address(const TRasIPAddr& a) {
  return std::to_string(a.a) + "." + std::to_string(a.b) + "." + std::to_string(a.c) + "." + std::to_string(a.d);
}

bool ParseAddress(const std::string& text, TRasIPAddr& out) {
  unsigned parts[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    size_t digits = 0;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    parts[i] = value;
    if (i < 3 && (at >= text.size() || text[at++] != '.')) return false;
  }
  if (at != text.size()) return false;
  out = TRasIPAddr{static_cast<BYTE>(parts[0]), static_cast<BYTE>(parts[1]), static_cast<BYTE>(parts[2]),
                   static_cast<BYTE>(parts[3])};
  return true;
}

bool SameText(const std::string& a, const std::string& b) {
  return FoldName(a) == FoldName(b);
}

// The device types of ras.h (RASDT_...).
constexpr const char* kDeviceTypes[] = {"modem",      "isdn", "x25",   "vpn",  "pad",  "GENERIC",  "SERIAL",
                                        "FRAMERELAY", "ATM",  "SONET", "SW56", "IRDA", "PARALLEL", "PPPoE"};

const std::vector<const char*>& PropertyOptionNames() {
  static const std::vector<const char*> names = {"--phone",   "--area-code", "--device", "--type",
                                                 "--framing", "--ip",        "--dns",    "--script"};
  return names;
}

// Checks every option against RAS's devices and the record's field widths
// and puts the values into the record; throws before anything is written.
void ApplyOptions(const Args& args, EntryProperties& p) {
  TRasEntry& r = p.record;
  if (const std::string* v = args.Value("--phone")) {
    CheckLength("the phone number", *v, RAS_MaxPhoneNumber);
    SetField(r.szLocalPhoneNumber, *v);
  }
  if (const std::string* v = args.Value("--area-code")) {
    CheckLength("the area code", *v, RAS_MaxAreaCode);
    SetField(r.szAreaCode, *v);
    r.dwfOptions |= RASEO_UseCountryAndAreaCodes;
  }
  const std::string* device = args.Value("--device");
  const std::string* type = args.Value("--type");
  if (type != nullptr) {
    // A word that names no RAS device type is a mistake on the command line;
    // a type RAS has no device of is RAS's answer (below).
    bool known = false;
    for (const char* t : kDeviceTypes) known = known || SameText(t, *type);
    if (!known) {
      throw UsageError("bad value for --type: '" + Printable(*type) + "' (a RAS device type: " +
                       Joined(std::vector<std::string>(std::begin(kDeviceTypes), std::end(kDeviceTypes))) + ")");
    }
  }
  if (device != nullptr || type != nullptr) {
    std::vector<DeviceInfo> devices;
    if (const uint32_t code = EnumDevicesCode(devices); code != 0) {
      throw RasRefused("RAS could not list its devices", code);
    }
    std::vector<std::string> listed;
    for (const auto& d : devices) listed.push_back(d.type + ": " + d.name);
    const DeviceInfo* chosen = nullptr;
    for (const auto& d : devices) {
      if ((device == nullptr || SameText(d.name, *device)) && (type == nullptr || SameText(d.type, *type))) {
        chosen = &d;
        break;
      }
    }
    if (chosen == nullptr) {
      std::string what = device != nullptr ? "device '" + Printable(*device) + "'" : std::string("device");
      if (type != nullptr) what += " of type '" + Printable(*type) + "'";
      throw Failure(kExitFailed, "RAS has no " + what + " (its devices: " + Joined(listed, "; ") + ")");
    }
    SetField(r.szDeviceType, chosen->type);
    SetField(r.szDeviceName, chosen->name);
  }
  if (const std::string* v = args.Value("--framing")) {
    const Flag* framing = nullptr;
    for (const Flag& f : Framings()) {
      if (SameText(f.name, *v)) framing = &f;
    }
    if (framing == nullptr) throw UsageError("bad value for --framing: '" + Printable(*v) + "' (ppp, slip or ras)");
    r.dwFramingProtocol = framing->bit;
  }
  if (const std::string* v = args.Value("--ip")) {
    if (*v == "auto") {
      r.dwfOptions &= ~RASEO_SpecificIpAddr;
      r.ipaddr = TRasIPAddr{};
    } else if (ParseAddress(*v, r.ipaddr)) {
      r.dwfOptions |= RASEO_SpecificIpAddr;
    } else {
      throw UsageError("bad value for --ip: '" + Printable(*v) + "' (an address like 10.0.0.2, or auto)");
    }
  }
  if (const std::string* v = args.Value("--dns")) {
    if (*v == "auto") {
      r.dwfOptions &= ~RASEO_SpecificNameServers;
      r.ipaddrDns = r.ipaddrDnsAlt = TRasIPAddr{};
    } else {
      const size_t comma = v->find(',');
      TRasIPAddr first{}, second{};
      if (!ParseAddress(v->substr(0, comma), first) ||
          (comma != std::string::npos && !ParseAddress(v->substr(comma + 1), second))) {
        throw UsageError("bad value for --dns: '" + Printable(*v) +
                         "' (one or two addresses like 10.0.0.53,10.0.0.54, or auto)");
      }
      r.ipaddrDns = first;
      r.ipaddrDnsAlt = second;
      r.dwfOptions |= RASEO_SpecificNameServers;
    }
  }
  if (const std::string* v = args.Value("--script")) {
    CheckLength("the script's path", *v, RAS_MaxPath - 1);
    SetField(r.szScript, *v);
  }
}

EntryProperties ReadProperties(const std::string& entry, const std::string& what) {
  EntryProperties p;
  if (const uint32_t code = GetEntryPropertiesCode(entry, p); code != 0) throw RasRefused(what, code);
  return p;
}

}  // namespace

bool HasPropertyOptions(const Args& args) {
  if (args.Value("--name") != nullptr) return true;
  for (const char* name : PropertyOptionNames()) {
    if (args.Value(name) != nullptr) return true;
  }
  return false;
}

int CreateFromOptions(RasSession& session, const Args& args) {
  Output& out = session.Out();
  const std::string* name = args.Value("--name");
  if (name == nullptr || name->empty()) throw UsageError("give the new entry's name with --name");
  CheckLength("the entry name", *name, RAS_MaxEntryName);
  if (const std::string stored = session.StoredName(*name); !stored.empty()) {
    throw Failure(
        kExitFailed,
        "cannot create entry '" + Printable(*name) + "': the entry '" + Printable(stored) + "' already exists",
        static_cast<uint32_t>(ERROR_ALREADY_EXISTS), RasErrorText(ERROR_ALREADY_EXISTS));
  }
  if (const uint32_t code = ValidateEntryName(*name); code != 0 && code != ERROR_PROC_NOT_FOUND) {
    throw RasRefused("RAS refuses the entry name '" + Printable(*name) + "'", code);
  }
  // RAS's defaults for a new entry, then the values given.
  EntryProperties p = ReadProperties("", "RAS could not give the defaults of a new entry");
  p.alternates.clear();
  ApplyOptions(args, p);
  if (const uint32_t code = SetEntryPropertiesCode(*name, p); code != 0) {
    throw RasRefused("RAS could not create entry '" + Printable(*name) + "'", code);
  }
  if (out.Json()) {
    out.Object(JsonObject().Add("result", "created").Add("entries", std::vector<std::string>{*name}));
  } else {
    out.Progress("Created entry " + Printable(*name) + ".");
  }
  return kExitOk;
}

int EditFromOptions(RasSession& session, const Args& args, const std::string& entry) {
  EntryProperties p = ReadProperties(entry, "RAS could not read entry '" + Printable(entry) + "'");
  ApplyOptions(args, p);
  if (const uint32_t code = SetEntryPropertiesCode(entry, p); code != 0) {
    throw RasRefused("RAS could not change entry '" + Printable(entry) + "'", code);
  }
  Output& out = session.Out();
  if (out.Json()) {
    out.Object(JsonObject().Add("result", "edited").Add("entry", entry));
  } else {
    out.Progress("Edited entry " + Printable(entry) + ".");
  }
  return kExitOk;
}

int RunEntryShow(const Args& args) {
  Output out(args.json);
  RasSession session(out);
  const std::string& typed = args.positional.at(0);
  if (typed.empty()) throw UsageError("the entry name is empty");
  CheckLength("the entry name", typed, RAS_MaxEntryName);
  const std::string entry = session.RequireEntry(typed);
  const EntryProperties p = ReadProperties(entry, "RAS could not read entry '" + Printable(entry) + "'");
  const TRasEntry& r = p.record;
  const bool fixedIp = (r.dwfOptions & RASEO_SpecificIpAddr) != 0;
  const bool fixedDns = (r.dwfOptions & RASEO_SpecificNameServers) != 0;
  std::vector<std::string> dns;
  if (fixedDns) {
    dns.push_back(Address(r.ipaddrDns));
    if (Address(r.ipaddrDnsAlt) != "0.0.0.0") dns.push_back(Address(r.ipaddrDnsAlt));
  }
  std::string framing = std::to_string(r.dwFramingProtocol);
  for (const Flag& f : Framings()) {
    if (f.bit == r.dwFramingProtocol) framing = f.name;
  }
  const std::vector<std::string> options = Names(OptionFlags(), r.dwfOptions);
  const std::vector<std::string> protocols = Names(ProtocolFlags(), r.dwfNetProtocols);
  if (out.Json()) {
    JsonObject o;
    o.Add("entry", entry).Add("phone", FieldText(r.szLocalPhoneNumber)).Add("area_code", FieldText(r.szAreaCode));
    o.Add("country_id", static_cast<uint32_t>(r.dwCountryID))
        .Add("country_code", static_cast<uint32_t>(r.dwCountryCode))
        .Add("alternates", p.alternates);
    o.Add("device_type", FieldText(r.szDeviceType)).Add("device_name", FieldText(r.szDeviceName));
    o.Add("framing", framing).Add("protocols", protocols);
    if (fixedIp) {
      o.Add("ip_address", Address(r.ipaddr));
    } else {
      o.AddNull("ip_address");
    }
    o.Add("name_servers", dns).Add("script", FieldText(r.szScript)).Add("options", options);
    out.Object(o);
    return kExitOk;
  }
  out.Line("entry: " + Printable(entry));
  out.Line("phone: " + FieldText(r.szLocalPhoneNumber));
  out.Line("area code: " + FieldText(r.szAreaCode));
  out.Line("country: " + std::to_string(r.dwCountryID) + " (code " + std::to_string(r.dwCountryCode) + ")");
  out.Line("alternates: " + Joined(p.alternates));
  out.Line("device: " + FieldText(r.szDeviceType) + ": " + FieldText(r.szDeviceName));
  out.Line("framing: " + framing);
  out.Line("protocols: " + Joined(protocols));
  out.Line("ip address: " + (fixedIp ? Address(r.ipaddr) : std::string("assigned by the server")));
  out.Line("name servers: " + (fixedDns ? Joined(dns) : std::string("assigned by the server")));
  out.Line("script: " + FieldText(r.szScript));
  out.Line("options: " + Joined(options));
  return kExitOk;
}

}  // namespace quortool
