// How much time the NetworkManager backend adds to a dial and a hang-up, inside
// the rig (tests/nm/rig.sh run build/.../quor_nm_latency [cycles]): each cycle
// dials the wired profile "Office" and hangs it up, on the real clock. The
// backend's times are compared with NetworkManager's own, read from its log
// (same run, same clock), first for the backend alone, then through TQuor:
//   dial:    RasDial -> RASCS_Connected dispatched, against NetworkManager's
//            activation request -> device "activated";
//   hang-up: RasHangUp -> status gone, against NetworkManager's deactivation
//            request -> device "disconnected".
// NetworkManager announces a state on the bus some time after it logs it (tens
// of milliseconds for "disconnected", while it takes the addresses down); the
// times from its bus signals (seen by dbus-monitor) to ours are the backend's own.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "RasSim/backends/networkmanager/NmBackend.h"
#include "TQuorComponent/TQuorComponent.h"
#include "Win32/Win32.h"

namespace {

bool gConnected = false;
UINT gMsg = 0;

// Posts the backend's dial events as the RAS library's edge does.
bool PostByMessage(const rassim::DialNotifier& to, TRasConnState state, DWORD error) {
  return PostMessageA(to.wnd, to.msg, static_cast<WPARAM>(state), static_cast<LPARAM>(error)) != 0;
}

LRESULT CALLBACK EventProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == gMsg) {
    if (wp == RASCS_Connected && lp == 0) gConnected = true;
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

double Now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Timestamps of NetworkManager's log lines that contain `what`, in order.
std::vector<double> LogTimes(const std::string& log, const std::string& what) {
  std::vector<double> out;
  std::ifstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(what) == std::string::npos) continue;
    size_t open = line.find('[');
    if (open != std::string::npos) out.push_back(std::atof(line.c_str() + open + 1));
  }
  return out;
}

// Times of the device's StateChanged signals on the bus (from dbus-monitor's
// record) that enter `now` from `old` (any when 0).
std::vector<double> BusTimes(const std::string& file, unsigned now, unsigned old) {
  std::vector<double> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    size_t t = line.find("time=");
    if (t == std::string::npos || line.find("member=StateChanged") == std::string::npos) continue;
    double at = std::atof(line.c_str() + t + 5);
    unsigned args[3] = {};
    for (unsigned& a : args) {
      std::string arg;
      if (!std::getline(in, arg)) break;
      size_t u = arg.find("uint32 ");
      a = u == std::string::npos ? 0 : static_cast<unsigned>(std::atoi(arg.c_str() + u + 7));
    }
    if (args[0] == now && (old == 0 || args[1] == old)) out.push_back(at);
  }
  return out;
}

void Stats(const char* name, const std::vector<double>& ms) {
  if (ms.empty()) return;
  std::vector<double> v = ms;
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  std::printf("%-44s median %7.2f ms  min %7.2f  max %7.2f  (n=%zu)\n", name, v[v.size() / 2], v.front(), v.back(),
              v.size());
}

}  // namespace

int main(int argc, char** argv) {
  const char* work = std::getenv("RIG_WORK");
  if (!std::getenv("QUOR_NM_RIG") || !work) {
    std::puts("SKIP: runs only inside the NetworkManager rig (tests/nm/rig.sh)");
    return 77;
  }
  int cycles = argc > 1 ? std::atoi(argv[1]) : 10;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = EventProc;
  wc.lpszClassName = "NmLatency";
  RegisterClassA(&wc);
  gMsg = RegisterWindowMessageA(RASDIALEVENT);
  HWND wnd = CreateWindowExA(0, "NmLatency", "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, GetModuleHandleA(nullptr), nullptr);

  // An observer of NetworkManager's signals on the bus, ended (by its pid) at the end.
  std::string busLog = std::string(work) + "/latency-bus.log";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, busLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const char* monArgs[] = {"dbus-monitor", "--system",
                           "type=signal,interface=org.freedesktop.NetworkManager.Device,member=StateChanged", nullptr};
  pid_t monitor = 0;
  if (posix_spawnp(&monitor, "dbus-monitor", &fa, nullptr, const_cast<char* const*>(monArgs), environ) != 0) return 1;
  posix_spawn_file_actions_destroy(&fa);
  MsgWaitForMultipleObjects(0, nullptr, FALSE, 300, 0);  // lets it subscribe

  const rassim::BackendOps& nm = rasnm::Ops();
  rassim::EdgeServices edge;
  edge.PostDialEvent = PostByMessage;
  if (nm.Open(edge) != 0) return 1;
  std::vector<double> dialAt, connectedAt, hangAt, goneAt;
  for (int i = 0; i < cycles; ++i) {
    gConnected = false;
    rassim::DialRequest request;
    request.params.entry = "Office";
    request.notifier.wnd = wnd;
    request.notifier.msg = gMsg;
    THRasConn h = 0;
    dialAt.push_back(Now());
    if (nm.Dial(request, &h) != 0) return 1;
    double limit = Now() + 10;
    while (!gConnected && Now() < limit) {
      MSG m;
      while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      if (!gConnected) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    if (!gConnected) return 1;
    connectedAt.push_back(Now());
    hangAt.push_back(Now());
    nm.HangUp(h);
    rassim::ConnStatus st;
    while (nm.GetConnectStatus(h, st) == 0 && Now() < limit + 10) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, 0);
    goneAt.push_back(Now());
  }
  nm.Close();

  // The same through the component: Connect -> OnConnect, the RAS library
  // running the networkmanager backend module.
  setenv("QUOR_RAS_BACKEND", "networkmanager", 1);
  std::vector<double> connectAt, onConnectAt;
  for (int i = 0; i < cycles; ++i) {
    TQuor q(nullptr);
    if (!q.RasInitialized) return 1;
    bool up = false;
    q.SetOnConnect([&](TObject*) { up = true; });
    q.SetEntryName("Office");
    connectAt.push_back(Now());
    q.Connect();
    if (!Application->RunUntil([&] { return up; }, 10000)) return 1;
    onConnectAt.push_back(Now());
    q.Disconnect();
  }

  kill(monitor, SIGTERM);
  waitpid(monitor, nullptr, 0);

  std::string log = std::string(work) + "/nm.log";
  std::vector<double> busActivated = BusTimes(busLog, 100, 90), busDisconnected = BusTimes(busLog, 30, 110);
  std::vector<double> nmActivate = LogTimes(log, "op=\"connection-activate\"");
  std::vector<double> nmActivated = LogTimes(log, "device (veth0): state change: secondaries -> activated");
  std::vector<double> nmDeactivate = LogTimes(log, "op=\"connection-deactivate\"");
  std::vector<double> nmDisconnected = LogTimes(log, "device (veth0): state change: deactivating -> disconnected");
  const size_t all = 2 * size_t(cycles);
  if (nmActivate.size() < all || nmActivated.size() < all || nmDeactivate.size() < all || nmDisconnected.size() < all ||
      busActivated.size() < all || busDisconnected.size() < all) {
    std::puts("NetworkManager's log lacks some of the cycles' lines");
    return 1;
  }
  std::vector<double> dial, nmDial, dialOver, hang, nmHang, hangOver, comp, nmComp, compOver;
  std::vector<double> busDial, busHang, busComp;
  for (int i = 0; i < cycles; ++i) {
    dial.push_back((connectedAt[i] - dialAt[i]) * 1000);
    nmDial.push_back((nmActivated[i] - nmActivate[i]) * 1000);
    dialOver.push_back((connectedAt[i] - nmActivated[i]) * 1000);
    hang.push_back((goneAt[i] - hangAt[i]) * 1000);
    nmHang.push_back((nmDisconnected[i] - nmDeactivate[i]) * 1000);
    hangOver.push_back((goneAt[i] - nmDisconnected[i]) * 1000);
    busDial.push_back((connectedAt[i] - busActivated[i]) * 1000);
    busHang.push_back((goneAt[i] - busDisconnected[i]) * 1000);
    size_t j = size_t(cycles) + size_t(i);
    comp.push_back((onConnectAt[i] - connectAt[i]) * 1000);
    nmComp.push_back((nmActivated[j] - nmActivate[j]) * 1000);
    compOver.push_back((onConnectAt[i] - nmActivated[j]) * 1000);
    busComp.push_back((onConnectAt[i] - busActivated[j]) * 1000);
  }
  Stats("RasDial -> Connected event dispatched", dial);
  Stats("NetworkManager: activate -> activated", nmDial);
  Stats("activated -> Connected event dispatched", dialOver);
  Stats("RasHangUp -> status gone", hang);
  Stats("NetworkManager: deactivate -> disconnected", nmHang);
  Stats("disconnected -> status gone", hangOver);
  Stats("bus signal activated -> Connected event", busDial);
  Stats("bus signal disconnected -> status gone", busHang);
  Stats("TQuor: Connect -> OnConnect", comp);
  Stats("NetworkManager: activate -> activated", nmComp);
  Stats("activated -> OnConnect", compOver);
  Stats("bus signal activated -> OnConnect", busComp);
  return 0;
}
