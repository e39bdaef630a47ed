// Components and their ownership, the class registry, string lists, the
// component palette and the package unit tables.
#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include "Vcl/Vcl.h"

// ---------------------------------------------------------------- class registry
namespace {

struct ClassRegistry {
  std::mutex Lock;
  std::map<String, TComponentClass> ByName;  // keyed by the lower-cased class name
};

ClassRegistry& Registry() {
  // Never destroyed: package modules may unregister their classes while the
  // process shuts down, after this library's statics would have gone.
  static ClassRegistry* r = new ClassRegistry;
  return *r;
}

}  // namespace

void RegisterClass(TComponentClass Class) {
  if (Class == nullptr) throw Exception("RegisterClass: no class given");
  if (Class->ClassName.empty()) throw Exception("RegisterClass: the class has no name");
  ClassRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  auto [it, inserted] = r.ByName.emplace(LowerCase(Class->ClassName), Class);
  if (!inserted && it->second != Class) throw Exception("A class named " + Class->ClassName + " already exists");
}

void UnRegisterClass(TComponentClass Class) {
  if (Class == nullptr) return;
  ClassRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  auto it = r.ByName.find(LowerCase(Class->ClassName));
  // Only the class itself is removed, never another one of the same name.
  if (it != r.ByName.end() && it->second == Class) r.ByName.erase(it);
}

TComponentClass FindClass(const String& ClassName) {
  ClassRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  auto it = r.ByName.find(LowerCase(ClassName));
  return it == r.ByName.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- components
TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  fDestroying = true;
  // The derived destructors have run by now; what this component owns goes
  // last, the most recently inserted first. An owned component's destructor
  // may free siblings, so the list is read afresh each time.
  while (!fComponents.empty()) {
    TComponent* c = fComponents.back();
    fComponents.pop_back();
    c->fOwner = nullptr;
    delete c;
  }
  if (fOwner != nullptr) fOwner->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (AComponent->fOwner == this) return;
  if (AComponent->fOwner != nullptr) AComponent->fOwner->RemoveComponent(AComponent);
  fComponents.push_back(AComponent);
  AComponent->fOwner = this;
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  auto it = std::find(fComponents.begin(), fComponents.end(), AComponent);
  if (it == fComponents.end()) return;
  fComponents.erase(it);
  AComponent->fOwner = nullptr;
}

TComponentClass TComponent::ClassInfo() const {
  return &StaticClassInfo();
}

const TClassInfo& TComponent::StaticClassInfo() {
  static const TClassInfo info{
      "TComponent", nullptr, {}, [](TComponent* AOwner) -> TComponent* { return new TComponent(AOwner); }};
  return info;
}

// ---------------------------------------------------------------- string list
int TStringList::Add(const String& S) {
  fItems.push_back(S);
  return Count() - 1;
}

int TStringList::IndexOf(const String& S) const {
  const String key = LowerCase(S);
  for (size_t i = 0; i < fItems.size(); ++i) {
    if (LowerCase(fItems[i]) == key) return static_cast<int>(i);
  }
  return -1;
}

String TStringList::Text() const {
  String r;
  for (const String& s : fItems) {
    r += s;
    r += '\n';
  }
  return r;
}

// ---------------------------------------------------------------- palette
namespace {

struct Palette {
  std::mutex Lock;
  std::vector<TPaletteEntry> Entries;
  std::function<void(const String&, const std::vector<TComponentClass>&)> Hook;
};

Palette& ThePalette() {
  static Palette* p = new Palette;
  return *p;
}

}  // namespace

void RegisterComponents(const String& Page, std::initializer_list<TComponentClass> Classes) {
  // Checked before anything takes effect, so a bad list registers nothing.
  for (TComponentClass c : Classes) {
    if (c == nullptr) throw Exception("RegisterComponents: no class given for page " + Page);
  }
  const std::vector<TComponentClass> list(Classes);
  for (TComponentClass c : list) RegisterClass(c);
  decltype(Palette::Hook) hook;
  {
    Palette& p = ThePalette();
    std::lock_guard<std::mutex> g(p.Lock);
    for (TComponentClass c : list) p.Entries.push_back({Page, c});
    hook = p.Hook;
  }
  if (hook) hook(Page, list);
}

std::vector<TPaletteEntry> PaletteEntries() {
  Palette& p = ThePalette();
  std::lock_guard<std::mutex> g(p.Lock);
  return p.Entries;
}

void ClearPalette() {
  Palette& p = ThePalette();
  std::lock_guard<std::mutex> g(p.Lock);
  p.Entries.clear();
}

void SetRegisterComponentsHook(
    std::function<void(const String& Page, const std::vector<TComponentClass>& Classes)> Hook) {
  Palette& p = ThePalette();
  std::lock_guard<std::mutex> g(p.Lock);
  p.Hook = std::move(Hook);
}

// ---------------------------------------------------------------- packages
// A unit is known by its pair of routines: two modules that contain the same
// unit hand in the same pair. Each holds a reference count; the unit is
// initialised with its first reference and finalised with its last. Units
// without any routine have nothing to run and are not counted.
namespace {

using UnitKey = std::pair<TUnitProc, TUnitProc>;

std::map<UnitKey, int>& UnitCounts() {
  static auto* m = new std::map<UnitKey, int>;
  return *m;
}

bool TableEntries(const PackageInfoTable* Table, const PackageUnitEntry*& Units, int& Count) {
  if (Table == nullptr || Table->UnitCount <= 0 || Table->UnitInfo == nullptr) return false;
  Units = Table->UnitInfo;
  Count = Table->UnitCount;
  return true;
}

// Drops one reference; runs the finalisation when it was the last one. A
// unit that was never initialised is left alone.
void ReleaseUnit(const PackageUnitEntry& U) {
  if (U.Init == nullptr && U.FInit == nullptr) return;
  auto& counts = UnitCounts();
  auto it = counts.find(UnitKey(U.Init, U.FInit));
  if (it == counts.end()) return;  // never initialised: nothing to finalise
  if (--it->second > 0) return;
  counts.erase(it);
  if (U.FInit != nullptr) U.FInit();
}

}  // namespace

void InitializePackage(const PackageInfoTable* Table) {
  const PackageUnitEntry* units = nullptr;
  int count = 0;
  if (!TableEntries(Table, units, count)) return;
  auto& counts = UnitCounts();
  for (int i = 0; i < count; ++i) {
    const PackageUnitEntry& u = units[i];
    if (u.Init == nullptr && u.FInit == nullptr) continue;
    auto it = counts.find(UnitKey(u.Init, u.FInit));
    if (it != counts.end()) {
      ++it->second;
      continue;
    }
    try {
      if (u.Init != nullptr) u.Init();
    } catch (...) {
      // A failed initialisation leaves nothing of this table behind: the
      // units it initialised so far are finalised again, newest first.
      for (int j = i - 1; j >= 0; --j) {
        try {
          ReleaseUnit(units[j]);
        } catch (...) {
        }
      }
      throw;
    }
    counts.emplace(UnitKey(u.Init, u.FInit), 1);
  }
}

void FinalizePackage(const PackageInfoTable* Table) {
  const PackageUnitEntry* units = nullptr;
  int count = 0;
  if (!TableEntries(Table, units, count)) return;
  // Every unit is finalised even when an earlier finalisation fails; the
  // first failure is passed on afterwards.
  std::exception_ptr first;
  for (int i = count - 1; i >= 0; --i) {
    try {
      ReleaseUnit(units[i]);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}
