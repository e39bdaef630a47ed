#include "RasSim/Edge.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "RasSim/Backend.h"
#include "RasSim/Dialogs.h"
#include "RasSim/Inspect.h"
#include "RasSim/RasSimControl.h"
#include "RasSim/Tables.h"
#include "RasSim/Text.h"
#include "RasSim/backends/sim/SimBackend.h"

namespace rassim::edge {

namespace {

// The W forms of the records, picked by character type.
template <class Ch>
struct Rec;
template <>
struct Rec<char> {
  using Conn = TRasConnA;
  using Status = TRasConnStatusA;
  using Params = TRasDialParamsA;
  using Name = TRasEntryNameA;
  using Entry = TRasEntryA;
  using Dev = TRasDevInfoA;
  using Ip = TRasPppIpA;
};
template <>
struct Rec<WCHAR> {
  using Conn = TRasConnW;
  using Status = TRasConnStatusW;
  using Params = TRasDialParamsW;
  using Name = TRasEntryNameW;
  using Entry = TRasEntryW;
  using Dev = TRasDevInfoW;
  using Ip = TRasPppIpW;
};

template <class Field>
bool Get(const Field& f, std::string& out) {
  return ReadField(f, std::size(f), out);
}
template <class Field>
void Put(Field& f, const std::string& text) {
  WriteField(f, std::size(f), text);
}

// A text argument: null stays null; false when a wide text is not valid UTF-16.
template <class Ch>
bool Arg(const Ch* s, PbArg& pb) {
  pb.isNull = s == nullptr;
  pb.text.clear();
  return !s || ReadArg(s, pb.text);
}
template <class Ch>
bool Text(const Ch* s, std::string& out) {
  out.clear();
  return s && ReadArg(s, out);
}

// dwSize of a caller's record, read without assuming alignment.
DWORD SizeField(const void* rec) {
  DWORD v;
  std::memcpy(&v, rec, sizeof v);
  return v;
}

template <class P>
bool ReadParams(const P& p, DialParams& d) {
  return Get(p.szEntryName, d.entry) && Get(p.szPhoneNumber, d.phone) && Get(p.szCallbackNumber, d.callback) &&
         Get(p.szUserName, d.user) && Get(p.szPassword, d.password) && Get(p.szDomain, d.domain);
}

template <class Ch>
size_t Units(const std::string& s) {
  if constexpr (sizeof(Ch) == 1)
    return s.size();
  else
    return Utf16Length(s);
}

// RasDial's notifier: a window handle (32-bit, carried in a DWORD) or 0 for a synchronous dial.
// On Windows HWND is a pointer type.
template <class H>
H WindowFrom(DWORD v) {
  if constexpr (std::is_pointer_v<H>)
    return reinterpret_cast<H>(static_cast<uintptr_t>(v));
  else
    return static_cast<H>(v);
}

DialNotifier NotifierOf(DWORD notifier) {
  DialNotifier to;
  to.wnd = WindowFrom<HWND>(notifier);
  UINT msg = RegisterWindowMessageA(RASDIALEVENT);
  to.msg = msg ? msg : WM_RASDIALEVENT;
  return to;
}

// ---------------------------------------------------------------- templates

template <class Ch>
DWORD DialT(const char* name, TRasDialExtensions* ext, const Ch* pb, typename Rec<Ch>::Params* params, DWORD type,
            DWORD notifier, LPHRasConn lph) {
  using P = typename Rec<Ch>::Params;
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  DialParams dp;
  bool paramsOk = params && params->dwSize == sizeof(P) && ReadParams(*params, dp);
  inspect::RecordDial(name, pbArg, dp, type, notifier, ext != nullptr);
  if (!params || !lph) return ERROR_INVALID_PARAMETER;
  if (params->dwSize != sizeof(P)) return ERROR_INVALID_SIZE;
  if (ext && ext->dwSize != sizeof(TRasDialExtensions)) return ERROR_INVALID_SIZE;
  if (!pbOk || !paramsOk) return ERROR_INVALID_PARAMETER;
  if (*lph != 0) return ERROR_INVALID_PARAMETER;                             // no paused dial to resume
  if (notifier != 0 && type != 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;  // callbacks: see README
  DialRequest request;
  request.ext = ext;
  request.phonebook = std::move(pbArg);
  request.params = std::move(dp);
  request.notifier = NotifierOf(notifier);
  return Backend().Dial(request, lph);
}

template <class Ch>
DWORD EnumConnectionsT(const char* name, void* buf, DWORD* lpcb, DWORD* count) {
  using C = typename Rec<Ch>::Conn;
  inspect::Record(name, nullptr);
  if (!lpcb || !count) return ERROR_INVALID_PARAMETER;
  if (buf && *lpcb >= sizeof(DWORD) && SizeField(buf) != sizeof(C)) return ERROR_INVALID_SIZE;
  std::vector<ConnInfo> conns;
  if (DWORD e = Backend().EnumConnections(conns)) return e;
  DWORD need = static_cast<DWORD>(conns.size() * sizeof(C));
  DWORD have = buf ? *lpcb : 0;
  if (need > have) {
    *lpcb = need;
    *count = static_cast<DWORD>(conns.size());
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < conns.size(); ++i) {
    C rec;
    std::memset(&rec, 0, sizeof rec);
    rec.dwSize = sizeof(C);
    rec.hrasconn = conns[i].handle;
    Put(rec.szEntryName, conns[i].entry);
    Put(rec.szDeviceType, conns[i].deviceType);
    Put(rec.szDeviceName, conns[i].deviceName);
    std::memcpy(static_cast<char*>(buf) + i * sizeof(C), &rec, sizeof rec);
  }
  *lpcb = need;
  *count = static_cast<DWORD>(conns.size());
  return 0;
}

template <class Ch>
DWORD EnumEntriesT(const char* name, const Ch* reserved, const Ch* pb, void* buf, DWORD* lpcb, DWORD* count) {
  using N = typename Rec<Ch>::Name;
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  inspect::Record(name, &pbArg);
  if (reserved || !lpcb || !count || !pbOk) return ERROR_INVALID_PARAMETER;
  if (buf && *lpcb >= sizeof(DWORD) && SizeField(buf) != sizeof(N)) return ERROR_INVALID_SIZE;
  std::vector<std::string> names;
  if (DWORD e = Backend().EnumEntries(pbArg, names)) return e;
  DWORD need = static_cast<DWORD>(names.size() * sizeof(N));
  DWORD have = buf ? *lpcb : 0;
  if (need > have) {
    *lpcb = need;
    *count = static_cast<DWORD>(names.size());
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    N rec;
    std::memset(&rec, 0, sizeof rec);
    rec.dwSize = sizeof(N);
    Put(rec.szEntryName, names[i]);
    std::memcpy(static_cast<char*>(buf) + i * sizeof(N), &rec, sizeof rec);
  }
  *lpcb = need;
  *count = static_cast<DWORD>(names.size());
  return 0;
}

template <class Ch>
DWORD GetConnectStatusT(const char* name, DWORD h, void* p) {
  using S = typename Rec<Ch>::Status;
  inspect::Record(name, nullptr);
  auto* st = static_cast<S*>(p);
  if (!st) return ERROR_INVALID_PARAMETER;
  if (st->dwSize != sizeof(S)) return ERROR_INVALID_SIZE;
  ConnStatus cs;
  if (DWORD e = Backend().GetConnectStatus(h, cs)) return e;  // the record stays as it was
  st->rasconnstate = cs.state;
  st->dwError = cs.error;
  Put(st->szDeviceType, cs.deviceType);
  Put(st->szDeviceName, cs.deviceName);
  return 0;
}

template <class Ch>
DWORD GetEntryDialParamsT(const char* name, const Ch* pb, void* p, BOOL* password) {
  using P = typename Rec<Ch>::Params;
  auto* params = static_cast<P*>(p);
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string entry;
  bool entryOk = params && params->dwSize == sizeof(P) && Get(params->szEntryName, entry);
  inspect::Record(name, &pbArg, entry);
  if (!params || !password || !pbOk) return ERROR_INVALID_PARAMETER;
  if (params->dwSize != sizeof(P)) return ERROR_INVALID_SIZE;
  if (!entryOk) return ERROR_INVALID_PARAMETER;
  DialParams d;
  bool returned = false;
  if (DWORD e = Backend().GetEntryDialParams(pbArg, entry, d, returned)) return e;
  Put(params->szPhoneNumber, d.phone);
  Put(params->szCallbackNumber, d.callback);
  Put(params->szUserName, d.user);
  Put(params->szPassword, returned ? d.password : std::string());
  Put(params->szDomain, d.domain);
  *password = returned ? TRUE : FALSE;
  return 0;
}

template <class Ch>
DWORD SetEntryDialParamsT(const char* name, const Ch* pb, void* p, BOOL removePassword) {
  using P = typename Rec<Ch>::Params;
  auto* params = static_cast<P*>(p);
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  DialParams d;
  bool ok = params && params->dwSize == sizeof(P) && ReadParams(*params, d);
  inspect::Record(name, &pbArg, d.entry);
  if (!params || !pbOk) return ERROR_INVALID_PARAMETER;
  if (params->dwSize != sizeof(P)) return ERROR_INVALID_SIZE;
  if (!ok) return ERROR_INVALID_PARAMETER;
  return Backend().SetEntryDialParams(pbArg, d, removePassword != FALSE);
}

template <class Ch>
DWORD GetErrorStringT(const char* name, UINT error, Ch* buf, DWORD size) {
  inspect::Record(name, nullptr);
  const char* text = ErrorText(error);
  if (!text || !buf) return ERROR_INVALID_PARAMETER;
  std::string t(text);
  if (size < Units<Ch>(t) + 1) return ERROR_INVALID_PARAMETER;  // the buffer stays untouched
  WriteField(buf, size, t);
  return 0;
}

template <class Ch>
DWORD GetProjectionInfoT(const char* name, DWORD h, DWORD projection, void* buf, DWORD* lpcb) {
  using I = typename Rec<Ch>::Ip;
  inspect::Record(name, nullptr);
  if (!lpcb) return ERROR_INVALID_PARAMETER;
  if (projection != RASP_PppIp && projection != RASP_Amb && projection != RASP_PppNbf && projection != RASP_PppIpx)
    return ERROR_INVALID_PARAMETER;
  std::string ip, server;
  if (DWORD e = Backend().GetProjection(h, ip, server)) return e;
  if (projection != RASP_PppIp) return ERROR_PROTOCOL_NOT_CONFIGURED;  // only IP is projected
  if (buf && *lpcb >= sizeof(DWORD) && SizeField(buf) != sizeof(I)) return ERROR_INVALID_SIZE;
  if (!buf || *lpcb < sizeof(I)) {
    *lpcb = sizeof(I);
    return ERROR_BUFFER_TOO_SMALL;
  }
  I rec;
  std::memset(&rec, 0, sizeof rec);
  rec.dwSize = sizeof(I);
  rec.dwError = 0;
  Put(rec.szIpAddress, ip);
  Put(rec.szServerIpAddress, server);
  std::memcpy(buf, &rec, sizeof rec);
  *lpcb = sizeof(I);
  return 0;
}

template <class Ch>
DWORD ValidateT(const char* name, const Ch* pb, const Ch* entry) {
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!pbOk || !entry) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_INVALID_NAME;
  return Backend().ValidateEntryName(pbArg, e);
}

template <class Ch>
DWORD RenameT(const char* name, const Ch* pb, const Ch* oldName, const Ch* newName) {
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string o, n;
  bool oOk = Text(oldName, o), nOk = Text(newName, n);
  inspect::Record(name, &pbArg, o, n);
  if (!pbOk || !oldName || !newName) return ERROR_INVALID_PARAMETER;
  if (!oOk) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  if (!nOk) return ERROR_INVALID_NAME;
  return Backend().RenameEntry(pbArg, o, n);
}

template <class Ch>
DWORD DeleteT(const char* name, const Ch* pb, const Ch* entry) {
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!pbOk || !entry) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  return Backend().DeleteEntry(pbArg, e);
}

template <class Ch>
DWORD CreateT(const char* name, HWND hwnd, const Ch* pb) {
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  inspect::Record(name, &pbArg);
  if (!pbOk) return ERROR_INVALID_PARAMETER;
  return Backend().CreatePhonebookEntry(hwnd, pbArg);
}

template <class Ch>
DWORD EditT(const char* name, HWND hwnd, const Ch* pb, const Ch* entry) {
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!pbOk || !entry) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  return Backend().EditPhonebookEntry(hwnd, pbArg, e);
}

// Alternate phone numbers follow the record as a list of texts ended by an empty one.
template <class Ch>
DWORD AlternatesSize(const std::vector<std::string>& alternates) {
  if (alternates.empty()) return 0;
  size_t units = 1;
  for (const std::string& a : alternates) units += Units<Ch>(a) + 1;
  return static_cast<DWORD>(units * sizeof(Ch));
}

template <class Ch>
DWORD GetEntryPropertiesT(const char* name, const Ch* pb, const Ch* entry, void* buf, DWORD* size, void* /*dev*/,
                          DWORD* devSize) {
  using E = typename Rec<Ch>::Entry;
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = !entry || Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!size || !pbOk) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  if (buf && *size >= sizeof(DWORD) && SizeField(buf) != sizeof(E)) return ERROR_INVALID_SIZE;
  EntryProps props;
  if (DWORD r = Backend().GetEntryProperties(pbArg, e, props)) return r;
  DWORD need = static_cast<DWORD>(sizeof(E)) + AlternatesSize<Ch>(props.alternates);
  if (devSize) *devSize = 0;  // no device-specific configuration
  if (!buf || *size < need) {
    *size = need;
    return ERROR_BUFFER_TOO_SMALL;
  }
  E rec;
  std::memset(&rec, 0, sizeof rec);
  rec.dwSize = sizeof(E);
  rec.dwfOptions = props.options;
  rec.dwCountryID = props.countryId;
  rec.dwCountryCode = props.countryCode;
  Put(rec.szAreaCode, props.areaCode);
  Put(rec.szLocalPhoneNumber, props.phone);
  rec.dwAlternatesOffset = props.alternates.empty() ? 0 : static_cast<DWORD>(sizeof(E));
  TRasIPAddr* ips[5] = {&rec.ipaddr, &rec.ipaddrDns, &rec.ipaddrDnsAlt, &rec.ipaddrWins, &rec.ipaddrWinsAlt};
  for (int i = 0; i < 5; ++i) {
    ips[i]->a = props.ip[i][0];
    ips[i]->b = props.ip[i][1];
    ips[i]->c = props.ip[i][2];
    ips[i]->d = props.ip[i][3];
  }
  rec.dwFrameSize = props.frameSize;
  rec.dwfNetProtocols = props.netProtocols;
  rec.dwFramingProtocol = props.framing;
  Put(rec.szScript, props.script);
  Put(rec.szAutodialDll, props.autodialDll);
  Put(rec.szAutodialFunc, props.autodialFunc);
  Put(rec.szDeviceType, props.deviceType);
  Put(rec.szDeviceName, props.deviceName);
  Put(rec.szX25PadType, props.x25PadType);
  Put(rec.szX25Address, props.x25Address);
  Put(rec.szX25Facilities, props.x25Facilities);
  Put(rec.szX25UserData, props.x25UserData);
  rec.dwChannels = props.channels;
  std::memcpy(buf, &rec, sizeof rec);
  if (!props.alternates.empty()) {
    Ch* out = reinterpret_cast<Ch*>(static_cast<char*>(buf) + sizeof(E));
    for (const std::string& a : props.alternates) {
      size_t n = Units<Ch>(a);
      WriteField(out, n + 1, a);
      out += n + 1;
    }
    *out = 0;
  }
  *size = need;
  return 0;
}

template <class Ch>
DWORD SetEntryPropertiesT(const char* name, const Ch* pb, const Ch* entry, void* buf, DWORD size, void* /*dev*/,
                          DWORD /*devSize*/) {
  using E = typename Rec<Ch>::Entry;
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!pbOk || !entry || !buf) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_INVALID_NAME;
  if (size < sizeof(DWORD) || SizeField(buf) != sizeof(E) || size < sizeof(E)) return ERROR_INVALID_SIZE;
  E rec;
  std::memcpy(&rec, buf, sizeof rec);
  EntryProps p;
  p.options = rec.dwfOptions;
  p.countryId = rec.dwCountryID;
  p.countryCode = rec.dwCountryCode;
  const TRasIPAddr* ips[5] = {&rec.ipaddr, &rec.ipaddrDns, &rec.ipaddrDnsAlt, &rec.ipaddrWins, &rec.ipaddrWinsAlt};
  for (int i = 0; i < 5; ++i) {
    p.ip[i][0] = ips[i]->a;
    p.ip[i][1] = ips[i]->b;
    p.ip[i][2] = ips[i]->c;
    p.ip[i][3] = ips[i]->d;
  }
  p.frameSize = rec.dwFrameSize;
  p.netProtocols = rec.dwfNetProtocols;
  p.framing = rec.dwFramingProtocol;
  p.channels = rec.dwChannels;
  bool ok = Get(rec.szAreaCode, p.areaCode) && Get(rec.szLocalPhoneNumber, p.phone) && Get(rec.szScript, p.script) &&
            Get(rec.szAutodialDll, p.autodialDll) && Get(rec.szAutodialFunc, p.autodialFunc) &&
            Get(rec.szDeviceType, p.deviceType) && Get(rec.szDeviceName, p.deviceName) &&
            Get(rec.szX25PadType, p.x25PadType) && Get(rec.szX25Address, p.x25Address) &&
            Get(rec.szX25Facilities, p.x25Facilities) && Get(rec.szX25UserData, p.x25UserData);
  if (!ok) return ERROR_INVALID_PARAMETER;
  if (rec.dwAlternatesOffset) {
    // The list must lie inside the buffer, on a character boundary, and end inside it.
    DWORD off = rec.dwAlternatesOffset;
    if (off < sizeof(E) || off >= size || off % sizeof(Ch)) return ERROR_INVALID_PARAMETER;
    const char* base = static_cast<const char*>(buf);
    size_t units = (size - off) / sizeof(Ch);
    size_t i = 0;
    bool ended = false;
    while (i < units) {
      std::basic_string<Ch> item;
      while (i < units) {
        Ch c;
        std::memcpy(&c, base + off + i * sizeof(Ch), sizeof c);
        ++i;
        if (c == 0) break;
        item.push_back(c);
      }
      if (item.empty()) {
        ended = true;
        break;
      }
      std::string text;
      if (!ReadArg(item.c_str(), text)) return ERROR_INVALID_PARAMETER;
      p.alternates.push_back(text);
    }
    if (!ended) return ERROR_INVALID_PARAMETER;
  }
  return Backend().SetEntryProperties(pbArg, e, p);
}

template <class Ch>
DWORD GetCountryInfoT(const char* name, void* buf, DWORD* size) {
  inspect::Record(name, nullptr);
  if (!buf || !size) return ERROR_INVALID_PARAMETER;
  if (*size < sizeof(TRasCtryInfo)) {
    size_t longest = 0;
    for (const Country& c : Countries()) longest = std::max(longest, Units<Ch>(c.name));
    *size = static_cast<DWORD>(sizeof(TRasCtryInfo) + (longest + 1) * sizeof(Ch));
    return ERROR_BUFFER_TOO_SMALL;
  }
  TRasCtryInfo info;
  std::memcpy(&info, buf, sizeof info);
  if (info.dwSize != sizeof(TRasCtryInfo)) return ERROR_INVALID_SIZE;
  const auto& all = Countries();
  size_t index = all.size();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].id == info.dwCountryID) index = i;
  if (index == all.size()) return ERROR_INVALID_PARAMETER;
  const Country& c = all[index];
  size_t units = Units<Ch>(c.name) + 1;
  DWORD need = static_cast<DWORD>(sizeof(TRasCtryInfo) + units * sizeof(Ch));
  if (*size < need) {
    *size = need;
    return ERROR_BUFFER_TOO_SMALL;
  }
  info.dwNextCountryID = index + 1 < all.size() ? all[index + 1].id : 0;
  info.dwCountryCode = c.code;
  info.dwCountryNameOffset = sizeof(TRasCtryInfo);
  std::memcpy(buf, &info, sizeof info);
  std::basic_string<Ch> nameBuf(units, Ch(0));
  WriteField(nameBuf.data(), units, c.name);
  std::memcpy(static_cast<char*>(buf) + sizeof(TRasCtryInfo), nameBuf.data(), units * sizeof(Ch));
  *size = need;
  return 0;
}

template <class Ch>
DWORD EnumDevicesT(const char* name, void* buf, DWORD* lpcb, DWORD* count) {
  using D = typename Rec<Ch>::Dev;
  inspect::Record(name, nullptr);
  if (!lpcb || !count) return ERROR_INVALID_PARAMETER;
  if (buf && *lpcb >= sizeof(DWORD) && SizeField(buf) != sizeof(D)) return ERROR_INVALID_SIZE;
  std::vector<DeviceInfo> devs;
  if (DWORD e = Backend().EnumDevices(devs)) return e;
  DWORD need = static_cast<DWORD>(devs.size() * sizeof(D));
  if (!buf || *lpcb < need) {
    *lpcb = need;
    *count = static_cast<DWORD>(devs.size());
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < devs.size(); ++i) {
    D rec;
    std::memset(&rec, 0, sizeof rec);
    rec.dwSize = sizeof(D);
    Put(rec.szDeviceType, devs[i].type);
    Put(rec.szDeviceName, devs[i].name);
    std::memcpy(static_cast<char*>(buf) + i * sizeof(D), &rec, sizeof rec);
  }
  *lpcb = need;
  *count = static_cast<DWORD>(devs.size());
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- the A and W forms

DWORD RasCreatePhonebookEntryA(const char* n, HWND w, LPCSTR pb) {
  return CreateT<char>(n, w, pb);
}
DWORD RasCreatePhonebookEntryW(const char* n, HWND w, LPCWSTR pb) {
  return CreateT<WCHAR>(n, w, pb);
}
DWORD RasDialA(const char* n, LPRasDialExtensions x, LPCSTR pb, LPRasDialParamsA p, DWORD t, DWORD nf, LPHRasConn h) {
  return DialT<char>(n, x, pb, p, t, nf, h);
}
DWORD RasDialW(const char* n, LPRasDialExtensions x, LPCWSTR pb, LPRasDialParamsW p, DWORD t, DWORD nf, LPHRasConn h) {
  return DialT<WCHAR>(n, x, pb, p, t, nf, h);
}
DWORD RasEditPhonebookEntryA(const char* n, HWND w, LPCSTR pb, LPCSTR e) {
  return EditT<char>(n, w, pb, e);
}
DWORD RasEditPhonebookEntryW(const char* n, HWND w, LPCWSTR pb, LPCWSTR e) {
  return EditT<WCHAR>(n, w, pb, e);
}
DWORD RasEnumConnectionsA(const char* n, LPRasConnA c, LPDWORD cb, LPDWORD k) {
  return EnumConnectionsT<char>(n, c, cb, k);
}
DWORD RasEnumConnectionsW(const char* n, LPRasConnW c, LPDWORD cb, LPDWORD k) {
  return EnumConnectionsT<WCHAR>(n, c, cb, k);
}
DWORD RasEnumEntriesA(const char* n, LPCSTR r, LPCSTR pb, LPRasEntryNameA b, DWORD* cb, DWORD* k) {
  return EnumEntriesT<char>(n, r, pb, b, cb, k);
}
DWORD RasEnumEntriesW(const char* n, LPCWSTR r, LPCWSTR pb, LPRasEntryNameW b, DWORD* cb, DWORD* k) {
  return EnumEntriesT<WCHAR>(n, r, pb, b, cb, k);
}
DWORD RasGetConnectStatusA(const char* n, THRasConn h, LPRasConnStatusA s) {
  return GetConnectStatusT<char>(n, h, s);
}
DWORD RasGetConnectStatusW(const char* n, THRasConn h, LPRasConnStatusW s) {
  return GetConnectStatusT<WCHAR>(n, h, s);
}
DWORD RasGetEntryDialParamsA(const char* n, LPCSTR pb, LPRasDialParamsA p, BOOL* pw) {
  return GetEntryDialParamsT<char>(n, pb, p, pw);
}
DWORD RasGetEntryDialParamsW(const char* n, LPCWSTR pb, LPRasDialParamsW p, BOOL* pw) {
  return GetEntryDialParamsT<WCHAR>(n, pb, p, pw);
}
DWORD RasGetErrorStringA(const char* n, UINT e, LPSTR b, DWORD s) {
  return GetErrorStringT<char>(n, e, b, s);
}
DWORD RasGetErrorStringW(const char* n, UINT e, LPWSTR b, DWORD s) {
  return GetErrorStringT<WCHAR>(n, e, b, s);
}
DWORD RasGetProjectionInfoA(const char* n, THRasConn h, TRasProjection p, LPVOID b, LPDWORD cb) {
  return GetProjectionInfoT<char>(n, h, p, b, cb);
}
DWORD RasGetProjectionInfoW(const char* n, THRasConn h, TRasProjection p, LPVOID b, LPDWORD cb) {
  return GetProjectionInfoT<WCHAR>(n, h, p, b, cb);
}
DWORD RasHangUpA(const char* n, THRasConn h) {
  inspect::Record(n, nullptr);
  return Backend().HangUp(h);
}
DWORD RasHangUpW(const char* n, THRasConn h) {
  return RasHangUpA(n, h);
}
DWORD RasSetEntryDialParamsA(const char* n, LPCSTR pb, LPRasDialParamsA p, BOOL r) {
  return SetEntryDialParamsT<char>(n, pb, p, r);
}
DWORD RasSetEntryDialParamsW(const char* n, LPCWSTR pb, LPRasDialParamsW p, BOOL r) {
  return SetEntryDialParamsT<WCHAR>(n, pb, p, r);
}
DWORD RasValidateEntryNameA(const char* n, LPCSTR pb, LPCSTR e) {
  return ValidateT<char>(n, pb, e);
}
DWORD RasValidateEntryNameW(const char* n, LPCWSTR pb, LPCWSTR e) {
  return ValidateT<WCHAR>(n, pb, e);
}
DWORD RasRenameEntryA(const char* n, LPCSTR pb, LPCSTR o, LPCSTR nw) {
  return RenameT<char>(n, pb, o, nw);
}
DWORD RasRenameEntryW(const char* n, LPCWSTR pb, LPCWSTR o, LPCWSTR nw) {
  return RenameT<WCHAR>(n, pb, o, nw);
}
DWORD RasDeleteEntryA(const char* n, LPCSTR pb, LPCSTR e) {
  return DeleteT<char>(n, pb, e);
}
DWORD RasDeleteEntryW(const char* n, LPCWSTR pb, LPCWSTR e) {
  return DeleteT<WCHAR>(n, pb, e);
}
DWORD RasGetEntryPropertiesA(const char* n, LPCSTR pb, LPCSTR e, LPVOID b, LPDWORD s, LPVOID d, LPDWORD ds) {
  return GetEntryPropertiesT<char>(n, pb, e, b, s, d, ds);
}
DWORD RasGetEntryPropertiesW(const char* n, LPCWSTR pb, LPCWSTR e, LPVOID b, LPDWORD s, LPVOID d, LPDWORD ds) {
  return GetEntryPropertiesT<WCHAR>(n, pb, e, b, s, d, ds);
}
DWORD RasSetEntryPropertiesA(const char* n, LPCSTR pb, LPCSTR e, LPVOID b, DWORD s, LPVOID d, DWORD ds) {
  return SetEntryPropertiesT<char>(n, pb, e, b, s, d, ds);
}
DWORD RasSetEntryPropertiesW(const char* n, LPCWSTR pb, LPCWSTR e, LPVOID b, DWORD s, LPVOID d, DWORD ds) {
  return SetEntryPropertiesT<WCHAR>(n, pb, e, b, s, d, ds);
}
DWORD RasGetCountryInfoA(const char* n, LPRasCtryInfo i, LPDWORD s) {
  return GetCountryInfoT<char>(n, i, s);
}
DWORD RasGetCountryInfoW(const char* n, LPRasCtryInfo i, LPDWORD s) {
  return GetCountryInfoT<WCHAR>(n, i, s);
}
DWORD RasEnumDevicesA(const char* n, LPRasDevInfoA d, LPDWORD cb, LPDWORD k) {
  return EnumDevicesT<char>(n, d, cb, k);
}
DWORD RasEnumDevicesW(const char* n, LPRasDevInfoW d, LPDWORD cb, LPDWORD k) {
  return EnumDevicesT<WCHAR>(n, d, cb, k);
}

// ---------------------------------------------------------------- control

DWORD CtlReset() {
  Reset();
  return 0;
}

DWORD CtlCallCount(LPCSTR exportName) {
  if (!exportName) return 0;
  inspect::CallRecord r;
  inspect::Lookup(exportName, r);
  return r.count;
}

DWORD CtlLastCall(LPCSTR exportName, void* p) {
  auto* info = static_cast<QuorRasSimCallInfo*>(p);
  if (!exportName || !info) return ERROR_INVALID_PARAMETER;
  if (info->dwSize != sizeof(QuorRasSimCallInfo)) return ERROR_INVALID_SIZE;
  inspect::CallRecord r;
  if (!inspect::Lookup(exportName, r)) return ERROR_FILE_NOT_FOUND;
  info->dwCount = r.count;
  info->dwPhonebookKind = static_cast<DWORD>(r.kind);
  Put(info->szPhonebook, r.phonebook);
  Put(info->szName, r.name);
  Put(info->szName2, r.name2);
  info->dwNotifierType = r.notifierType;
  info->dwNotifier = r.notifier;
  info->fExtensions = r.extensions ? 1 : 0;
  return 0;
}

DWORD CtlLastDialParams(void* p) {
  auto* params = static_cast<TRasDialParamsA*>(p);
  if (!params) return ERROR_INVALID_PARAMETER;
  if (params->dwSize != sizeof(TRasDialParamsA)) return ERROR_INVALID_SIZE;
  DialParams d;
  if (!inspect::LastDialParams(d)) return ERROR_FILE_NOT_FOUND;
  Put(params->szEntryName, d.entry);
  Put(params->szPhoneNumber, d.phone);
  Put(params->szCallbackNumber, d.callback);
  Put(params->szUserName, d.user);
  Put(params->szPassword, d.password);
  Put(params->szDomain, d.domain);
  return 0;
}

DWORD CtlDropConnection(DWORD h) {
  return DropConnection(h);
}

void CtlShutdown() {
  CloseBackend();
  // The control interface drives the simulation whichever backend runs the calls.
  CloseSim();
}

DWORD CtlQueueFailure(LPCSTR entry, DWORD state, DWORD error) {
  if (!entry || error == 0) return ERROR_INVALID_PARAMETER;
  QueueFailure(entry, state, error);
  return 0;
}

DWORD CtlSetDialogAnswers(LPCSTR answers) {
  return dialogs::SetScript(answers) ? 0 : ERROR_INVALID_PARAMETER;
}

DWORD CtlSetStepDelay(DWORD state, DWORD ms) {
  SetStepDelay(state, ms);
  return 0;
}

DWORD CtlGetConnectionWindow(DWORD h, HWND* wnd) {
  if (!wnd) return ERROR_INVALID_PARAMETER;
  HWND w = 0;
  if (DWORD e = ConnectionWindow(h, w)) return e;
  *wnd = w;
  return 0;
}

}  // namespace rassim::edge
