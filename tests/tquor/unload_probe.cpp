// Frees the last component while the RAS library still has work of a call
// under way, so that unloading rasapi32.dll meets that work. One case per
// run (the library unloads once per process); ctest runs each case plainly
// and, where valgrind is installed, under valgrind, and the sanitizer builds
// run them instrumented. Exit 0 when the unload left everything in order.
//
//   teardown      the call is still tearing down (Teardown=5s) when the last
//                 component goes: its record must still be retired
//   drop-free     the line is dropped from another thread and the handler of
//                 the loss frees the last component: the windows the call
//                 had must not outlive the library
//   foreign       the call was dialled on another thread, whose windows the
//                 unloading thread cannot destroy: they must be closed by
//                 that thread's loop without reaching the library's code
//   exit          the process exits while the call tears down and the
//                 library is still loaded (a child process; this one checks
//                 that the record was retired all the same)
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "RasSim/RasSimControl.h"
#include "SimEnv.h"
#include "TQuorComponent/TQuorComponent.h"
#include "Win32/Clock.h"

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& Why) {
  std::fprintf(stderr, "unload_probe: %s\n", Why.c_str());
  return 1;
}

std::string ReadFile(const fs::path& P) {
  std::ifstream in(P);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text;
}

// The state folder once the library is gone: no record left behind, and the
// call's record kept as the one spare the count names.
int CheckStateFolder(const fs::path& State) {
  for (const auto& e : fs::directory_iterator(State)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("conn-", 0) == 0) return Fail("the record " + name + " outlived the library");
  }
  const std::string spares = ReadFile(State / "spares");
  if (std::strtoul(spares.c_str(), nullptr, 10) != 1) return Fail("spares holds \"" + spares + "\", not 1");
  return 0;
}

// Dials "Office" and runs the loop until it is connected.
bool Connect(TQuor& Q, uint32_t Ms) {
  bool connected = false;
  Q.SetOnConnect([&](TObject*) { connected = true; });
  Q.SetEntryName("Office");
  Q.SetRedialAttempts(0);
  return Q.Connect() != 0 && Application->RunUntil([&] { return connected; }, Ms);
}

int Teardown(const fs::path& State) {
  auto* q = new TQuor(nullptr);
  if (!q->RasInitialized) return Fail("rasapi32.dll did not load");
  if (!Connect(*q, 10000)) return Fail("no connection");
  q->Disconnect();  // 2 s of the 5 s teardown pass
  delete q;         // the last reference: the library unloads
  if (GetModuleHandleA("rasapi32.dll") != 0) return Fail("rasapi32.dll is still loaded");
  return CheckStateFolder(State);
}

// The other thread of the foreign case: its loop, and a way to wait until it
// has handled everything posted to it so far (a thread message behind it).
struct Dialler {
  std::atomic<DWORD> thread{0};
  std::atomic<int> caughtUp{0};
  std::atomic<bool> stop{false};
  void Run() {
    thread = GetCurrentThreadId();
    while (!stop) {
      MSG msg;
      while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == 0 && msg.message == WM_USER)
          ++caughtUp;
        else
          DispatchMessageA(&msg);
      }
      std::this_thread::yield();
    }
  }
  void Sync() {
    const int before = caughtUp;
    PostThreadMessageA(thread, WM_USER, 0, 0);
    while (caughtUp == before) std::this_thread::yield();
  }
};

int Foreign() {
  const HMODULE lib = LoadLibraryA("rasapi32.dll");
  const auto dial = reinterpret_cast<TRasDialA>(reinterpret_cast<void (*)()>(GetProcAddress(lib, "RasDialA")));
  if (lib == 0 || dial == nullptr) return Fail("rasapi32.dll did not load");
  Dialler other;
  std::atomic<DWORD> result{1};
  std::atomic<bool> dialled{false};
  std::thread dialler([&] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "UnloadProbeNotifier";
    RegisterClassA(&wc);
    const HWND notifier = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, 0, nullptr);
    TRasDialParamsA params = {};
    params.dwSize = sizeof params;
    std::strcpy(params.szEntryName, "Office");
    THRasConn h = 0;
    result = dial(nullptr, nullptr, &params, 0xFFFFFFFFu, notifier, &h);
    dialled = true;
    other.Run();  // the call's windows are made here, and closed here after the unload
    DestroyWindow(notifier);
  });
  while (!dialled || other.thread == 0) std::this_thread::yield();
  bool made = false;
  // The steps run here (virtual time); the window is made by the other thread's loop.
  for (int i = 0; i < 500 && !made && result == 0; ++i) {
    QuorClockAdvance(20);
    other.Sync();
    made = FindWindowA(nullptr, "Connected to Office") != 0;
  }
  FreeLibrary(lib);
  other.Sync();
  const bool gone = FindWindowA(nullptr, "Connected to Office") == 0;
  other.stop = true;
  dialler.join();
  if (result != 0) return Fail("the dial failed with " + std::to_string(result));
  if (!made) return Fail("no \"Connected to Office\" window was made");
  if (!gone) return Fail("the \"Connected to Office\" window of the other thread outlived the library");
  return 0;
}

int Exit(const fs::path& State) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return Fail("fork failed");
  if (child == 0) {
    auto* q = new TQuor(nullptr);  // never freed: the library is loaded at exit
    if (!q->RasInitialized || !Connect(*q, 10000)) std::_Exit(Fail("no connection"));
    q->Disconnect();
    std::exit(0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return Fail("the exiting process ended with status " + std::to_string(status));
  return CheckStateFolder(State);
}

int DropFree() {
  auto* q = new TQuor(nullptr);
  if (!q->RasInitialized) return Fail("rasapi32.dll did not load");
  if (!Connect(*q, 10000)) return Fail("no connection");
  const auto drop = reinterpret_cast<TQuorRasSimDropConnection>(
      reinterpret_cast<void (*)()>(GetProcAddress(hLib, "QuorRasSimDropConnection")));
  const THRasConn h = q->GetHandleByName("Office");
  if (drop == nullptr || h == 0) return Fail("no connection to drop");
  DWORD dropped = 1;
  std::thread([&] { dropped = drop(h); }).join();
  if (dropped != 0) return Fail("the drop failed");
  bool lost = false;
  q->SetOnDisconnect([&](Integer, String) {
    lost = true;
    delete q;  // the last reference, from inside the component's own timer
  });
  // The status poll is due before the loop looks at its messages: the loss
  // and the unload come first, what the drop queued on this thread after.
  QuorClockAdvance(600);
  Application->RunFor(3000);
  if (!lost) return Fail("the loss was not reported");
  if (GetModuleHandleA("rasapi32.dll") != 0) return Fail("rasapi32.dll is still loaded");
  if (FindWindowA(nullptr, "Connected to Office") != 0) return Fail("the \"Connected to Office\" window outlived it");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("tquor-unload-" + std::to_string(rd()));
  fs::create_directories(dir);
  std::ofstream(dir / "rasphone.pbk") << "[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n";
  std::ofstream(dir / "scenario.ini") << "[*]\nStepDelay=20\nTeardown=5s\n";
  SetSimEnv("QUOR_RAS_PHONEBOOK", (dir / "rasphone.pbk").string());
  SetSimEnv("QUOR_RAS_CREDENTIALS", (dir / "credentials.dat").string());
  SetSimEnv("QUOR_RAS_STATE_DIR", (dir / "state").string());
  SetSimEnv("QUOR_RAS_SCENARIO", (dir / "scenario.ini").string());
  QuorClockUseVirtual(1);
  int status;
  if (which == "teardown") {
    status = Teardown(dir / "state");
  } else if (which == "foreign") {
    status = Foreign();
  } else if (which == "exit") {
    status = Exit(dir / "state");
  } else if (which == "drop-free") {
    status = DropFree();
  } else {
    status = Fail("usage: tquor_unload_probe teardown|drop-free|foreign|exit");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
