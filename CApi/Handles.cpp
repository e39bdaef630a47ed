// The handle table: a quor_dialer* is a slot number and the slot's generation
// packed into one pointer-sized value, never a pointer to the dialler, so a
// freed or made-up handle is recognised instead of followed. A slot whose
// generations are used up is retired: no handle is ever given out twice.
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "CApi/CApiInternal.h"

namespace quorc {
namespace {

constexpr unsigned kSlotBits = sizeof(uintptr_t) == 8 ? 24 : 12;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;
constexpr uintptr_t kMaxGeneration = ~uintptr_t{0} >> kSlotBits;

struct Slot {
  uintptr_t Generation = 0;  // of the live dialler, or of the last one
  Dialer* D = nullptr;       // null while free
};

struct Table {
  std::mutex Lock;
  std::vector<Slot> Slots;
  std::vector<size_t> Free;
};

Table& Handles() {
  static Table* table = new Table;  // lives to the end: a late call must still find it
  return *table;
}

quor_dialer* Encode(size_t Index, uintptr_t Generation) {
  return reinterpret_cast<quor_dialer*>((Generation << kSlotBits) | static_cast<uintptr_t>(Index + 1));
}

// The live slot a handle names (with the lock held), or null.
Slot* Decode(Table& T, quor_dialer* Handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(Handle);
  const uintptr_t index = value & kSlotMask;
  if (index == 0 || index > T.Slots.size()) return nullptr;
  Slot& slot = T.Slots[index - 1];
  if (slot.D == nullptr || slot.Generation != value >> kSlotBits) return nullptr;
  return &slot;
}

}  // namespace

int NewDialer(quor_dialer** Out) {
  if (Out == nullptr) return QUOR_E_NULL_ARGUMENT;
  *Out = nullptr;
  auto d = std::make_unique<Dialer>();
  d->Thread = GetCurrentThreadId();
  LoopAttach();
  d->Q = new TQuor(nullptr);
  if (!d->Q->RasInitialized) {
    delete d->Q;
    return QUOR_E_NO_RAS;
  }
  Table& t = Handles();
  {
    std::lock_guard<std::mutex> held(t.Lock);
    size_t index;
    if (!t.Free.empty()) {
      index = t.Free.back();
      t.Free.pop_back();
    } else {
      if (t.Slots.size() >= kSlotMask) {
        delete d->Q;
        return QUOR_E_NO_MEMORY;
      }
      index = t.Slots.size();
      t.Slots.emplace_back();
    }
    Slot& slot = t.Slots[index];
    ++slot.Generation;
    d->Handle = Encode(index, slot.Generation);
    slot.D = d.get();
  }
  AttachEvents(*d);
  *Out = d.release()->Handle;
  return QUOR_OK;
}

int FreeDialer(quor_dialer* Handle) {
  Dialer* d = nullptr;
  const int r = Lookup(Handle, d);
  if (r != QUOR_OK) return r;
  Table& t = Handles();
  {
    // The handle dies first: whatever the component raises while it goes
    // (the hang-up of a call it holds) reaches nobody.
    std::lock_guard<std::mutex> held(t.Lock);
    const uintptr_t index = (reinterpret_cast<uintptr_t>(Handle) & kSlotMask) - 1;
    Slot& slot = t.Slots[index];
    slot.D = nullptr;
    if (slot.Generation < kMaxGeneration) t.Free.push_back(index);
  }
  DropPending(Handle);
  std::unique_ptr<Dialer> owned(d);
  // Its texts go wiped: the component wipes the password's storage itself.
  String none;
  for (const auto& set : {&TQuor::SetUserName, &TQuor::SetDomain, &TQuor::SetPhoneNumber, &TQuor::SetCallbackNumber})
    (d->Q->*set)(none);
  d->Q->SetPassword(none);
  delete d->Q;
  return QUOR_OK;
}

size_t LiveDialers() {
  Table& t = Handles();
  std::lock_guard<std::mutex> held(t.Lock);
  size_t live = 0;
  for (const Slot& slot : t.Slots) live += slot.D != nullptr ? 1 : 0;
  return live;
}

int Lookup(quor_dialer* Handle, Dialer*& Out) {
  if (Handle == nullptr) return QUOR_E_NULL_ARGUMENT;
  Table& t = Handles();
  std::lock_guard<std::mutex> held(t.Lock);
  Slot* slot = Decode(t, Handle);
  if (slot == nullptr) return QUOR_E_INVALID_DIALER;
  if (slot->D->Thread != GetCurrentThreadId()) return QUOR_E_WRONG_THREAD;
  Out = slot->D;
  return QUOR_OK;
}

Dialer* Find(quor_dialer* Handle) {
  Table& t = Handles();
  std::lock_guard<std::mutex> held(t.Lock);
  Slot* slot = Decode(t, Handle);
  return slot != nullptr && slot->D->Thread == GetCurrentThreadId() ? slot->D : nullptr;
}

int CopyOut(const String& Utf8, char* Buffer, size_t Size, size_t* Length) {
  if (Length != nullptr) *Length = Utf8.size();
  if (Buffer == nullptr && Size != 0) return QUOR_E_NULL_ARGUMENT;
  if (Utf8.size() >= Size) {
    if (Size > 0) Buffer[0] = '\0';
    return QUOR_E_BUFFER_TOO_SMALL;
  }
  std::memcpy(Buffer, Utf8.data(), Utf8.size());
  Buffer[Utf8.size()] = '\0';
  return QUOR_OK;
}

}  // namespace quorc

extern "C" {

int quor_dialer_new(quor_dialer** out) {
  return quorc::Guarded([&]() -> int { return quorc::NewDialer(out); });
}

int quor_dialer_free(quor_dialer* dialer) {
  return quorc::Guarded([&]() -> int { return quorc::FreeDialer(dialer); });
}

}  // extern "C"
