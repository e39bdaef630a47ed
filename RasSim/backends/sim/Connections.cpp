// Dialling and the connections of the simulation: RasDial (asynchronous on
// the clock or synchronous), hang-up, status, the connection list and the IP
// projection.
#include "RasSim/backends/sim/SimState.h"
#include "RasSim/common/Platform.h"
#include "RasSim/common/Stores.h"
#include "RasSim/common/Tables.h"
#include "RasSim/common/Text.h"
#include "Win32/Clock.h"

namespace rassim {

using namespace sim;

DWORD Open(const EdgeServices& edge) {
  g_edge = edge;
  return 0;
}

// The dial extensions' options have no effect on the simulation.
DWORD Dial(const DialRequest& request, LPHRasConn lphRasConn) {
  const PbArg& pb = request.phonebook;
  const DialParams& params = request.params;
  PhonebookRef ref = ResolvePhonebook(pb.CStr());
  std::shared_ptr<const IniDocument> doc;  // holds `sec`
  const IniSection* sec = nullptr;
  if (DWORD e = FindPhonebookEntry(ref, params.entry, doc, sec)) return e;

  std::string entryName;
  if (params.entry.empty()) {
    // A dial without an entry: the first modem, the number given.
    if (params.phone.empty()) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    entryName = "." + params.phone;
    sec = nullptr;
  } else {
    if (!sec) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    entryName = sec->name;
  }
  const Device* device = &Devices()[0];
  if (sec) {
    std::string type = sec->Get("DEVICE", sec->Get("DeviceType"));
    std::string name = sec->Get("Device");
    if (!type.empty() || !name.empty()) {
      device = FindDevice(name, type);
      if (!device) return ERROR_DEVICE_DOES_NOT_EXIST;
    }
  }

  std::string scenarioProblem;
  Settings settings = GatherSettings(sec, entryName, &scenarioProblem);
  if (!scenarioProblem.empty()) {
    NoteProblem(scenarioProblem);
    return kScenarioError;
  }
  QueuedFailure queued{};
  bool haveQueued = false;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto it = S().queued.find(FoldCase(entryName));
    if (it != S().queued.end() && !it->second.empty()) {
      queued = it->second.front();
      it->second.erase(it->second.begin());
      haveQueued = true;
    }
  }
  // An entry has one connection at a time, as on Windows: a dial of an entry
  // that is connected joins that connection (its handle, a Connected event);
  // one of an entry still being dialled is refused. Any process's call counts.
  // Only the entry's latest call can be live: an earlier one that was live
  // would have refused the later dial. The entry is that of its phonebook's
  // file, however the file is named: a same-named entry of another phonebook
  // is another connection.
  const std::string book = platform::CanonicalPath(ref.path);
  const auto joined = [&](DWORD& result) {
    registry::ConnRecord r;
    if (params.entry.empty() || !registry::LatestOfEntry(book, ref.isDefault, entryName, r) || r.hungUp ||
        r.error != 0)  // a failed attempt that is still being hung up is no connection
      return false;
    result = ERROR_DIAL_ALREADY_IN_PROGRESS;
    if (r.state != RASCS_Connected) return true;
    result = 0;
    *lphRasConn = r.handle;
    if (request.notifier.wnd != 0) {
      Effects fx;
      fx.events.push_back(DialEvent{request.notifier, RASCS_Connected, 0, 0});
      fx.Run();
    }
    return true;
  };
  DWORD joinResult = 0;
  if (joined(joinResult)) return joinResult;

  uint64_t attempt = registry::NextAttempt(book + "|" + FoldCase(entryName));
  if (attempt == 0) return ERROR_RASMAN_CANNOT_INITIALIZE;
  DialPlan plan =
      BuildPlan(settings, device->type, attempt, params.user, params.password.View(), haveQueued ? &queued : nullptr);
  if (plan.failAtOnce) return plan.failAtOnce;

  THRasConn h = registry::AllocateHandle();
  if (!h) return ERROR_RASMAN_CANNOT_INITIALIZE;
  if (plan.ipAddress.empty()) plan.ipAddress = DefaultIp(h);
  if (plan.serverIpAddress.empty()) plan.serverIpAddress = "10.64.0.1";

  auto call = std::make_unique<Call>();
  call->handle = h;
  call->entry = entryName;
  // The name as dialled: Windows' FindWindow compares titles without regard to case, ours exactly.
  call->title = "Connected to " + (params.entry.empty() ? entryName : params.entry);
  call->phonebook = book;
  call->deviceType = device->type;
  call->deviceName = device->name;
  call->plan = plan;
  call->async = request.notifier.wnd != 0;
  call->notifier = request.notifier;
  call->ownerThread = GetCurrentThreadId();
  if (plan.connects && plan.connectionWindow) call->helper = CreateHelperWindow();
  registry::ConnRecord rec = RecordOf(*call);
  DWORD published = 0;
  registry::Publish(rec, &published);
  if (published != 0) {
    // Nobody else could see, list or hang up this call: it does not start.
    if (call->helper) DestroyWindow(call->helper);
    // A dial of the entry started beside this one made its call first: join it, or hear that it is being dialled.
    if (published == ERROR_DIAL_ALREADY_IN_PROGRESS && joined(joinResult)) return joinResult;
    return published;
  }

  uint32_t firstDelay = plan.steps.front().delayMs;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().calls[h] = std::move(call);
  }
  *lphRasConn = h;

  if (request.notifier.wnd != 0) {
    Effects fx;
    fx.schedules.push_back({h, {kStep, firstDelay}});
    fx.Run();
    return 0;
  }

  // Synchronous: run the dial on the clock in this thread and return its result.
  for (;;) {
    uint32_t delay;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      Call* c = FindCall(h);
      if (!c || c->phase != Phase::Dialling) break;
      delay = c->plan.steps[c->next].delayMs;
    }
    QuorSleep(delay);
    Effects fx;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      if (Call* c = FindCall(h)) AdvanceStep(*c, fx);
    }
    fx.Run();
  }
  std::lock_guard<std::mutex> lock(S().mutex);
  Call* c = FindCall(h);
  if (!c) return ERROR_USER_DISCONNECTION;
  switch (c->phase) {
    case Phase::Connected:
      return 0;
    case Phase::Failed:
      return c->error ? c->error : ERROR_UNKNOWN;
    default:
      return ERROR_USER_DISCONNECTION;  // hung up while dialling
  }
}

DWORD HangUp(THRasConn h) {
  Effects fx;
  bool mine = false;
  DWORD result = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Call* c = FindCall(h)) {
      mine = true;
      if (c->phase == Phase::Dropped) {
        FinishTeardown(h, fx);
      } else if (c->phase == Phase::TearingDown) {
        if (Expired(*c, fx)) result = ERROR_INVALID_HANDLE;
      } else {
        BeginTeardown(*c, fx);
      }
    }
  }
  fx.Run();
  if (mine) return result;
  return registry::MarkHungUp(h) ? 0 : ERROR_INVALID_HANDLE;
}

DWORD GetConnectStatus(THRasConn h, ConnStatus& out) {
  Effects fx;
  bool mine = false;
  DWORD result = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Call* c = FindCall(h)) {
      mine = true;
      EndedElsewhere(*c, fx);
      if (c->phase == Phase::Dropped) {
        // A line lost for a reason the scenario gives reports it until hung up.
        result = c->plan.line.lossReason ? c->plan.line.lossReason : ERROR_INVALID_HANDLE;
      } else if (Expired(*c, fx)) {
        result = ERROR_INVALID_HANDLE;
      } else {
        out.state = c->state;
        out.error = c->error;
        out.deviceType = c->deviceType;
        out.deviceName = c->deviceName;
      }
    }
  }
  fx.Run();
  if (mine) return result;
  registry::ConnRecord r;
  if (!registry::Read(h, r)) return ERROR_INVALID_HANDLE;
  if (DWORD lost = registry::LossAnswer(r)) return lost;  // as the owner's own call does
  out.state = r.hungUp ? RASCS_Disconnected : r.state;
  out.error = r.hungUp ? 0 : r.error;
  out.deviceType = r.deviceType;
  out.deviceName = r.deviceName;
  return 0;
}

DWORD EnumDevices(std::vector<DeviceInfo>& out) {
  out.clear();
  for (const Device& d : Devices()) out.push_back(DeviceInfo{d.type, d.name});
  return 0;
}

DWORD EnumConnections(std::vector<ConnInfo>& out) {
  out.clear();
  std::vector<registry::ConnRecord> records;
  if (DWORD e = registry::List(records)) return e;
  for (const registry::ConnRecord& r : records) {
    if (r.hungUp || r.lostReason) continue;
    out.push_back(ConnInfo{r.handle, r.entry, r.deviceType, r.deviceName, r.phonebook});
  }
  return 0;
}

DWORD GetProjection(THRasConn h, std::string& ip, std::string& serverIp) {
  ConnStatus st;
  if (DWORD e = GetConnectStatus(h, st)) return e;
  if (st.state != RASCS_Connected) return ERROR_PROJECTION_NOT_COMPLETE;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (Call* c = FindCall(h)) {
      ip = c->plan.ipAddress;
      serverIp = c->plan.serverIpAddress;
      return 0;
    }
  }
  registry::ConnRecord r;
  if (!registry::Read(h, r)) return ERROR_INVALID_HANDLE;
  ip = r.ipAddress;
  serverIp = r.serverIpAddress;
  return 0;
}

}  // namespace rassim
