// Second process of the RAS contract tests. Loads rasapi32.dll like any
// program and runs one command:
//   add-entries <prefix> <count>            creates <count> entries, one rewrite each
//   dial-hold <entry> <handle file> <done>  dials, publishes the handle, waits until
//                                           its own status polls see the call gone
//   dial-exit <entry> <handle file>         dials, publishes the handle, exits without hanging up
//   hangup <handle>                         hangs up a connection of another process
// Exit code 0 on success; 15 when a file could not be published.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "Ras2/Ras2.h"
#include "Win32/Win32.h"

namespace {

template <class T>
T Bind(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

// Writes the text under a temporary name and renames it into place, so a
// reader never sees it half-written. False when it could not be published.
bool Publish(const std::string& path, const std::string& text) {
  std::string tmp = path + ".part";
  {
    std::ofstream f(tmp, std::ios::trunc);
    f << text;
    if (!f.flush()) return false;
  }
  // A refused rename is retried for up to 5 s before giving up.
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (std::rename(tmp.c_str(), path.c_str()) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string cmd = argv[1];
  HMODULE lib = LoadLibraryA("rasapi32.dll");
  if (!lib) return 10;
  QuorClockUseVirtual(1);
  if (cmd == "add-entries" && argc == 4) {
    auto setProps = Bind<TRasSetEntryPropertiesA>(lib, "RasSetEntryPropertiesA");
    auto getProps = Bind<TRasGetEntryPropertiesA>(lib, "RasGetEntryPropertiesA");
    TRasEntryA e;
    std::memset(&e, 0, sizeof e);
    e.dwSize = sizeof e;
    DWORD size = sizeof e;
    if (getProps(nullptr, "", &e, &size, nullptr, nullptr) != 0) return 11;
    int n = std::atoi(argv[3]);
    for (int i = 0; i < n; ++i) {
      std::snprintf(e.szLocalPhoneNumber, sizeof e.szLocalPhoneNumber, "555-%04d", i);
      std::string name = std::string(argv[2]) + std::to_string(i);
      if (setProps(nullptr, name.c_str(), &e, sizeof e, nullptr, 0) != 0) return 12;
    }
    return 0;
  }
  if (cmd == "hangup" && argc == 3) {
    auto hangUp = Bind<TRasHangUpA>(lib, "RasHangUpA");
    return hangUp(static_cast<THRasConn>(std::strtoull(argv[2], nullptr, 10))) == 0 ? 0 : 15;
  }
  auto dial = Bind<TRasDialA>(lib, "RasDialA");
  auto status = Bind<TRasGetConnectStatusA>(lib, "RasGetConnectStatusA");
  TRasDialParamsA p;
  std::memset(&p, 0, sizeof p);
  p.dwSize = sizeof p;
  std::strncpy(p.szEntryName, argv[2], sizeof p.szEntryName - 1);
  THRasConn h = 0;
  if (dial(nullptr, nullptr, &p, 0, 0, &h) != 0) return 13;
  if (cmd == "dial-exit" && argc == 4) {
    if (!Publish(argv[3], std::to_string(h))) return 15;
    std::fflush(nullptr);
    std::_Exit(0);  // gone without a hang-up or any clean-up, as a killed process
  }
  if (cmd == "dial-hold" && argc == 5) {
    if (!Publish(argv[3], std::to_string(h))) return 15;
    bool sawDisconnected = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      TRasConnStatusA st;
      std::memset(&st, 0, sizeof st);
      st.dwSize = sizeof st;
      DWORD r = status(h, &st);
      if (r == ERROR_INVALID_HANDLE) {
        return Publish(argv[4], sawDisconnected ? "ended after teardown" : "ended at once") ? 0 : 15;
      }
      if (r == 0 && st.rasconnstate == RASCS_Disconnected) sawDisconnected = true;
      QuorClockAdvance(100);  // this process's own (virtual) time moves on
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return 14;
  }
  return 2;
}
