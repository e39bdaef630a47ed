#include "RasSim/edge/Edge.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "RasSim/common/Dialogs.h"
#include "RasSim/common/Tables.h"
#include "RasSim/common/Text.h"
#include "RasSim/edge/Backend.h"
#include "RasSim/edge/EdgeRecords.h"
#include "RasSim/edge/Inspect.h"

namespace rassim::edge {

namespace {

// RasDial's notifier: a window handle (pointer-wide) or 0 for a synchronous dial.
// On Windows HWND is a pointer type; the Linux subset's windows are 32-bit numbers, and a value
// wider than that names no window (it becomes one no window has, so the events go nowhere, as
// they would to a window that is gone) rather than being cut to some other window's number.
template <class H>
H WindowFrom(UINT_PTR v) {
  if constexpr (std::is_pointer_v<H>)
    return reinterpret_cast<H>(v);
  else
    return static_cast<UINT_PTR>(static_cast<H>(v)) == v ? static_cast<H>(v) : static_cast<H>(~H(0));
}

DialNotifier NotifierOf(UINT_PTR notifier) {
  DialNotifier to;
  to.wnd = WindowFrom<HWND>(notifier);
  UINT msg = RegisterWindowMessageA(RASDIALEVENT);
  to.msg = msg ? msg : WM_RASDIALEVENT;
  return to;
}

// ---------------------------------------------------------------- templates

template <class Ch>
DWORD DialT(const char* name, TRasDialExtensions* ext, const Ch* pb, typename Rec<Ch>::Params* params, DWORD type,
            UINT_PTR notifier, LPHRasConn lph) {
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

// Fills one connection record; the larger record also names the phonebook.
template <class C>
void PutConn(C& rec, const ConnInfo& c) {
  std::memset(&rec, 0, sizeof rec);
  rec.dwSize = sizeof(C);
  rec.hrasconn = c.handle;
  Put(rec.szEntryName, c.entry);
  Put(rec.szDeviceType, c.deviceType);
  Put(rec.szDeviceName, c.deviceName);
  if constexpr (std::is_same_v<C, TRasConnPbA> || std::is_same_v<C, TRasConnPbW>) {
    Put(rec.szPhonebook, c.phonebook);
    rec.dwSubEntry = 1;
  }
}

template <class C>
void PutConns(void* buf, const std::vector<ConnInfo>& conns) {
  for (size_t i = 0; i < conns.size(); ++i) {
    C rec;
    PutConn(rec, conns[i]);
    std::memcpy(static_cast<char*>(buf) + i * sizeof(C), &rec, sizeof rec);
  }
}

template <class Ch>
DWORD EnumConnectionsT(const char* name, void* buf, DWORD* lpcb, DWORD* count) {
  using C = typename Rec<Ch>::Conn;
  using CP = typename Rec<Ch>::ConnPb;
  inspect::Record(name, nullptr);
  if (!lpcb || !count) return ERROR_INVALID_PARAMETER;
  const DWORD size = buf ? SizeField(buf) : static_cast<DWORD>(sizeof(C));
  if (size != sizeof(C) && size != sizeof(CP)) return ERROR_INVALID_SIZE;
  std::vector<ConnInfo> conns;
  if (DWORD e = Backend().EnumConnections(conns)) return e;
  DWORD need = static_cast<DWORD>(conns.size() * size);
  DWORD have = buf ? *lpcb : 0;
  if (need > have) {
    *lpcb = need;
    *count = static_cast<DWORD>(conns.size());
    return ERROR_BUFFER_TOO_SMALL;
  }
  if (size == sizeof(CP)) {
    PutConns<CP>(buf, conns);
  } else {
    PutConns<C>(buf, conns);
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
  if (reserved || !lpcb || !count) return ERROR_INVALID_PARAMETER;
  if (buf && SizeField(buf) != sizeof(N)) return ERROR_INVALID_SIZE;  // before the phonebook path
  if (!pbOk) return ERROR_INVALID_PARAMETER;
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
  if (!params || !password) return ERROR_INVALID_PARAMETER;
  if (params->dwSize != sizeof(P)) return ERROR_INVALID_SIZE;  // before the phonebook path
  if (!pbOk || !entryOk) return ERROR_INVALID_PARAMETER;
  DialParams d;
  bool returned = false;
  if (DWORD e = Backend().GetEntryDialParams(pbArg, entry, d, returned)) return e;
  Put(params->szPhoneNumber, d.phone);
  Put(params->szCallbackNumber, d.callback);
  Put(params->szUserName, d.user);
  if (!returned) d.password.clear();
  Put(params->szPassword, d.password);
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
  if (!params) return ERROR_INVALID_PARAMETER;
  if (params->dwSize != sizeof(P)) return ERROR_INVALID_SIZE;  // before the phonebook path
  if (!pbOk || !ok) return ERROR_INVALID_PARAMETER;
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
  // The IP record's size is the caller's to get right whatever the handle names.
  if (projection == RASP_PppIp && buf && SizeField(buf) != sizeof(I)) return ERROR_INVALID_SIZE;
  std::string ip, server;
  if (DWORD e = Backend().GetProjection(h, ip, server)) return e;
  if (projection != RASP_PppIp) return ERROR_PROTOCOL_NOT_CONFIGURED;  // only IP is projected
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
}  // namespace

// ---------------------------------------------------------------- the A and W forms

DWORD RasCreatePhonebookEntryA(const char* n, HWND w, LPCSTR pb) {
  return CreateT<char>(n, w, pb);
}
DWORD RasCreatePhonebookEntryW(const char* n, HWND w, LPCWSTR pb) {
  return CreateT<WCHAR>(n, w, pb);
}
DWORD RasDialA(const char* n, LPRasDialExtensions x, LPCSTR pb, LPRasDialParamsA p, DWORD t, UINT_PTR nf,
               LPHRasConn h) {
  return DialT<char>(n, x, pb, p, t, nf, h);
}
DWORD RasDialW(const char* n, LPRasDialExtensions x, LPCWSTR pb, LPRasDialParamsW p, DWORD t, UINT_PTR nf,
               LPHRasConn h) {
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
}  // namespace rassim::edge
