// How much time the NetworkManager backend adds to a dial and a hang-up, inside
// the rig (tests/nm/rig.sh run build/.../quor_nm_latency [cycles]): each cycle
// dials the wired profile "Office" and hangs it up, on the real clock. The
// backend's times are compared with NetworkManager's own, read from its log
// (same run, same clock):
//   dial:    RasDial -> RASCS_Connected dispatched, against NetworkManager's
//            activation request -> device "activated";
//   hang-up: RasHangUp -> status gone, against NetworkManager's deactivation
//            request -> device "disconnected".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "RasSim/backends/networkmanager/NmBackend.h"
#include "Win32/Win32.h"

namespace {

bool gConnected = false;
UINT gMsg = 0;

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

  std::vector<double> dialAt, connectedAt, hangAt, goneAt;
  for (int i = 0; i < cycles; ++i) {
    gConnected = false;
    rasnm::DialParams p;
    p.entry = "Office";
    THRasConn h = 0;
    dialAt.push_back(Now());
    if (rasnm::Dial(p, wnd, gMsg, &h) != 0) return 1;
    double limit = Now() + 10;
    while (!gConnected && Now() < limit) {
      MSG m;
      while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      if (!gConnected) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    if (!gConnected) return 1;
    connectedAt.push_back(Now());
    hangAt.push_back(Now());
    rasnm::HangUp(h);
    rasnm::ConnStatus st;
    while (rasnm::GetConnectStatus(h, st) == 0 && Now() < limit + 10)
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, 0);
    goneAt.push_back(Now());
  }
  rasnm::Shutdown();

  std::string log = std::string(work) + "/nm.log";
  std::vector<double> nmActivate = LogTimes(log, "op=\"connection-activate\"");
  std::vector<double> nmActivated = LogTimes(log, "device (veth0): state change: secondaries -> activated");
  std::vector<double> nmDeactivate = LogTimes(log, "op=\"connection-deactivate\"");
  std::vector<double> nmDisconnected = LogTimes(log, "device (veth0): state change: deactivating -> disconnected");
  if (nmActivate.size() < size_t(cycles) || nmActivated.size() < size_t(cycles) ||
      nmDeactivate.size() < size_t(cycles) || nmDisconnected.size() < size_t(cycles)) {
    std::puts("NetworkManager's log lacks some of the cycles' lines");
    return 1;
  }
  std::vector<double> dial, nmDial, dialOver, hang, nmHang, hangOver;
  for (int i = 0; i < cycles; ++i) {
    dial.push_back((connectedAt[i] - dialAt[i]) * 1000);
    nmDial.push_back((nmActivated[i] - nmActivate[i]) * 1000);
    dialOver.push_back((connectedAt[i] - nmActivated[i]) * 1000);
    hang.push_back((goneAt[i] - hangAt[i]) * 1000);
    nmHang.push_back((nmDisconnected[i] - nmDeactivate[i]) * 1000);
    hangOver.push_back((goneAt[i] - nmDisconnected[i]) * 1000);
  }
  Stats("RasDial -> Connected event dispatched", dial);
  Stats("NetworkManager: activate -> activated", nmDial);
  Stats("activated -> Connected event dispatched", dialOver);
  Stats("RasHangUp -> status gone", hang);
  Stats("NetworkManager: deactivate -> disconnected", nmHang);
  Stats("disconnected -> status gone", hangOver);
  return 0;
}
