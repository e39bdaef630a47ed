#include "tests/rassim/ContractFixture.h"

#include <chrono>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

namespace rassimtest {

namespace {

struct Difference {
  const char* target;
  const char* behaviour;
  const char* reason;
};

// Behaviours a target is known not to have, with the reason. The target is
// QUOR_RAS_CONTRACT_TARGET: "quor" (our library on its default backend),
// "wine", or the name of one of our library's backends, as QUOR_RAS_BACKEND
// names it (tests/rassim/CMakeLists.txt runs the suite so for each backend in
// QUOR_RAS_CONTRACT_BACKENDS); a backend's rows go here under its name.
const Difference kDifferences[] = {
    {"wine", "control", "Wine's rasapi32 has no QuorRasSim control exports"},
    {"wine", "dial", "RasDialA returns 1, leaves the handle variable as it was and posts no dial events"},
    {"wine", "status", "RasGetConnectStatus returns 0 and fills nothing"},
    {"wine", "hangup", "RasHangUp returns 0 for any handle"},
    {"wine", "enum-connections", "RasEnumConnectionsA returns 0 with count 0 and size 0, no size checks"},
    {"wine", "phonebook", "Wine has no phonebook: RasEnumEntriesA returns 0 entries, edits do nothing"},
    {"wine", "params", "RasGetEntryDialParamsA leaves the record untouched"},
    {"wine", "error-string", "RasGetErrorStringA returns 1 and writes nothing"},
    {"wine", "properties", "RasGetEntryProperties and RasSetEntryProperties are stubs"},
    {"wine", "country", "RasGetCountryInfoA/W are exported unimplemented: calling one aborts the process"},
    {"wine", "projection", "RasGetProjectionInfo is a stub that returns 1"},
    {"wine", "dialogs", "the entry dialogs return 0 and do nothing"},
    {"wine", "rnaph", "there is no rnaph.dll (LoadLibraryA fails with 126)"},
    {"wine", "devices-ours", "Wine lists one device \"WINE virtmodem\", not Quor's three"},
    {"wine", "device-size", "RasEnumDevicesW answers 0 to a record whose dwSize is wrong (the A form checks it)"},
};

struct Expected {
  const char* target;
  const char* behaviour;
  const char* value;
  const char* reason;
};

// Answers a target gives where the simulation gives another (EXPECT_ON_TARGET).
const Expected kExpected[] = {
    {"networkmanager", "devices", "vpn: openvpn; GENERIC: ethernet; modem: gsm; PPPoE: pppoe",
     "the kinds of profile the entry dialogs create"},
    {"networkmanager", "device count", "4", "the kinds of profile the entry dialogs create"},
    {"networkmanager", "device type of a plain entry", "G", "the rig's Office is a wired profile: GENERIC"},
    {"networkmanager", "phone number of an entry", "", "a wired profile has no number"},
    {"networkmanager", "properties of Office", "||GENERIC|veth0",
     "the rig's Office is a wired profile on veth0: no number, no area code"},
    {"networkmanager", "framing of a new entry", "0", "a profile has no framing: the record's is left 0"},
    {"networkmanager", "entries after a dialog made Home", "Home, Office, Office VPN",
     "the profiles of the rig's NetworkManager, in its order"},
    {"networkmanager", "the dial's handle is listed", "0",
     "the list gives the active connection's handle, the same in every process; the dial's own handle reaches the "
     "same connection"},
    {"networkmanager", "network of Office's address", "10.77.0", "the rig's DHCP server leases from 10.77.0.0/24"},
    {"networkmanager", "user name and password of a wired entry", "87",
     "a wired profile has no user name or password (ERROR_INVALID_PARAMETER)"},
};

std::mutex gEventsMutex;
std::vector<DialEvent> gEvents;
UINT gDialMsg = 0;

LRESULT CALLBACK EventProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == gDialMsg) {
    std::lock_guard<std::mutex> lock(gEventsMutex);
    gEvents.push_back(DialEvent{QuorClockNow(), msg, static_cast<TRasConnState>(wp), static_cast<DWORD>(lp)});
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

template <class T>
T Bind(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

}  // namespace

std::string Target() {
  const char* t = std::getenv("QUOR_RAS_CONTRACT_TARGET");
  return t && *t ? std::string(t) : std::string("quor");
}

bool RealService() {
  return Target() == "networkmanager";
}

::testing::AssertionResult OnTarget(const char* behaviour, const std::string& actual, const std::string& simulation) {
  std::string target = Target();
  for (const Expected& e : kExpected) {
    if (target != e.target || std::strcmp(behaviour, e.behaviour) != 0) continue;
    if (actual == e.value) return ::testing::AssertionSuccess();
    if (actual == simulation)
      return ::testing::AssertionFailure()
             << target << " now answers \"" << actual << "\" in " << behaviour
             << " as the simulation does: the known difference (" << e.reason << ") is gone, remove its row";
    return ::testing::AssertionFailure() << behaviour << ": " << target << " answered \"" << actual
                                         << "\", listed as \"" << e.value << "\" (" << e.reason
                                         << "), the simulation's is \"" << simulation << "\"";
  }
  if (actual == simulation) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << behaviour << ": " << target << " answered \"" << actual << "\", expected \""
                                       << simulation << "\"";
}

const char* KnownDifference(const char* behaviour) {
  std::string target = Target();
  for (const Difference& d : kDifferences)
    if (target == d.target && std::strcmp(behaviour, d.behaviour) == 0) return d.reason;
  return nullptr;
}

std::string TargetLabel() {
  const std::string target = Target();
  return target == "wine" ? "Wine" : target;
}

namespace {
// The behaviours StillDiffers can check; each check tests the table's reason as written. Not "country":
// calling Wine's unimplemented export ends the process, and Wine then starts its debugger, which waits. Not
// "rnaph": the suite runs beside our own rnaph.dll, which LoadLibraryA then finds.
const char* const kCheckedDifferences[] = {"control",          "dial",       "status",  "hangup",
                                           "enum-connections", "phonebook",  "params",  "error-string",
                                           "properties",       "projection", "dialogs", "devices-ours"};
}  // namespace

bool RasContract::HasDifferenceCheck(const char* behaviour) {
  for (const char* b : kCheckedDifferences)
    if (std::strcmp(b, behaviour) == 0) return Target() == "wine";
  return false;
}

bool RasContract::StillDiffers(const char* behaviour) {
  const std::string b = behaviour;
  // A phonebook of one entry that Windows would list, dial and describe.
  const std::string book = (dir_ / "probe.pbk").string();
  WriteText(book, "[Probe]\nPhoneNumber=555\nDEVICE=modem\n");
  constexpr THRasConn kUnknownHandle = 0x1234;
  if (b == "control") return api_.Reset == nullptr;
  if (b == "dial") {
    TRasDialParamsA p{};
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, "Probe");
    THRasConn h = 77;
    const DWORD r = api_.DialA(nullptr, book.c_str(), &p, 0xFFFFFFFFu, HandleValue(EventWindow()), &h);
    if (h != 77 && h != 0) api_.HangUpA(h);
    RunFor(10);
    return r == 1 && h == 77 && Events().empty();
  }
  if (b == "status") {
    TRasConnStatusA st{};
    st.dwSize = sizeof st;
    std::memset(st.szDeviceName, 'x', 4);
    return api_.GetConnectStatusA(kUnknownHandle, &st) == 0 && st.szDeviceName[0] == 'x';
  }
  if (b == "hangup") return api_.HangUpA(kUnknownHandle) == 0;
  if (b == "enum-connections") {
    std::vector<TRasConnA> conns(2);
    conns[0].dwSize = 3;  // no record size Windows knows
    DWORD size = 2 * sizeof(TRasConnA), count = 99;
    return api_.EnumConnectionsA(conns.data(), &size, &count) == 0 && count == 0 && size == 0;
  }
  if (b == "phonebook") {
    std::vector<TRasEntryNameA> names(4);
    names[0].dwSize = sizeof(TRasEntryNameA);
    DWORD size = 4 * sizeof(TRasEntryNameA), count = 99;
    return api_.EnumEntriesA(nullptr, book.c_str(), names.data(), &size, &count) == 0 && count == 0;
  }
  if (b == "params") {
    TRasDialParamsA p{};
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, "Probe");
    std::strcpy(p.szUserName, "untouched");
    BOOL pw = TRUE;
    api_.GetEntryDialParamsA(book.c_str(), &p, &pw);
    return std::strcmp(p.szUserName, "untouched") == 0;
  }
  if (b == "error-string") {
    char text[101];
    std::memset(text, 'x', sizeof text);
    return api_.GetErrorStringA(ERROR_LINE_BUSY, text, 100) == 1 && text[0] == 'x';
  }
  if (b == "properties") {
    TRasEntryA e{};
    e.dwSize = sizeof e;
    std::strcpy(e.szLocalPhoneNumber, "untouched");
    DWORD size = sizeof e;
    api_.GetEntryPropertiesA(book.c_str(), "Probe", &e, &size, nullptr, nullptr);
    return std::strcmp(e.szLocalPhoneNumber, "untouched") == 0;
  }
  if (b == "projection") {
    TRasPppIpA ip{};
    ip.dwSize = sizeof ip;
    DWORD size = sizeof ip;
    return api_.GetProjectionInfoA(kUnknownHandle, RASP_PppIp, &ip, &size) == 1;
  }
  if (b == "dialogs") return api_.EditPhonebookEntryA(0, book.c_str(), "NoSuchEntry") == 0;
  if (b == "devices-ours") {
    std::vector<TRasDevInfoA> devs(4);
    devs[0].dwSize = sizeof(TRasDevInfoA);
    DWORD size = 4 * sizeof(TRasDevInfoA), count = 0;
    return api_.EnumDevicesA(devs.data(), &size, &count) == 0 && count == 1 &&
           std::strcmp(devs[0].szDeviceName, "WINE virtmodem") == 0;
  }
  ADD_FAILURE() << "no check for the known difference " << b;
  return false;
}

void RasContract::SetUp() {
  // The known differences apply to the backend under test only when the target names it.
  const char* backend = std::getenv("QUOR_RAS_BACKEND");
  if (backend && *backend && Target() != "wine") {
    ASSERT_EQ(Target(), backend) << "QUOR_RAS_BACKEND is set but QUOR_RAS_CONTRACT_TARGET does not name it";
  }
  std::random_device rd;
  dir_ = std::filesystem::temp_directory_path() / ("rassim-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
  std::filesystem::create_directories(dir_);
  SetEnv("QUOR_RAS_PHONEBOOK", PhonebookPath());
  SetEnv("QUOR_RAS_CREDENTIALS", CredentialsPath());
  SetEnv("QUOR_RAS_STATE_DIR", (dir_ / "state").string());
  UnsetEnv("QUOR_RAS_SCENARIO");
  SetEnv("QUOR_RAS_DIALOG", (dir_ / "no-answers.txt").string());  // never prompt on a terminal
  QuorClockUseVirtual(RealService() ? 0 : 1);                     // a real service keeps real time
  {
    std::lock_guard<std::mutex> lock(gEventsMutex);
    gEvents.clear();
  }
  gDialMsg = RegisterWindowMessageA("RasDialEvent");
  if (gDialMsg == 0) gDialMsg = WM_RASDIALEVENT;

  lib_ = LoadLibraryA("rasapi32.dll");
  ASSERT_TRUE(lib_ != 0) << "rasapi32.dll not found beside the test";
  Api& a = api_;
  a.CreatePhonebookEntryA = Bind<TRasCreatePhonebookEntryA>(lib_, "RasCreatePhonebookEntryA");
  a.DialA = Bind<TRasDialA>(lib_, "RasDialA");
  a.DialW = Bind<TRasDialW>(lib_, "RasDialW");
  a.EditPhonebookEntryA = Bind<TRasEditPhonebookEntryA>(lib_, "RasEditPhonebookEntryA");
  a.EnumConnectionsA = Bind<TRasEnumConnectionsA>(lib_, "RasEnumConnectionsA");
  a.EnumConnectionsW = Bind<TRasEnumConnectionsW>(lib_, "RasEnumConnectionsW");
  a.EnumEntriesA = Bind<TRasEnumEntriesA>(lib_, "RasEnumEntriesA");
  a.EnumEntriesW = Bind<TRasEnumEntriesW>(lib_, "RasEnumEntriesW");
  a.GetConnectStatusA = Bind<TRasGetConnectStatusA>(lib_, "RasGetConnectStatusA");
  a.GetConnectStatusW = Bind<TRasGetConnectStatusW>(lib_, "RasGetConnectStatusW");
  a.GetEntryDialParamsA = Bind<TRasGetEntryDialParamsA>(lib_, "RasGetEntryDialParamsA");
  a.GetEntryDialParamsW = Bind<TRasGetEntryDialParamsW>(lib_, "RasGetEntryDialParamsW");
  a.GetErrorStringA = Bind<TRasGetErrorStringA>(lib_, "RasGetErrorStringA");
  a.GetErrorStringW = Bind<TRasGetErrorStringW>(lib_, "RasGetErrorStringW");
  a.GetProjectionInfoA = Bind<TRasGetProjectionInfoA>(lib_, "RasGetProjectionInfoA");
  a.HangUpA = Bind<TRasHangUpA>(lib_, "RasHangUpA");
  a.SetEntryDialParamsA = Bind<TRasSetEntryDialParamsA>(lib_, "RasSetEntryDialParamsA");
  a.SetEntryDialParamsW = Bind<TRasSetEntryDialParamsW>(lib_, "RasSetEntryDialParamsW");
  a.ValidateEntryNameA = Bind<TRasValidateEntryNameA>(lib_, "RasValidateEntryNameA");
  a.RenameEntryA = Bind<TRasRenameEntryA>(lib_, "RasRenameEntryA");
  a.DeleteEntryA = Bind<TRasDeleteEntryA>(lib_, "RasDeleteEntryA");
  a.GetEntryPropertiesA = Bind<TRasGetEntryPropertiesA>(lib_, "RasGetEntryPropertiesA");
  a.GetEntryPropertiesW = Bind<TRasGetEntryPropertiesW>(lib_, "RasGetEntryPropertiesW");
  a.SetEntryPropertiesA = Bind<TRasSetEntryPropertiesA>(lib_, "RasSetEntryPropertiesA");
  a.SetEntryPropertiesW = Bind<TRasSetEntryPropertiesW>(lib_, "RasSetEntryPropertiesW");
  a.GetCountryInfoA = Bind<TRasGetCountryInfoA>(lib_, "RasGetCountryInfoA");
  a.EnumDevicesA = Bind<TRasEnumDevicesA>(lib_, "RasEnumDevicesA");
  a.EnumDevicesW = Bind<TRasEnumDevicesW>(lib_, "RasEnumDevicesW");
  a.Reset = Bind<TQuorRasSimReset>(lib_, "QuorRasSimReset");
  a.CallCount = Bind<TQuorRasSimCallCount>(lib_, "QuorRasSimCallCount");
  a.LastCall = Bind<TQuorRasSimLastCall>(lib_, "QuorRasSimLastCall");
  a.LastDialParams = Bind<TQuorRasSimLastDialParams>(lib_, "QuorRasSimLastDialParams");
  a.DropConnection = Bind<TQuorRasSimDropConnection>(lib_, "QuorRasSimDropConnection");
  a.QueueFailure = Bind<TQuorRasSimQueueFailure>(lib_, "QuorRasSimQueueFailure");
  a.SetDialogAnswers = Bind<TQuorRasSimSetDialogAnswers>(lib_, "QuorRasSimSetDialogAnswers");
  a.SetStepDelay = Bind<TQuorRasSimSetStepDelay>(lib_, "QuorRasSimSetStepDelay");
  a.GetConnectionWindow = Bind<TQuorRasSimGetConnectionWindow>(lib_, "QuorRasSimGetConnectionWindow");
  // Every RAS export the component binds must be there, whatever the target.
  for (const char* fam :
       {"RasCreatePhonebookEntry", "RasDial", "RasEditPhonebookEntry", "RasEnumConnections", "RasEnumEntries",
        "RasGetConnectStatus", "RasGetEntryDialParams", "RasGetErrorString", "RasGetProjectionInfo", "RasHangUp",
        "RasSetEntryDialParams", "RasValidateEntryName", "RasRenameEntry", "RasDeleteEntry", "RasGetEntryProperties",
        "RasSetEntryProperties", "RasGetCountryInfo", "RasEnumDevices"})
    for (const char* suffix : {"A", "W"})
      ASSERT_NE(GetProcAddress(lib_, (std::string(fam) + suffix).c_str()), nullptr) << fam << suffix;
  if (!KnownDifference("control")) {
    ASSERT_NE(a.Reset, nullptr);
    a.Reset();
  }
}

void RasContract::TearDown() {
  if (api_.Reset) api_.Reset();
  Pump();
  if (eventWindow_) DestroyWindow(eventWindow_);
  if (lib_) FreeLibrary(lib_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void RasContract::WriteText(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

std::string RasContract::ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void RasContract::Phonebook(const std::vector<std::pair<std::string, std::string>>& entries) const {
  std::string text;
  for (const auto& [name, extra] : entries) text += "[" + name + "]\nPhoneNumber=555-0100\n" + extra + "\n";
  WritePhonebook(text);
}

HWND RasContract::EventWindow() {
  if (!eventWindow_) {
    static bool registered = false;
    if (!registered) {
      WNDCLASSA wc = {};
      wc.lpfnWndProc = EventProc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "RasContractEvents";
      RegisterClassA(&wc);
      registered = true;
    }
    eventWindow_ =
        CreateWindowExA(0, "RasContractEvents", "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, GetModuleHandleA(nullptr), nullptr);
  }
  return eventWindow_;
}

void RasContract::Pump() {
  MSG m;
  while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

void RasContract::RunFor(uint64_t ms) {
  Pump();
  for (uint64_t i = 0; i < ms; ++i) {
    QuorClockAdvance(1);
    Pump();
  }
}

bool RasContract::Await(uint64_t ms, const std::function<bool()>& done) {
  if (!RealService()) {
    RunFor(ms);
    return done();
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (;;) {
    Pump();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

const std::vector<DialEvent>& RasContract::Events() const {
  return gEvents;
}

void RasContract::ClearEvents() {
  std::lock_guard<std::mutex> lock(gEventsMutex);
  gEvents.clear();
}

static TRasDialParamsA Params(const std::string& entry, const std::string& user, const std::string& password) {
  TRasDialParamsA p;
  std::memset(&p, 0, sizeof p);
  p.dwSize = sizeof p;
  std::strncpy(p.szEntryName, entry.c_str(), sizeof p.szEntryName - 1);
  std::strncpy(p.szUserName, user.c_str(), sizeof p.szUserName - 1);
  std::strncpy(p.szPassword, password.c_str(), sizeof p.szPassword - 1);
  return p;
}

DWORD RasContract::StartDial(const std::string& entry, THRasConn& h, const std::string& user,
                             const std::string& password, const char* phonebook) {
  TRasDialParamsA p = Params(entry, user, password);
  h = 0;
  return api_.DialA(nullptr, phonebook, &p, 0xFFFFFFFFu, HandleValue(EventWindow()), &h);
}

DWORD RasContract::SyncDial(const std::string& entry, THRasConn& h) {
  TRasDialParamsA p = Params(entry, "", "");
  h = 0;
  return api_.DialA(nullptr, nullptr, &p, 0, 0, &h);
}

bool RasContract::Dialling(THRasConn& h, const std::string& entry, const std::string& keys) {
  Phonebook({{entry, keys}});
  DWORD r = StartDial(entry, h);
  EXPECT_EQ(r, 0u) << "RasDial of " << entry;
  return r == 0;
}

bool RasContract::Connected(THRasConn& h, const std::string& entry, const std::string& keys, uint64_t ms) {
  if (!Dialling(h, entry, keys)) return false;
  bool up = Await(ms, [&] { return LastEventIs(RASCS_Connected); });
  EXPECT_TRUE(up) << entry << " is not connected after " << ms << " ms; events: " << Events().size();
  return up;
}

bool RasContract::LastEventIs(TRasConnState state) const {
  return !Events().empty() && Events().back().state == state && Events().back().error == 0;
}

void RasContract::HangUp(THRasConn h) {
  api_.HangUpA(h);
  if (!RealService()) return;
  TRasConnStatusA st;
  EXPECT_TRUE(Await(0, [&] { return Status(h, st) == ERROR_INVALID_HANDLE; })) << "the hang-up did not complete";
}

DWORD RasContract::Status(THRasConn h, TRasConnStatusA& st) {
  std::memset(&st, 0, sizeof st);
  st.dwSize = sizeof st;
  return api_.GetConnectStatusA(h, &st);
}

std::vector<TRasConnA> RasContract::Connections(DWORD* result) {
  std::vector<TRasConnA> buf(100);
  std::memset(buf.data(), 0, buf.size() * sizeof(TRasConnA));
  buf[0].dwSize = sizeof(TRasConnA);
  DWORD size = static_cast<DWORD>(buf.size() * sizeof(TRasConnA)), count = 0;
  DWORD r = api_.EnumConnectionsA(buf.data(), &size, &count);
  if (result) *result = r;
  buf.resize(r == 0 ? count : 0);
  return buf;
}

std::vector<std::string> RasContract::Entries(DWORD* result, const char* phonebook) {
  std::vector<TRasEntryNameA> buf(200);
  std::memset(buf.data(), 0, buf.size() * sizeof(TRasEntryNameA));
  buf[0].dwSize = sizeof(TRasEntryNameA);
  DWORD size = static_cast<DWORD>(buf.size() * sizeof(TRasEntryNameA)), count = 0;
  DWORD r = api_.EnumEntriesA(nullptr, phonebook, buf.data(), &size, &count);
  if (result) *result = r;
  std::vector<std::string> names;
  if (r == 0)
    for (DWORD i = 0; i < count; ++i) names.emplace_back(buf[i].szEntryName);
  return names;
}

}  // namespace rassimtest
