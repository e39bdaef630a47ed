// Fuzz target of the C interface: the input is a program of calls (create
// and free diallers, set and read texts made of any bytes, numbers, dial,
// hang up, dispatch and run the loop, read status, enumerate, rename and
// delete entries, use freed and made-up handles, call from another thread)
// against the simulated RAS service in virtual time. What the callbacks do
// (free their dialler, hang up, dial, set texts, re-enter the loop) is
// chosen by the input too. Every call must end in a defined result and keep
// the interface's promises; anything else aborts.
#include <quor.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Win32/Win32.h"
#include "tests/fuzz/FuzzFolder.h"

namespace {

void Check(bool Ok) {
  if (!Ok) std::abort();
}

// A result is QUOR_OK, one of the interface's own codes or a RAS error number.
void Defined(int R) {
  Check(R >= QUOR_E_READ_ONLY && (R <= 0 || R < 20000));
}

struct Input {
  const uint8_t* P;
  size_t N;
  bool Empty() const { return N == 0; }
  uint8_t Byte() {
    if (N == 0) return 0;
    --N;
    return *P++;
  }
  uint32_t Number() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  // Any bytes: short ones as they are, long ones stretched past RAS's fields.
  std::string Bytes() {
    const uint8_t head = Byte();
    size_t n = head & 0x3F;
    std::string out;
    for (size_t i = 0; i < n && N > 0; ++i) out += static_cast<char>(Byte());
    if ((head & 0xC0) == 0xC0 && !out.empty()) {
      const size_t want = 100 + static_cast<size_t>(Byte()) * 2;
      while (out.size() < want) out += out;
    }
    return out;
  }
};

constexpr int kSlots = 3;

// What a callback of a slot's dialler does, besides recording the event.
enum class Act : uint8_t { None, FreeSelf, HangUp, Dial, SetText, Reenter, FreeOther, Count };

struct World;
struct Slot {
  World* W = nullptr;
  int Index = 0;
  quor_dialer* D = nullptr;
  Act Action = Act::None;
};

struct World {
  Slot Slots[kSlots];
  std::vector<quor_dialer*> Dead;
  int Dispatching = 0;
  int Depth = 0;
};

bool IsDead(const World& W, quor_dialer* D) {
  for (quor_dialer* d : W.Dead)
    if (d == D) return true;
  return false;
}

void Free(World& W, Slot& S) {
  quor_dialer* d = S.D;
  Check(quor_dialer_free(d) == QUOR_OK);
  S.D = nullptr;
  W.Dead.push_back(d);
  Check(quor_dialer_free(d) == QUOR_E_INVALID_DIALER);
}

const char* const kEntries[] = {"Office", "Drop", "Busy", "Home", "Missing"};

void React(Slot& S, quor_dialer* D) {
  World& W = *S.W;
  // Only inside a dispatch, only for a live dialler, and for its own.
  Check(W.Dispatching > 0);
  Check(!IsDead(W, D));
  Check(S.D == D);
  Check(quor_loop_dispatch() == QUOR_E_IN_CALLBACK);
  if (W.Depth > 2) return;  // a callback that dials again may nest: keep it bounded
  // Once per setting: a callback that dials on every event would dial
  // forever (as it would in any program), which is no finding.
  const Act action = S.Action;
  S.Action = Act::None;
  ++W.Depth;
  switch (action) {
    case Act::FreeSelf:
      Free(W, S);
      break;
    case Act::HangUp:
      Defined(quor_hang_up(D));
      break;
    case Act::Dial:
      Defined(quor_connect(D, nullptr));
      break;
    case Act::SetText:
      Check(quor_set_text(D, QUOR_TEXT_USER, "in a callback") == QUOR_OK);
      break;
    case Act::Reenter:
      Check(quor_loop_run(10) == QUOR_E_IN_CALLBACK);
      Check(quor_clock_virtual(1) == QUOR_E_IN_CALLBACK);
      break;
    case Act::FreeOther:
      for (Slot& other : W.Slots)
        if (&other != &S && other.D != nullptr) {
          Free(W, other);
          break;
        }
      break;
    default:
      break;
  }
  --W.Depth;
}

void QUOR_CALL OnText(void* User, quor_dialer* D, int32_t, const char* Text) {
  Check(Text != nullptr);
  (void)std::strlen(Text);
  React(*static_cast<Slot*>(User), D);
}
void QUOR_CALL OnEvent(void* User, quor_dialer* D) {
  React(*static_cast<Slot*>(User), D);
}
void QUOR_CALL OnState(void* User, quor_dialer* D, uint32_t, uint32_t) {
  React(*static_cast<Slot*>(User), D);
}
int QUOR_CALL OnEntry(void* User, const char* Entry) {
  Check(Entry != nullptr);
  Slot& s = *static_cast<Slot*>(User);
  Check(quor_loop_dispatch() == QUOR_E_IN_CALLBACK);
  if (s.Action == Act::FreeSelf && s.D != nullptr) Free(*s.W, s);
  return 0;
}
int QUOR_CALL OnConnection(void* User, const char* Entry, uint64_t) {
  return OnEntry(User, Entry);
}

std::string Text(quor_dialer* D, int Which) {
  char buffer[1024];
  size_t length = 0;
  Check(quor_get_text(D, Which, buffer, sizeof(buffer), &length) == QUOR_OK);
  Check(std::strlen(buffer) == length);
  return std::string(buffer, length);
}

// A handle to call with: a live one, a freed one, null or a made-up value.
quor_dialer* AnyHandle(World& W, Input& In) {
  const uint8_t pick = In.Byte();
  if (pick < 0xC0) return W.Slots[pick % kSlots].D;
  if (pick < 0xE0 && !W.Dead.empty()) return W.Dead[pick % W.Dead.size()];
  return reinterpret_cast<quor_dialer*>(static_cast<uintptr_t>(In.Number()));
}

void SetTextStep(World& W, Input& In, bool Counted) {
  Slot& s = W.Slots[In.Byte() % kSlots];
  const int which = In.Byte() % 10;
  const std::string bytes = In.Bytes();
  if (s.D == nullptr) return;
  const bool settable = which >= QUOR_TEXT_ENTRY && which <= QUOR_TEXT_DOMAIN;
  const std::string before = settable ? Text(s.D, which) : std::string();
  const int r =
      Counted ? quor_set_text_n(s.D, which, bytes.data(), bytes.size()) : quor_set_text(s.D, which, bytes.c_str());
  Defined(r);
  if (!settable) {
    Check(r == QUOR_E_READ_ONLY || r == QUOR_E_UNKNOWN_SETTING);
    return;
  }
  const std::string given = Counted ? bytes : std::string(bytes.c_str());
  if (Counted && given.find('\0') != std::string::npos) Check(r == QUOR_E_EMBEDDED_NUL);
  Check(Text(s.D, which) == (r == QUOR_OK ? given : before));
}

void Step(World& W, Input& In) {
  const uint8_t op = In.Byte() % 20;
  switch (op) {
    case 0: {  // create
      Slot& s = W.Slots[In.Byte() % kSlots];
      if (s.D != nullptr) return;
      Check(quor_dialer_new(&s.D) == QUOR_OK && s.D != nullptr);
      Check(quor_on_notify(s.D, OnText, &s) == QUOR_OK);
      Check(quor_on_connect(s.D, OnEvent, &s) == QUOR_OK);
      Check(quor_on_disconnect(s.D, OnText, &s) == QUOR_OK);
      Check(quor_on_connect_fail(s.D, OnText, &s) == QUOR_OK);
      Check(quor_on_state_change(s.D, OnState, &s) == QUOR_OK);
      Check(quor_set_text(s.D, QUOR_TEXT_ENTRY, kEntries[s.Index % 3]) == QUOR_OK);
      return;
    }
    case 1: {  // free
      Slot& s = W.Slots[In.Byte() % kSlots];
      if (s.D != nullptr) Free(W, s);
      return;
    }
    case 2:
      SetTextStep(W, In, false);
      return;
    case 3:
      SetTextStep(W, In, true);
      return;
    case 4: {  // read a text into a buffer of any size
      quor_dialer* d = AnyHandle(W, In);
      const int which = In.Byte() % 10;
      const size_t size = In.Byte() % 32;
      char buffer[40];
      std::memset(buffer, 0x5A, sizeof(buffer));
      size_t length = 0;
      const int r = quor_get_text(d, which, size == 0 ? nullptr : buffer, size, &length);
      Defined(r);
      for (size_t i = size; i < sizeof(buffer); ++i) Check(buffer[i] == 0x5A);
      if (r == QUOR_OK) Check(std::strlen(buffer) == length && length < size);
      if (r == QUOR_E_BUFFER_TOO_SMALL) Check(length >= size && (size == 0 || buffer[0] == '\0'));
      return;
    }
    case 5: {  // numbers
      Slot& s = W.Slots[In.Byte() % kSlots];
      const int which = In.Byte() % 16;
      const int64_t value = static_cast<int32_t>(In.Number()) % 100;
      if (s.D == nullptr) return;
      int64_t before = 0, after = 0;
      const int known = quor_get_int(s.D, which, &before);
      const int r = quor_set_int(s.D, which, value);
      Defined(r);
      if (known != QUOR_OK) {
        Check(r == QUOR_E_UNKNOWN_SETTING);
        return;
      }
      Check(quor_get_int(s.D, which, &after) == QUOR_OK);
      if (r == QUOR_OK && which != QUOR_SET_RECONNECT_PENDING && which != QUOR_SET_ATTEMPT) {
        const bool flag = which == QUOR_SET_SYNCHRONOUS_DIAL || which == QUOR_SET_MINIMIZE_DIAL_WINDOW ||
                          which == QUOR_SET_RECONNECT || which == QUOR_SET_FAST_HANGUP ||
                          which == QUOR_SET_WATCH_EVENTS;
        Check(after == (flag ? (value != 0 ? 1 : 0) : value));
      } else if (r != QUOR_OK) {
        Check(after == before);
      }
      return;
    }
    case 6: {  // back-off
      Slot& s = W.Slots[In.Byte() % kSlots];
      double factor;
      const uint64_t bits = (uint64_t{In.Number()} << 32) | In.Number();
      std::memcpy(&factor, &bits, sizeof(factor));
      if ((bits & 3) != 0) factor = 1.0 + (bits % 1200) / 100.0;
      const uint32_t max = In.Number() % 100000;
      if (s.D == nullptr) return;
      const int r = quor_set_redial_backoff(s.D, factor, max);
      Check(r == QUOR_OK || r == QUOR_E_OUT_OF_RANGE);
      double f = 0;
      uint32_t m = 0;
      Check(quor_get_redial_backoff(s.D, &f, &m) == QUOR_OK);
      if (r == QUOR_OK) Check(f == factor && m == max);
      return;
    }
    case 7: {  // dial
      quor_dialer* d = AnyHandle(W, In);
      uint64_t handle = 7;
      const int r = quor_connect(d, (In.Byte() & 1) ? &handle : nullptr);
      Defined(r);
      if (r != QUOR_OK) Check(handle == 0 || handle == 7);
      return;
    }
    case 8:
      Defined(quor_hang_up(AnyHandle(W, In)));
      return;
    case 9: {
      ++W.Dispatching;
      Check(quor_loop_dispatch() == QUOR_OK);
      --W.Dispatching;
      return;
    }
    case 10: {
      const uint32_t ms = (In.Byte() % 32) * 250u;
      ++W.Dispatching;
      Check(quor_loop_run(ms) == QUOR_OK);
      --W.Dispatching;
      return;
    }
    case 11: {  // status, with any size the caller may set
      quor_dialer* d = AnyHandle(W, In);
      unsigned char area[sizeof(quor_status) + 16];
      std::memset(area, 0xA5, sizeof(area));
      uint32_t size = In.Byte() % (sizeof(quor_status) + 1);
      std::memcpy(area, &size, sizeof(size));
      const int r = quor_get_status(d, reinterpret_cast<quor_status*>(area));
      Defined(r);
      for (size_t i = size < sizeof(uint32_t) ? sizeof(uint32_t) : size; i < sizeof(area); ++i) Check(area[i] == 0xA5);
      if (r == QUOR_OK && size == sizeof(quor_status)) {
        quor_status s;
        std::memcpy(&s, area, sizeof(s));
        Check(std::memchr(s.state_text, 0, sizeof(s.state_text)) != nullptr);
        Check(std::memchr(s.ip_address, 0, sizeof(s.ip_address)) != nullptr);
      }
      return;
    }
    case 12: {
      Slot& s = W.Slots[In.Byte() % kSlots];
      if (s.D != nullptr) Check(quor_enum_entries(s.D, OnEntry, &s) == QUOR_OK);
      return;
    }
    case 13: {
      Slot& s = W.Slots[In.Byte() % kSlots];
      if (s.D != nullptr) Defined(quor_enum_connections(s.D, OnConnection, &s));
      return;
    }
    case 14: {  // the phonebook: names of any bytes
      quor_dialer* d = AnyHandle(W, In);
      const std::string a = In.Byte() & 1 ? kEntries[In.Byte() % 5] : In.Bytes();
      const std::string b = In.Bytes();
      uint64_t handle = 0;
      switch (In.Byte() % 5) {
        case 0:
          Defined(quor_rename_entry(d, a.c_str(), b.c_str()));
          break;
        case 1:
          Defined(quor_delete_entry(d, a.c_str()));
          break;
        case 2:
          Defined(quor_load_dial_params(d, a.c_str()));
          break;
        case 3:
          Defined(quor_save_dial_params(d));
          break;
        default:
          Defined(quor_connection_handle(d, a.c_str(), &handle));
          break;
      }
      return;
    }
    case 15: {  // what a slot's callbacks do from now on
      Slot& s = W.Slots[In.Byte() % kSlots];
      s.Action = static_cast<Act>(In.Byte() % static_cast<uint8_t>(Act::Count));
      return;
    }
    case 16: {  // a freed, null or made-up handle is refused everywhere
      quor_dialer* d = AnyHandle(W, In);
      bool live = false;
      for (const Slot& s : W.Slots) live = live || (d != nullptr && s.D == d);
      if (live) return;
      const int expected = d == nullptr ? QUOR_E_NULL_ARGUMENT : QUOR_E_INVALID_DIALER;
      int64_t v;
      Check(quor_set_text(d, QUOR_TEXT_USER, "x") == expected);
      Check(quor_get_int(d, QUOR_SET_ATTEMPT, &v) == expected);
      Check(quor_on_connect(d, OnEvent, nullptr) == expected);
      Check(quor_connect(d, nullptr) == expected);
      Check(quor_dialer_free(d) == expected);
      return;
    }
    case 17: {  // from another thread: refused, nothing changes
      Slot& s = W.Slots[In.Byte() % kSlots];
      if (s.D == nullptr) return;
      const std::string before = Text(s.D, QUOR_TEXT_USER);
      int results[3] = {0, 0, 0};
      std::thread([&] {
        results[0] = quor_set_text(s.D, QUOR_TEXT_USER, "other thread");
        results[1] = quor_hang_up(s.D);
        results[2] = quor_dialer_free(s.D);
      }).join();
      for (int r : results) Check(r == QUOR_E_WRONG_THREAD);
      Check(Text(s.D, QUOR_TEXT_USER) == before);
      return;
    }
    case 18: {
      const char* text = quor_error_text(static_cast<int32_t>(In.Number()));
      Check(text != nullptr);
      (void)std::strlen(text);
      return;
    }
    default:
      Check(quor_loop_timeout() >= -1);
      return;
  }
}

const std::filesystem::path& Folder() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path d = fuzzsupport::Folder("capi_fuzz");
    setenv("QUOR_RAS_PHONEBOOK", (d / "rasphone.pbk").c_str(), 1);
    setenv("QUOR_RAS_CREDENTIALS", (d / "credentials.dat").c_str(), 1);
    setenv("QUOR_RAS_STATE_DIR", (d / "state").c_str(), 1);
    // The simulated service lies in the build's bin folder, above this one.
    char self[4096];
    const DWORD n = GetModuleFileNameA(0, self, sizeof(self));
    Check(n > 0 && n < sizeof(self));
    const std::filesystem::path bin = std::filesystem::path(self).parent_path().parent_path();
    Check(SetDllDirectoryA(bin.c_str()) != FALSE);
    // Held for the whole run: the last dialler's free unloads the library,
    // and libFuzzer reads the coverage counters of every module it saw load.
    Check(LoadLibraryA("rasapi32.dll") != 0);
    Check(quor_clock_virtual(1) == QUOR_OK);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every input starts from the same phonebook, and an empty one each time
  // for what rename and delete changed.
  fuzzsupport::Write(Folder() / "rasphone.pbk",
                     "[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n"
                     "[Drop]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0101\nQuorDropAfter=5\n"
                     "[Busy]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0102\nQuorOutcome=busy\n"
                     "[Home]\nDEVICE=isdn\nDevice=Sim ISDN\nPhoneNumber=555-0200\n");
  World w;
  for (int i = 0; i < kSlots; ++i) w.Slots[i].W = &w, w.Slots[i].Index = i;
  Input in{data, size};
  for (int steps = 0; steps < 200 && !in.Empty(); ++steps) Step(w, in);
  for (Slot& s : w.Slots) {
    s.Action = Act::None;
    if (s.D != nullptr) Free(w, s);
  }
  // Whatever the freed diallers kept is dropped: a dispatch delivers nothing.
  ++w.Dispatching;
  Check(quor_loop_run(5000) == QUOR_OK);
  --w.Dispatching;
  return 0;
}
