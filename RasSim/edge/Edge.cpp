// The A and W forms of every RAS function, generated at the end of this file
// from the one list of RAS functions: each form calls the one implementation
// of its function, impl::<Family><Ch>, for its character type (char or
// WCHAR), which reads and writes the records and texts of that form. No form
// is written by hand: the two differ only in those records and texts. This
// file holds the implementations of the connection, dial-parameter,
// phonebook-name and dialog functions; EdgeEntries.h those of the
// entry-property, country and device functions.
#include "RasSim/edge/Edge.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "RasSim/common/Dialogs.h"
#include "RasSim/common/Tables.h"
#include "RasSim/common/Text.h"
#include "RasSim/edge/Backend.h"
#include "RasSim/edge/EdgeBuffers.h"
#include "RasSim/edge/EdgeEntries.h"
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

// Fills one connection record; the larger record also names the phonebook.
template <class C>
void PutConn(char* out, const ConnInfo& c) {
  C rec;
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
  StoreRecord(out, rec);
}

}  // namespace

// ---------------------------------------------------------------- the implementations

namespace impl {

template <class Ch>
DWORD RasDial(const char* name, TRasDialExtensions* ext, const Ch* pb, typename Rec<Ch>::Params* params, DWORD type,
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

template <class Ch>
DWORD RasEnumConnections(const char* name, void* buf, DWORD* lpcb, DWORD* count) {
  using C = typename Rec<Ch>::Conn;
  using CP = typename Rec<Ch>::ConnPb;
  inspect::Record(name, nullptr);
  if (!lpcb || !count) return ERROR_INVALID_PARAMETER;
  const DWORD size = buf ? SizeField(buf) : static_cast<DWORD>(sizeof(C));
  if (size != sizeof(C) && size != sizeof(CP)) return ERROR_INVALID_SIZE;
  std::vector<ConnInfo> conns;
  if (DWORD e = Backend().EnumConnections(conns)) return e;
  return NegotiateRecords(buf, lpcb, count, conns.size(), size, [&](size_t i, char* out) {
    if (size == sizeof(CP))
      PutConn<CP>(out, conns[i]);
    else
      PutConn<C>(out, conns[i]);
  });
}

template <class Ch>
DWORD RasEnumEntries(const char* name, const Ch* reserved, const Ch* pb, void* buf, DWORD* lpcb, DWORD* count) {
  using N = typename Rec<Ch>::Name;
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  inspect::Record(name, &pbArg);
  if (reserved || !lpcb || !count) return ERROR_INVALID_PARAMETER;
  if (buf && SizeField(buf) != sizeof(N)) return ERROR_INVALID_SIZE;  // before the phonebook path
  if (!pbOk) return ERROR_INVALID_PARAMETER;
  std::vector<std::string> names;
  if (DWORD e = Backend().EnumEntries(pbArg, names)) return e;
  return NegotiateRecords(buf, lpcb, count, names.size(), sizeof(N), [&](size_t i, char* out) {
    N rec;
    std::memset(&rec, 0, sizeof rec);
    rec.dwSize = sizeof(N);
    Put(rec.szEntryName, names[i]);
    StoreRecord(out, rec);
  });
}

template <class Ch>
DWORD RasGetConnectStatus(const char* name, THRasConn h, void* p) {
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
DWORD RasGetEntryDialParams(const char* name, const Ch* pb, void* p, BOOL* password) {
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
DWORD RasSetEntryDialParams(const char* name, const Ch* pb, void* p, BOOL removePassword) {
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
DWORD RasGetErrorString(const char* name, UINT error, Ch* buf, DWORD size) {
  inspect::Record(name, nullptr);
  const char* text = ErrorText(error);
  if (!text || !buf) return ERROR_INVALID_PARAMETER;
  std::string t(text);
  if (size < Units<Ch>(t) + 1) return ERROR_INVALID_PARAMETER;  // the buffer stays untouched
  WriteField(buf, size, t);
  return 0;
}

template <class Ch>
DWORD RasGetProjectionInfo(const char* name, THRasConn h, DWORD projection, void* buf, DWORD* lpcb) {
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
  return Negotiate(buf, lpcb, sizeof(I), [&](char* out) {
    I rec;
    std::memset(&rec, 0, sizeof rec);
    rec.dwSize = sizeof(I);
    rec.dwError = 0;
    Put(rec.szIpAddress, ip);
    Put(rec.szServerIpAddress, server);
    StoreRecord(out, rec);
  });
}

template <class Ch>
DWORD RasValidateEntryName(const char* name, const Ch* pb, const Ch* entry) {
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
DWORD RasRenameEntry(const char* name, const Ch* pb, const Ch* oldName, const Ch* newName) {
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
DWORD RasDeleteEntry(const char* name, const Ch* pb, const Ch* entry) {
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
DWORD RasCreatePhonebookEntry(const char* name, HWND hwnd, const Ch* pb) {
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  inspect::Record(name, &pbArg);
  if (!pbOk) return ERROR_INVALID_PARAMETER;
  return Backend().CreatePhonebookEntry(hwnd, pbArg);
}

template <class Ch>
DWORD RasEditPhonebookEntry(const char* name, HWND hwnd, const Ch* pb, const Ch* entry) {
  PbArg pbArg;
  bool pbOk = Arg(pb, pbArg);
  std::string e;
  bool eOk = Text(entry, e);
  inspect::Record(name, &pbArg, e);
  if (!pbOk || !entry) return ERROR_INVALID_PARAMETER;
  if (!eOk) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  return Backend().EditPhonebookEntry(hwnd, pbArg, e);
}

// Hang-up and the notification registrations read no text and no record: one
// implementation serves both forms as it is.
template <class>
DWORD RasHangUp(const char* name, THRasConn h) {
  inspect::Record(name, nullptr);
  return Backend().HangUp(h);
}

template <class>
DWORD RasConnectionNotification(const char* name, THRasConn h, HANDLE event, DWORD flags) {
  return WatchConnection(name, h, event, flags);
}

}  // namespace impl

// ---------------------------------------------------------------- the A and W forms

#define RASSIM_EDGE_DEFINE(F, PA, PW, ARGS)                \
  DWORD F##A(const char* name, RASSIM_EDGE_UNPAREN PA) {   \
    return impl::F<char>(name, RASSIM_EDGE_UNPAREN ARGS);  \
  }                                                        \
  DWORD F##W(const char* name, RASSIM_EDGE_UNPAREN PW) {   \
    return impl::F<WCHAR>(name, RASSIM_EDGE_UNPAREN ARGS); \
  }
#define RAS_GUARDED RASSIM_EDGE_DEFINE
#define RAS_PLAIN RASSIM_EDGE_DEFINE
#include "Ras2/RasFunctions.def"
#define RAS_OPTIONAL RASSIM_EDGE_DEFINE
#define RAS_OPTIONAL_NEUTRAL(F, P, ARGS)  // one name, no A and W forms: EdgeStats.cpp
#include "Ras2/RasOptionalFunctions.def"
#undef RASSIM_EDGE_DEFINE

}  // namespace rassim::edge
