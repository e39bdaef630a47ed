// The TQuor component against the simulated RAS service (the rasapi32.dll
// beside the program), on the virtual clock: dial-event handling, a whole
// dial, the status watch, the phonebook list, the connection list and the
// component's own cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "TQuorComponent/TQuorComponent.h"
#include "Win32/Clock.h"
#include "bench/BenchPlatform.h"
#include "bench/BenchSupport.h"

using quorbench::AllocMeter;

namespace {

// The dial-event message, as the component and the service register it.
UINT DialEventMessage() {
  const UINT msg = RegisterWindowMessageA(RASDIALEVENT);
  return msg != 0 ? msg : WM_RASDIALEVENT;
}

// A component bound to the simulated service, dialling the entry "Office"
// with its events counted.
struct Dialer {
  TQuor Q{nullptr};
  uint64_t Notes = 0, Connects = 0, Fails = 0, Drops = 0;

  Dialer() {
    Q.SetEntryName("Office");
    Q.SetRedialAttempts(0);
    Q.SetOnNotify([this](Integer, String) { ++Notes; });
    Q.SetOnConnect([this](TObject*) { ++Connects; });
    Q.SetOnConnectFail([this](Integer, String) { ++Fails; });
    Q.SetOnDisconnect([this](Integer, String) { ++Drops; });
  }
  // Dials and runs the loop until the dial has connected or failed.
  bool DialAndWait() {
    const uint64_t connects = Connects, fails = Fails;
    if (Q.Connect() == 0) return false;
    Application->RunUntil([&] { return Connects != connects || Fails != fails; }, 60000);
    return Connects == connects + 1;
  }
};

// Skips the benchmark when the component could not bind our service.
bool Bound(benchmark::State& State, const TQuor& Q) {
  if (!Q.RasInitialized || quorbench::SimExport("QuorRasSimReset") == nullptr) {
    State.SkipWithError("the simulated RAS service (rasapi32.dll beside the program) was not loaded");
    return false;
  }
  return true;
}

void ResetService() {
  if (auto reset = quorbench::SimFunction<TQuorRasSimReset>("QuorRasSimReset")) reset();
}

}  // namespace

// One dial event handled by a component that is dialling: WndProc, the state
// text (StatusString) and OnNotify per event, delivered by the host's message
// loop. range(0) is the state (5 Authenticate, 2 ConnectDevice which also
// asks RAS for the device, 8192 Connected which also raises OnConnect and
// starts the status and window timers); range(1) events are posted per pass
// of the loop. The service's own events are held back meanwhile.
static void BM_TQuor_DialEvent(benchmark::State& State) {
  quorbench::WritePhonebook(1);
  Dialer d;
  if (!Bound(State, d.Q)) return;
  quorbench::HoldDialEvents hold;
  if (!hold.Active()) return State.SkipWithError("QuorRasSimSetStepDelay missing");
  if (d.Q.Connect() == 0) return State.SkipWithError("Connect failed");
  const HWND wnd = d.Q.fWindowHandle;
  const UINT msg = DialEventMessage();
  const WPARAM state = static_cast<WPARAM>(State.range(0));
  const int batch = static_cast<int>(State.range(1));
  const uint64_t notesPerEvent = state == RASCS_ConnectDevice ? 2 : 1;  // + "Using modem: ..."
  d.Notes = 0;
  d.Connects = 0;

  AllocMeter meter;
  for (auto _ : State) {
    for (int i = 0; i < batch; ++i) PostMessageA(wnd, msg, state, 0);
    Application->ProcessMessages();
  }
  const double events = static_cast<double>(State.iterations()) * batch;
  meter.Report(State, events, "event");

  const bool allSeen = d.Notes == static_cast<uint64_t>(events) * notesPerEvent &&
                       (state != RASCS_Connected || d.Connects == static_cast<uint64_t>(events));
  d.Q.Disconnect();
  ResetService();
  if (!allSeen) return State.SkipWithError("dial events were lost");
  State.SetItemsProcessed(static_cast<int64_t>(events));
}
BENCHMARK(BM_TQuor_DialEvent)
    ->ArgNames({"state", "batch"})
    ->Args({RASCS_Authenticate, 1})
    ->Args({RASCS_Authenticate, 100})
    ->Args({RASCS_ConnectDevice, 100})
    ->Args({RASCS_Connected, 100});

// A whole dial through the simulated service: Connect, the service's dial
// events up to Connected (modem timing, in virtual time), then Disconnect
// with its 2000 ms pause. Wall time is the work only; the counters give the
// events and virtual milliseconds per dial.
static void BM_TQuor_FullDial(benchmark::State& State) {
  quorbench::WritePhonebook(1);
  Dialer d;
  if (!Bound(State, d.Q)) return;
  ResetService();
  d.Notes = 0;
  uint64_t dials = 0;
  const uint64_t startMs = QuorClockNow();
  AllocMeter meter;
  for (auto _ : State) {
    if (!d.DialAndWait()) {
      State.SkipWithError("the dial did not connect");
      break;
    }
    d.Q.Disconnect();
    ++dials;
  }
  if (dials == 0) return;
  meter.Report(State, static_cast<double>(dials), "dial");
  meter.ReportRetained(State, static_cast<double>(dials), "dial");
  State.counters["events/dial"] = static_cast<double>(d.Notes) / static_cast<double>(dials);
  State.counters["virtual_ms/dial"] = static_cast<double>(QuorClockNow() - startMs) / static_cast<double>(dials);
  State.SetItemsProcessed(static_cast<int64_t>(dials));
  Application->RunFor(2000);  // the service's connection windows go
  ResetService();
}
BENCHMARK(BM_TQuor_FullDial)->Unit(benchmark::kMicrosecond);

// The CPU time of creating one file of a connection record's length in the
// service's state folder (open, write, close), over Count files: what a dial
// pays for each file it has to create. The files are removed again.
static double FileCreationNs(int Count) {
  const std::filesystem::path dir = quorbench::BenchDir() / "state";
  const std::string record(512, 'x');
  quorbench::LoopClock clock;
  for (int i = 0; i < Count; ++i) {
    const std::string name = (dir / ("bench-anchor-" + std::to_string(i))).string();
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
      std::fwrite(record.data(), 1, record.size(), f);
      std::fclose(f);
    }
  }
  const double ns = clock.NsPerItem(Count);
  std::error_code ignored;
  for (int i = 0; i < Count; ++i) std::filesystem::remove(dir / ("bench-anchor-" + std::to_string(i)), ignored);
  return ns;
}

// range(0) components, each dialling its own entry of a phonebook of as many
// entries, all at once, twice: first on a fresh service (every entry's first
// dial, which creates its files: "first_connect_us"), then, after all have
// hung up, again (the service in use: entries dialled before, the records of
// the ended calls kept as spares). The timed part is the second round: every
// Connect call (the service reads the phonebook and publishes the new call),
// then the loop until all are connected (virtual time). "connect_us" is the
// CPU time of one Connect, "dial_us" that of one whole dial (Connect and its
// events up to connected); creating the components and hanging up are not
// timed. "create_us" is the anchor: creating one file in the same folder.
static void BM_TQuor_ManyDials(benchmark::State& State) {
  const int count = static_cast<int>(State.range(0));
  quorbench::WritePhonebook(count);
  ResetService();
  double firstConnectUs = 0, connectUs = 0, dialUs = 0, createUs = 0;
  bool allConnected = true;
  for (auto _ : State) {
    State.PauseTiming();
    std::vector<std::unique_ptr<Dialer>> dialers;
    {
      // A new component lists every entry of the phonebook, which makes the
      // setup of N components on an N-entry phonebook grow with N squared
      // (in time, and in memory: N lists of N names). The list plays no part
      // in a dial, so the components are made while the default phonebook is
      // an empty one. (Each component binds RAS afresh, so replacing the
      // entry point would not last.)
      const std::string phonebook = quorbench::PhonebookPath().string();
      const std::string empty = (quorbench::BenchDir() / "empty.pbk").string();
      quorbench::WriteTextFile(empty, "");
      quorbench::SetEnv("QUOR_RAS_PHONEBOOK", empty);
      for (int i = 0; i < count; ++i) {
        dialers.push_back(std::make_unique<Dialer>());
        dialers.back()->Q.SetEntryName(quorbench::EntryName(i));
      }
      quorbench::SetEnv("QUOR_RAS_PHONEBOOK", phonebook);
    }
    if (!Bound(State, dialers.front()->Q)) return;
    // Dials every component once, all at once; the CPU time of one Connect.
    const auto dialAll = [&](double& connectNs, double& dialNs) {
      const uint64_t before = dialers.front()->Connects;
      // The files of the previous round (and their removal) are written out
      // now, not in the middle of this round's dials.
      quorbench::FlushFileSystems();
      quorbench::LoopClock dials;
      for (auto& d : dialers) d->Q.Connect();
      connectNs = dials.NsPerItem(count);
      uint64_t connected = 0;
      Application->RunUntil(
          [&] {
            connected = 0;
            for (auto& d : dialers) connected += d->Connects;
            return connected == static_cast<uint64_t>(count) * (before + 1);
          },
          600000);
      dialNs = dials.NsPerItem(count);
      allConnected = allConnected && connected == static_cast<uint64_t>(count) * (before + 1);
    };
    const auto hangUpAll = [&] {
      for (auto& d : dialers) d->Q.Disconnect();
      Application->RunFor(2000);  // the service lets the calls go
    };
    double connectNs = 0, dialNs = 0;
    dialAll(connectNs, dialNs);
    firstConnectUs = connectNs / 1000;
    hangUpAll();
    createUs = FileCreationNs(std::min(count, 1000)) / 1000;
    State.ResumeTiming();
    dialAll(connectNs, dialNs);
    connectUs = connectNs / 1000;
    dialUs = dialNs / 1000;
    State.PauseTiming();
    hangUpAll();
    dialers.clear();
    ResetService();
    State.ResumeTiming();
  }
  quorbench::WritePhonebook(1);
  if (!allConnected) return State.SkipWithError("not every dial connected");
  State.SetItemsProcessed(State.iterations() * count);
  State.counters["first_connect_us"] = firstConnectUs;
  State.counters["connect_us"] = connectUs;
  State.counters["dial_us"] = dialUs;
  State.counters["create_us"] = createUs;
}
BENCHMARK(BM_TQuor_ManyDials)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The heap an idle, bound component keeps (its lists, timers, message
// registration and library reference), from 100 of them alive at once.
static void BM_TQuor_IdleMemory(benchmark::State& State) {
  quorbench::WritePhonebook(1);
  constexpr int kCount = 100;
  double perComponent = 0;
  for (auto _ : State) {
    std::vector<std::unique_ptr<TQuor>> components;
    components.reserve(kCount);
    const int64_t before = quorbench::HeapInUse();
    for (int i = 0; i < kCount; ++i) components.push_back(std::make_unique<TQuor>(nullptr));
    perComponent = static_cast<double>(quorbench::HeapInUse() - before) / kCount;
    if (!components.front()->RasInitialized) return State.SkipWithError("the simulated RAS service was not loaded");
  }
  if (quorbench::HeapInUse() < 0) return State.SkipWithError("no heap figure on this system");
  State.counters["heap_bytes/component"] = perComponent;
}
BENCHMARK(BM_TQuor_IdleMemory)->Iterations(3);

// One tick of the status watch of an established connection (every 500 ms:
// RasGetConnectStatus through the loop, re-arming the timer).
static void BM_TQuor_StatusTick(benchmark::State& State) {
  quorbench::WritePhonebook(1);
  Dialer d;
  if (!Bound(State, d.Q)) return;
  ResetService();
  if (!d.DialAndWait()) return State.SkipWithError("the dial did not connect");
  Application->RunFor(1000);  // the connection window is found and minimised; the watch runs alone
  AllocMeter meter;
  for (auto _ : State) {
    QuorClockAdvance(500);
    Application->ProcessMessages();
  }
  meter.Report(State, static_cast<double>(State.iterations()), "tick");
  const bool stillUp = d.Drops == 0;
  d.Q.Disconnect();
  ResetService();
  if (!stillUp) return State.SkipWithError("the connection was lost");
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_TQuor_StatusTick);

// GetPhoneBookEntries on a phonebook of range(0) entries read by the
// simulated service (file read, parse, one RasEnumEntries call into the
// component's fixed 100-record buffer).
static void BM_TQuor_GetPhoneBookEntries(benchmark::State& State) {
  const int count = static_cast<int>(State.range(0));
  quorbench::WritePhonebook(count);
  Dialer d;
  if (!Bound(State, d.Q)) return;
  const auto fileBytes = static_cast<int64_t>(std::filesystem::file_size(quorbench::PhonebookPath()));
  AllocMeter meter;
  for (auto _ : State) d.Q.GetPhoneBookEntries();
  meter.Report(State, static_cast<double>(State.iterations()), "call");
  if (d.Q.PhoneBookEntries->Count() != count) return State.SkipWithError("wrong number of entries");
  State.SetItemsProcessed(State.iterations() * count);
  State.SetBytesProcessed(State.iterations() * fileBytes);
}
BENCHMARK(BM_TQuor_GetPhoneBookEntries)->Arg(1)->Arg(50)->Arg(100);

namespace {

int gStandInCount = 0;

// Stands in for RasEnumEntries: lists gStandInCount entries whose names are
// too long for a string's inline buffer, so that every name the component
// handles shows up in the allocation counters.
DWORD WINAPI StandInEnumEntries(LPCSTR, LPCSTR, LPRasEntryNameA Entries, LPDWORD Size, LPDWORD Count) {
  const DWORD need = static_cast<DWORD>(gStandInCount) * sizeof(TRasEntryNameA);
  if (Entries == nullptr || Size == nullptr || Count == nullptr) return ERROR_INVALID_PARAMETER;
  if (*Size < need) {
    *Size = need;
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (int i = 0; i < gStandInCount; ++i) {
    Entries[i].dwSize = sizeof(TRasEntryNameA);
    std::snprintf(Entries[i].szEntryName, sizeof(Entries[i].szEntryName), "Branch office %06d", i);
  }
  *Count = static_cast<DWORD>(gStandInCount);
  return 0;
}

}  // namespace

// The component's own share of GetPhoneBookEntries, with RasEnumEntries
// answered at once from memory: the fixed stack buffer, the list refill, and
// the heap allocations (the goal: only the list's strings).
static void BM_TQuor_GetPhoneBookEntries_ComponentOnly(benchmark::State& State) {
  quorbench::WritePhonebook(1);
  Dialer d;
  if (!Bound(State, d.Q)) return;
  gStandInCount = static_cast<int>(State.range(0));
  const TRasEnumEntries saved = RasEnumEntries;
  RasEnumEntries = StandInEnumEntries;
  d.Q.GetPhoneBookEntries();  // the list reaches its size once
  AllocMeter meter;
  for (auto _ : State) d.Q.GetPhoneBookEntries();
  meter.Report(State, static_cast<double>(State.iterations()), "call");
  RasEnumEntries = saved;
  if (d.Q.PhoneBookEntries->Count() != gStandInCount) return State.SkipWithError("wrong number of entries");
  State.SetItemsProcessed(State.iterations() * gStandInCount);
}
BENCHMARK(BM_TQuor_GetPhoneBookEntries_ComponentOnly)->Arg(1)->Arg(50)->Arg(100);

namespace {

// range(0) connections dialled synchronously through the RAS entry point
// (besides the component), to the entries Branch 0001 and on.
class ActiveConnections {
 public:
  explicit ActiveConnections(int Count) {
    for (int i = 1; i <= Count; ++i) {
      TRasDialParams params;
      std::memset(&params, 0, sizeof(params));
      params.dwSize = sizeof(params);
      std::snprintf(params.szEntryName, sizeof(params.szEntryName), "%s", quorbench::EntryName(i).c_str());
      THRasConn h = 0;
      if (RasDial == nullptr || RasDial(nullptr, nullptr, &params, 0, 0, &h) != 0) {
        if (h != 0 && RasHangUp != nullptr) RasHangUp(h);
        fOk = false;
        return;
      }
      fHandles.push_back(h);
    }
  }
  ~ActiveConnections() {
    for (THRasConn h : fHandles)
      if (RasHangUp != nullptr) RasHangUp(h);
    Application->RunFor(3000);  // the hang-ups finish
  }
  bool Ok() const { return fOk; }

 private:
  std::vector<THRasConn> fHandles;
  bool fOk = true;
};

}  // namespace

// EnumConnections with range(0) active connections: one RasEnumConnections
// call into the fixed buffer and the refill of Connections.
static void BM_TQuor_EnumConnections(benchmark::State& State) {
  const int count = static_cast<int>(State.range(0));
  quorbench::WritePhonebook(11);
  Dialer d;
  if (!Bound(State, d.Q)) return;
  ResetService();
  bool listed = true;
  {
    ActiveConnections active(count);
    if (!active.Ok()) return State.SkipWithError("a connection could not be dialled");
    AllocMeter meter;
    for (auto _ : State) listed = d.Q.EnumConnections() && listed;
    meter.Report(State, static_cast<double>(State.iterations()), "call");
    listed = listed && d.Q.Connections->Count() == count;
  }
  ResetService();
  if (!listed) return State.SkipWithError("the connections were not listed");
  State.SetItemsProcessed(State.iterations() * (count == 0 ? 1 : count));
}
BENCHMARK(BM_TQuor_EnumConnections)->Arg(0)->Arg(1)->Arg(10);

// GetHandleByName for the last of range(0) connections, named in lower case.
static void BM_TQuor_GetHandleByName(benchmark::State& State) {
  const int count = static_cast<int>(State.range(0));
  quorbench::WritePhonebook(11);
  Dialer d;
  if (!Bound(State, d.Q)) return;
  ResetService();
  bool found = true;
  {
    ActiveConnections active(count);
    if (!active.Ok()) return State.SkipWithError("a connection could not be dialled");
    const String wanted = LowerCase(quorbench::EntryName(count));
    for (auto _ : State) found = d.Q.GetHandleByName(wanted) != 0 && found;
  }
  ResetService();
  if (!found) return State.SkipWithError("the connection was not found");
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_TQuor_GetHandleByName)->Arg(1)->Arg(10);

// Creating and destroying a component bound to the service (library
// reference, message registration, three timers, two lists, the phonebook
// read of a one-entry phonebook): time and heap per component.
static void BM_TQuor_CreateDestroy(benchmark::State& State) {
  quorbench::WritePhonebook(1);
  Dialer keep;  // holds the library loaded, as an application's first component does
  if (!Bound(State, keep.Q)) return;
  AllocMeter meter;
  int64_t bound = 0;
  for (auto _ : State) {
    auto q = std::make_unique<TQuor>(nullptr);
    bound += q->RasInitialized ? 1 : 0;
  }
  meter.Report(State, static_cast<double>(State.iterations()), "component");
  if (bound != State.iterations()) return State.SkipWithError("a component did not bind RAS");
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_TQuor_CreateDestroy);
