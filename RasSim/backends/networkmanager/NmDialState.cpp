// The dial state machine: how a call moves through its phases (NmInternal.h)
// as NetworkManager's signals arrive (NmCalls.cpp), which RAS states it posts
// to the dialler on the way, and how it ends. Runs on the backend's thread,
// every function with B().m held.
#include <net/if.h>

#include <algorithm>
#include <atomic>

#include "RasSim/backends/networkmanager/NmInternal.h"

namespace rasnm::detail {

namespace {

std::atomic<size_t> gLiveCalls{0};

void ForgetHandleLocked(THRasConn h, const Call* c) {
  auto it = B().calls.find(h);
  if (it != B().calls.end() && it->second.get() == c) B().calls.erase(it);
}

// A hung-up VPN is over once its tunnel is gone (about a second after NetworkManager is done with it).
void WatchTunnelLocked(const std::shared_ptr<Call>& c, int waitedMs = 0) {
  if (c->watchingTunnel && waitedMs == 0) return;
  c->watchingTunnel = true;
  After(kPollMs, [c, waitedMs] {
    std::lock_guard<std::mutex> held(B().m);
    if (c->phase != Phase::HangingUp) return;
    if (!TunnelPresent(c->tunnel) || waitedMs >= kTeardownMs)
      EndLocked(c);
    else
      WatchTunnelLocked(c, waitedMs + static_cast<int>(kPollMs));
  });
}

}  // namespace

Call::Call() {
  ++gLiveCalls;
}
Call::~Call() {
  --gLiveCalls;
}

size_t LiveCalls() {
  return gLiveCalls.load();
}

void ReportLocked(const Call& c, bool made) {
  auto report = made ? B().edge.ConnectionMade : B().edge.ConnectionEnded;
  if (!report) return;
  // Both names of the call: the dial's own handle and the one every process sees.
  report(c.handle);
  if (c.activeHandle != 0 && c.activeHandle != c.handle) report(c.activeHandle);
}

void PostLocked(Call& c, TRasConnState state, DWORD error) {
  c.state = state;
  c.posted = true;
  if (!c.notifier.wnd) return;  // a synchronous dial: its waiter tells the outcome
  if (B().edge.PostDialEvent && B().edge.PostDialEvent(c.notifier, state, error)) return;
  // Nobody will hear of this call any more: it ends here, and is taken down.
  c.notifier.wnd = 0;
  c.phase = Phase::Failed;
  c.error = ERROR_OUT_OF_BUFFERS;
  c.cancel = true;
  if (c.sync) c.sync->Finish(c.error);
  if (c.ac) nm_client_deactivate_connection_async(B().client, c.ac, nullptr, nullptr, nullptr);
}

void StepsLocked(Call& c, const std::vector<TRasConnState>& steps) {
  if (c.phase != Phase::Dialling) return;
  // NetworkManager's states may skip some or arrive twice: post each RAS state once, in order.
  for (TRasConnState s : steps) {
    if (c.posted && s <= c.state) continue;
    PostLocked(c, s, 0);
    if (s == RASCS_Connected) {
      c.phase = Phase::Connected;
      c.connectedAt = std::chrono::steady_clock::now();
      if (c.sync) c.sync->Finish(0);
      ReportLocked(c, true);
    }
  }
}

void FailLocked(Call& c, DWORD error) {
  switch (c.phase) {
    case Phase::Starting:
    case Phase::Dialling:
      // The dial fails at the state it reached, with the reason's error.
      c.phase = Phase::Failed;
      c.error = error ? error : ERROR_UNKNOWN;
      PostLocked(c, c.state, c.error);
      if (c.sync) c.sync->Finish(c.error);
      break;
    case Phase::Connected:
      // The line is lost: no event (RAS posts none after Connected), only the notifications.
      c.phase = Phase::Lost;
      c.error = error;
      ReportLocked(c, false);
      break;
    default:
      break;  // hanging up, failed, lost or gone already
  }
}

std::vector<std::shared_ptr<Call>> CallsOf(const std::function<bool(const Call&)>& pick) {
  std::vector<std::shared_ptr<Call>> out;
  // Each call is in the map under both its handles; its own handle picks it once.
  for (auto& [h, c] : B().calls)
    if (h == c->handle && pick(*c)) out.push_back(c);
  return out;
}

void NoteConnectedLocked(Call& c) {
  if (!c.vpn) return;
  // The tunnel holds the VPN's address; when NetworkManager has not told it yet,
  // the tunnel is the interface that was not there before the dial.
  std::string ip = FirstAddress(c.ac);
  std::string tun = ip.empty() ? "" : InterfaceOfAddress(ip);
  if (tun.empty()) {
    for (const std::string& name : InterfaceNames())
      if (std::find(c.interfacesBefore.begin(), c.interfacesBefore.end(), name) == c.interfacesBefore.end()) {
        tun = name;
        break;
      }
  }
  if (!tun.empty()) {
    c.tunnel = tun;
    c.deviceName = tun;
  }
}

bool TunnelPresent(const std::string& name) {
  return !name.empty() && if_nametoindex(name.c_str()) != 0;
}

// The hang-up is complete: nothing of the call remains, whether or not anyone asks about it again.
void EndLocked(const std::shared_ptr<Call>& c) {
  c->phase = Phase::Gone;
  ReleaseLocked(c);
}

// NetworkManager is done with the call's active connection (deactivated, removed, its
// device gone, NetworkManager stopped): a hang-up completes, anything else fails or is
// lost. A call that failed or was lost keeps its handle until it is hung up, but none
// of libnm's objects.
void ActiveEndedLocked(const std::shared_ptr<Call>& c, DWORD error) {
  if (c->phase == Phase::HangingUp) {
    if (!c->vpn || !TunnelPresent(c->tunnel)) return EndLocked(c);
    DropObjectsLocked(*c);
    return WatchTunnelLocked(c);
  }
  if (c->phase == Phase::Gone) return ReleaseLocked(c);
  FailLocked(*c, error);
  DropObjectsLocked(*c);
}

std::shared_ptr<Call> FindCall(THRasConn h) {
  auto it = B().calls.find(h);
  return it == B().calls.end() ? nullptr : it->second;
}

void ReleaseLocked(const std::shared_ptr<Call>& c) {
  ForgetHandleLocked(c->handle, c.get());
  if (c->activeHandle) ForgetHandleLocked(c->activeHandle, c.get());
  DropObjectsLocked(*c);
}

}  // namespace rasnm::detail
