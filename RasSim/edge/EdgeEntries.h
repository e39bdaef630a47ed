// The implementations of the entry-property, country and device functions,
// one for the A and the W form: record checks, the alternates list after the
// entry record, buffer negotiation. Included by Edge.cpp alone, which makes
// the A and W forms of every RAS function in one place.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "RasSim/common/Tables.h"
#include "RasSim/edge/Backend.h"
#include "RasSim/edge/EdgeBuffers.h"
#include "RasSim/edge/EdgeRecords.h"
#include "RasSim/edge/Inspect.h"

namespace rassim::edge::impl {

// Alternate phone numbers follow the record as a list of texts ended by an empty one.
template <class Ch>
DWORD AlternatesSize(const std::vector<std::string>& alternates) {
  if (alternates.empty()) return 0;
  size_t units = 1;
  for (const std::string& a : alternates) units += Units<Ch>(a) + 1;
  return static_cast<DWORD>(units * sizeof(Ch));
}

// A value of the stored entry longer than its record field comes out cut; the
// record giving back exactly that cut form leaves the stored value as it is.
template <class Field>
void KeepUncut(const Field& /*field: its type and width*/, const std::string& stored, std::string& given) {
  Field cut;
  std::string cutText;
  if (!WriteField(cut, std::size(cut), stored) && ReadField(cut, std::size(cut), cutText) && cutText == given)
    given = stored;
}

template <class E>
void KeepUncutValues(const E& rec, const EntryProps& stored, EntryProps& p) {
  KeepUncut(rec.szAreaCode, stored.areaCode, p.areaCode);
  KeepUncut(rec.szLocalPhoneNumber, stored.phone, p.phone);
  KeepUncut(rec.szScript, stored.script, p.script);
  KeepUncut(rec.szAutodialDll, stored.autodialDll, p.autodialDll);
  KeepUncut(rec.szAutodialFunc, stored.autodialFunc, p.autodialFunc);
  KeepUncut(rec.szDeviceType, stored.deviceType, p.deviceType);
  KeepUncut(rec.szDeviceName, stored.deviceName, p.deviceName);
  KeepUncut(rec.szX25PadType, stored.x25PadType, p.x25PadType);
  KeepUncut(rec.szX25Address, stored.x25Address, p.x25Address);
  KeepUncut(rec.szX25Facilities, stored.x25Facilities, p.x25Facilities);
  KeepUncut(rec.szX25UserData, stored.x25UserData, p.x25UserData);
}

template <class Ch>
DWORD RasGetEntryProperties(const char* name, const Ch* pb, const Ch* entry, void* buf, DWORD* size, void* /*dev*/,
                            DWORD* devSize) {
  using E = typename Rec<Ch>::Entry;
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = !entry || Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!size) return ERROR_INVALID_PARAMETER;
  if (buf && SizeField(buf) != sizeof(E)) return ERROR_INVALID_SIZE;  // before the phonebook and the entry
  if (!pbOk) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  EntryProps props;
  if (DWORD r = Backend().GetEntryProperties(pbArg, e, props)) return r;
  DWORD need = static_cast<DWORD>(sizeof(E)) + AlternatesSize<Ch>(props.alternates);
  if (devSize) *devSize = 0;  // no device-specific configuration
  return Negotiate(buf, size, need, [&](char* out) {
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
    StoreRecord(out, rec);
    if (!props.alternates.empty()) {
      Ch* at = reinterpret_cast<Ch*>(out + sizeof(E));
      for (const std::string& a : props.alternates) {
        size_t n = Units<Ch>(a);
        WriteField(at, n + 1, a);
        at += n + 1;
      }
      *at = 0;
    }
  });
}

template <class Ch>
DWORD RasSetEntryProperties(const char* name, const Ch* pb, const Ch* entry, void* buf, DWORD size, void* /*dev*/,
                            DWORD /*devSize*/) {
  using E = typename Rec<Ch>::Entry;
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!entry || !buf) return ERROR_INVALID_PARAMETER;
  // The record's size before the phonebook and the entry name.
  if (size < sizeof(DWORD) || SizeField(buf) != sizeof(E) || size < sizeof(E)) return ERROR_INVALID_SIZE;
  if (!pbOk) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_INVALID_NAME;
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
  // Only what the record changes changes: a value too long for its field stays.
  EntryProps stored;
  if (!e.empty() && Backend().GetEntryProperties(pbArg, e, stored) == 0) KeepUncutValues(rec, stored, p);
  return Backend().SetEntryProperties(pbArg, e, p);
}

template <class Ch>
DWORD RasGetCountryInfo(const char* name, void* buf, DWORD* size) {
  inspect::Record(name, nullptr);
  if (!buf || !size) return ERROR_INVALID_PARAMETER;
  if (SizeField(buf) != sizeof(TRasCtryInfo)) return ERROR_INVALID_SIZE;
  // Too short for the record itself, which names the country asked for: the
  // size the longest name needs.
  if (*size < sizeof(TRasCtryInfo)) {
    size_t longest = 0;
    for (const Country& c : Countries()) longest = std::max(longest, Units<Ch>(c.name));
    *size = static_cast<DWORD>(sizeof(TRasCtryInfo) + (longest + 1) * sizeof(Ch));
    return ERROR_BUFFER_TOO_SMALL;
  }
  TRasCtryInfo info;
  std::memcpy(&info, buf, sizeof info);
  const auto& all = Countries();
  size_t index = all.size();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].id == info.dwCountryID) index = i;
  if (index == all.size()) return ERROR_INVALID_PARAMETER;
  const Country& c = all[index];
  size_t units = Units<Ch>(c.name) + 1;
  const DWORD need = static_cast<DWORD>(sizeof(TRasCtryInfo) + units * sizeof(Ch));
  return Negotiate(buf, size, need, [&](char* out) {
    info.dwNextCountryID = index + 1 < all.size() ? all[index + 1].id : 0;
    info.dwCountryCode = c.code;
    info.dwCountryNameOffset = sizeof(TRasCtryInfo);
    StoreRecord(out, info);
    std::basic_string<Ch> nameBuf(units, Ch(0));
    WriteField(nameBuf.data(), units, c.name);
    std::memcpy(out + sizeof(TRasCtryInfo), nameBuf.data(), units * sizeof(Ch));
  });
}

template <class Ch>
DWORD RasEnumDevices(const char* name, void* buf, DWORD* lpcb, DWORD* count) {
  using D = typename Rec<Ch>::Dev;
  inspect::Record(name, nullptr);
  if (!lpcb || !count) return ERROR_INVALID_PARAMETER;
  if (buf && SizeField(buf) != sizeof(D)) return ERROR_INVALID_SIZE;
  std::vector<DeviceInfo> devs;
  if (DWORD e = Backend().EnumDevices(devs)) return e;
  return NegotiateRecords(buf, lpcb, count, devs.size(), sizeof(D), [&](size_t i, char* out) {
    D rec;
    std::memset(&rec, 0, sizeof rec);
    rec.dwSize = sizeof(D);
    Put(rec.szDeviceType, devs[i].type);
    Put(rec.szDeviceName, devs[i].name);
    StoreRecord(out, rec);
  });
}

}  // namespace rassim::edge::impl
