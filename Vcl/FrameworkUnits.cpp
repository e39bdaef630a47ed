// The framework's unit routines and their table.
#include "Vcl/FrameworkUnits.h"

#include <array>
#include <atomic>
#include <mutex>
#include <utility>

namespace {

constexpr std::array<const char*, FrameworkUnitCount> kNames = {
    "System",   "SysInit",  "Windows",  "Messages", "SysUtils", "Classes",  "TypInfo", "Consts",
    "Graphics", "Controls", "Forms",    "Dialogs",  "StdCtrls", "ExtCtrls", "Menus",   "Buttons",
    "ComCtrls", "CommCtrl", "ShellAPI", "ActiveX",  "Printers", "Clipbrd"};

std::array<std::atomic<int>, FrameworkUnitCount> gInits{};
std::array<std::atomic<int>, FrameworkUnitCount> gFinals{};

struct TraceHook {
  std::mutex Lock;
  std::function<void(const String&, bool)> Hook;
};
TraceHook& Trace() {
  static TraceHook* t = new TraceHook;  // outlives modules unloaded at exit
  return *t;
}

void Note(int Index, bool Init) {
  (Init ? gInits : gFinals)[static_cast<size_t>(Index)]++;
  std::function<void(const String&, bool)> hook;
  {
    TraceHook& t = Trace();
    std::lock_guard<std::mutex> g(t.Lock);
    hook = t.Hook;
  }
  if (hook) hook(kNames[static_cast<size_t>(Index)], Init);
}

// One distinct routine pair per unit: the loader knows a unit by its routines.
template <int N>
void UnitInit() {
  Note(N, true);
}
template <int N>
void UnitFinal() {
  Note(N, false);
}

template <int... N>
constexpr std::array<PackageUnitEntry, sizeof...(N)> MakeEntries(std::integer_sequence<int, N...>) {
  return {PackageUnitEntry{&UnitInit<N>, &UnitFinal<N>}...};
}

const std::array<PackageUnitEntry, FrameworkUnitCount> kEntries =
    MakeEntries(std::make_integer_sequence<int, FrameworkUnitCount>{});
const PackageInfoTable kTable{FrameworkUnitCount, kEntries.data()};

bool InRange(int Index) {
  return Index >= 0 && Index < FrameworkUnitCount;
}

}  // namespace

const PackageInfoTable* FrameworkPackageTable() {
  return &kTable;
}

const char* FrameworkUnitName(int Index) {
  return InRange(Index) ? kNames[static_cast<size_t>(Index)] : nullptr;
}

int FrameworkUnitInitCount(int Index) {
  return InRange(Index) ? gInits[static_cast<size_t>(Index)].load() : 0;
}

int FrameworkUnitFinalCount(int Index) {
  return InRange(Index) ? gFinals[static_cast<size_t>(Index)].load() : 0;
}

void SetUnitTraceHook(std::function<void(const String& Unit, bool Initialization)> Hook) {
  TraceHook& t = Trace();
  std::lock_guard<std::mutex> g(t.Lock);
  t.Hook = std::move(Hook);
}
