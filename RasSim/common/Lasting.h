// State of the library that static destruction never touches. A Lasting<T>
// lives in the module's own storage, is built on first use and is never
// destroyed: the library's unload, a clock callback or a backend's thread
// may still use it while the module unloads or the process exits, whatever
// order the static destructors run in. When the module unloads for good,
// ReleaseLasting() hands back what each one holds (its heap blocks), so
// unloading leaves nothing behind; the objects stay usable, empty.
#pragma once

#include <atomic>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

namespace rassim {

class LastingBase {
 public:
  virtual void Release() = 0;
  LastingBase* next = nullptr;

 protected:
  ~LastingBase() = default;  // never destroyed through this
};

// Every Lasting of this module that was built, newest first.
inline std::atomic<LastingBase*> g_lasting{nullptr};

template <class T>
class Lasting final : private LastingBase {
 public:
  constexpr Lasting() = default;
  Lasting(const Lasting&) = delete;
  Lasting& operator=(const Lasting&) = delete;

  T& operator*() {
    std::call_once(once_, [this] {
      value_ = new (storage_) T();
      next = g_lasting.load();
      while (!g_lasting.compare_exchange_weak(next, this)) {
      }
    });
    return *value_;
  }
  T* operator->() { return &**this; }

 private:
  void Release() override {
    if constexpr (std::is_swappable_v<T>) {  // a container; a lock holds nothing
      T empty;
      using std::swap;
      swap(*value_, empty);
    }
  }
  std::once_flag once_;
  T* value_ = nullptr;
  alignas(T) unsigned char storage_[sizeof(T)];
};

static_assert(std::is_trivially_destructible_v<Lasting<int>>, "a Lasting registers no static destructor");

// The module unloads: every Lasting gives back what it holds. Nothing else
// of the module may run at the same time.
inline void ReleaseLasting() {
  for (LastingBase* l = g_lasting.load(); l != nullptr; l = l->next) l->Release();
}

}  // namespace rassim
