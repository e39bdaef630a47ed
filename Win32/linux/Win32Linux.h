// The Win32 subset on Linux, inside libquorwin32: the state its files share
// (the user32 table of windows, classes and message queues, the thread's own
// queue and error code) and the helpers more than one of them calls. Private
// to the library: nothing outside Win32/linux includes it.
//
// Locking: modules have their own lock; everything of user32 shares one lock.
// No lock is ever held while a window procedure, a module's initialisation or
// a clock callback runs, so any of them may call back into this layer.
#pragma once

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Win32/Win32.h"

namespace qw_linux __attribute__((visibility("hidden"))) {

  // ---------------------------------------------------------------------------
  // Threads and errors

  extern constinit thread_local DWORD tLastError;

  // Our own thread ids: small, never reused within the process, the same for
  // every module (they all call into this library).
  DWORD ThisThreadId();

  inline BOOL Fail(DWORD error) {
    tLastError = error;
    return FALSE;
  }

  inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }

  inline std::string AsciiLower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = AsciiLower(c);
    return out;
  }

  // Hashing and comparing names as they are given, without copying them first:
  // titles byte for byte, class names ignoring ASCII case.
  struct BytesHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  struct NoCaseHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const {
      uint64_t h = 14695981039346656037ull;  // FNV-1a
      for (char c : text) h = (h ^ static_cast<unsigned char>(AsciiLower(c))) * 1099511628211ull;
      return static_cast<size_t>(h);
    }
  };
  struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
      }
      return true;
    }
  };

  // A "name" argument below 0x10000 is an integer atom (MAKEINTATOM), never a
  // pointer that could be read.
  inline bool IsIntAtom(LPCSTR name) {
    return reinterpret_cast<uintptr_t>(name) < 0x10000;
  }
  inline WORD IntAtom(LPCSTR name) {
    return static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
  }

  // ---------------------------------------------------------------------------
  // user32 state

  constexpr UINT kFirstRegisteredMessage = 0xC000;
  constexpr UINT kLastRegisteredMessage = 0xFFFF;
  constexpr WORD kFirstClassAtom = 0xC000;
  constexpr size_t kMaxAtomName = 255;
  constexpr size_t kQueueLimit = 10000;  // Windows' default posted-message quota
  constexpr HWND kFirstWindow = 0x00010000u;
  constexpr HWND kLastWindow = 0xFFFF0000u;  // keeps clear of HWND_MESSAGE and friends
  constexpr HWND kThreadMessagesOnly = static_cast<HWND>(-1);

  // A first-in first-out queue in one array used as a ring: taking from the
  // front and adding at the back allocate nothing once it has grown to the
  // depth it is used at (a queue that ran deep gives its memory back when it
  // runs empty).
  template <class T>
  class Ring {
   public:
    bool empty() const { return fSize == 0; }
    size_t size() const { return fSize; }
    T& operator[](size_t i) { return fItems[(fHead + i) & fMask]; }
    const T& operator[](size_t i) const { return fItems[(fHead + i) & fMask]; }
    T& front() { return fItems[fHead]; }
    void push_back(const T& item) { emplace_back() = item; }
    // A new element at the back, for the caller to fill in.
    T& emplace_back() {
      if (fSize == fMask + 1) Grow();
      return fItems[(fHead + fSize++) & fMask];
    }
    // Storage for the first few elements now, so that the first push does not
    // allocate (in whichever thread makes it).
    void reserve_first() {
      if (!fItems) Grow();
    }
    void pop_front() {
      fHead = (fHead + 1) & fMask;
      if (--fSize == 0) clear();
    }
    // Removes the first element equal to `item` (the later ones move up).
    void erase_value(const T& item) {
      size_t i = 0;
      while (i < fSize && !((*this)[i] == item)) ++i;
      if (i == fSize) return;
      for (; i + 1 < fSize; ++i) (*this)[i] = (*this)[i + 1];
      --fSize;
    }
    // Empties it and keeps its storage, for refilling at once.
    void reset() {
      fHead = 0;
      fSize = 0;
    }
    // Keeps the first n elements.
    void truncate(size_t n) {
      if (n == 0) return clear();
      if (n < fSize) fSize = n;
    }
    void clear() {
      fHead = 0;
      fSize = 0;
      if (fMask + 1 > kKeptCapacity) {
        fItems.reset();
        fMask = SIZE_MAX;
      }
    }

   private:
    static constexpr size_t kKeptCapacity = 1024;
    void Grow() {
      const size_t capacity = fItems ? (fMask + 1) * 2 : 8;  // a power of two
      std::unique_ptr<T[]> bigger(new T[capacity]);
      for (size_t i = 0; i < fSize; ++i) bigger[i] = (*this)[i];
      fItems = std::move(bigger);
      fMask = capacity - 1;
      fHead = 0;
    }
    std::unique_ptr<T[]> fItems;
    size_t fMask = SIZE_MAX;  // capacity - 1; without storage capacity reads as 0, so the first push grows it
    size_t fHead = 0;
    size_t fSize = 0;
  };

  struct WindowClass {
    std::string key;  // lower-case name
    WORD atom = 0;
    HINSTANCE instance = 0;
    WNDPROC proc = nullptr;
    int windows = 0;
  };

  struct Window {
    HWND handle = 0;
    uint32_t classId = 0;
    std::string classKey;
    WORD classAtom = 0;
    std::string title;
    HWND parent = 0;
    bool messageOnly = false;
    bool child = false;
    bool visible = false;
    bool iconic = false;
    bool destroying = false;
    WNDPROC proc = nullptr;
    LONG_PTR userData = 0;
    DWORD thread = 0;
    bool searchable = false;       // in the title and class index of FindWindowA
    std::vector<HWND> dependents;  // windows it parents or owns, in creation order
    Ring<uint64_t> queued;         // its posted messages waiting in its thread's queue
  };

  struct Queue;

  struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<Queue> sender;
  };

  // A posted message in its queue. Messages taken out of the middle (a peek for
  // one window) leave a gap that goes once it reaches the front, so a message's
  // place is always its sequence number minus the front's. One cache line each
  // (the ring's storage is aligned to it): a post writes, and a peek reads, one line.
  struct alignas(64) Posted {
    MSG msg;
    Window* window;  // null for a thread message
    bool live;
  };

  struct Queue {
    DWORD thread = 0;
    Ring<Posted> posted;
    uint64_t frontSequence = 0;     // sequence number of posted.front()
    size_t live = 0;                // posted messages not yet taken
    size_t postedQuits = 0;         // WM_QUIT messages among them
    Ring<uint64_t> threadQueued;    // sequence numbers of the thread messages
    std::deque<SentMessage*> sent;  // each lives on its sender's stack until done
    bool quit = false;
    int quitCode = 0;
    uint64_t version = 0;  // bumped by everything that may wake the owner
    int waiters = 0;       // threads blocked on `wake`
    std::condition_variable wake;
    int wakeFd = -1;             // an eventfd the owner polls (QuorQueueSetWakeFd), -1 when none
    bool wakeSignalled = false;  // wakeFd was written since the owner last took it
  };

  // Tells the owner's descriptor that its queue changed (with the lock held; an
  // eventfd's write never blocks, and a full counter is readable already).
  // Makes the owner's descriptor readable (lock held). Once written it stays
  // readable until the owner takes it (QuorQueueTakeWake), so later posts
  // make no system call.
  inline void SignalWakeFd(Queue & q) {
    if (q.wakeFd < 0 || q.wakeSignalled) return;
    q.wakeSignalled = true;
    const uint64_t one = 1;
    if (write(q.wakeFd, &one, sizeof(one)) < 0) return;
  }

  // Title and class index of the searchable (top-level, not message-only)
  // windows; every set is ordered by handle, i.e. by creation.
  struct TitleWindows {
    std::set<HWND> any;
    std::unordered_map<WORD, std::set<HWND>> byClass;
  };

  struct UserState {
    std::mutex lock;
    std::map<std::string, UINT> messages;
    UINT nextMessage = kFirstRegisteredMessage;
    std::unordered_map<std::string, WORD, NoCaseHash, NoCaseEqual> classAtoms;
    WORD nextClassAtom = kFirstClassAtom;
    bool classAtomsExhausted = false;
    std::map<uint32_t, WindowClass> classes;
    uint32_t nextClassId = 1;
    std::unordered_map<HWND, Window> windows;
    HWND nextWindow = kFirstWindow;
    std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
    std::unordered_map<std::string, TitleWindows, BytesHash, std::equal_to<>> byTitle;
    std::unordered_map<WORD, std::set<HWND>> byClass;
    std::set<HWND> searchable;
  };

  // Never destroyed: threads leaving after static destruction (and other
  // modules' destructors) still find a valid table.
  inline UserState& User() {
    static UserState* state = new UserState;
    return *state;
  }

  // Bumped (under the lock) whenever a window goes or its procedure changes, so
  // that a thread may keep what it last looked up about one of its own windows
  // and use it without the lock while the number stays the same.
  extern std::atomic<uint64_t> gWindowsChanged;

  // The window of the message this thread last took from its queue and the
  // procedure it had then: DispatchMessageA of that message needs no lock.
  struct LastTaken {
    HWND hwnd = 0;
    WNDPROC proc = nullptr;
    uint64_t changed = 0;
  };
  // The hottest per-thread data sits in the initial thread-local block (this
  // library is loaded with the program), reached without a call.
  extern constinit thread_local LastTaken tLastTaken [[gnu::tls_model("initial-exec")]];

  // The calling thread's queue, once it has one (cleared with the queue when
  // the thread ends).
  extern constinit thread_local Queue* tOwnQueue [[gnu::tls_model("initial-exec")]];

  // The calling thread's queue, made on first use (Messages.cpp).
  Queue& CreateOwnQueueLocked(UserState & u);
  std::shared_ptr<Queue> OwnQueuePtrLocked(UserState & u);

  inline Queue& OwnQueueLocked(UserState & u) {
    return tOwnQueue != nullptr ? *tOwnQueue : CreateOwnQueueLocked(u);
  }

  inline Window* FindWindowLocked(UserState & u, HWND h) {
    auto it = u.windows.find(h);
    return it == u.windows.end() ? nullptr : &it->second;
  }

  inline bool SendsDirectly(const Window& w) {
    return w.thread == ThisThreadId();
  }

  // Takes the posted message with this sequence number out of its queue
  // (Messages.cpp).
  void TakePostedLocked(Queue & q, uint64_t sequence);

  // Removes a window from the table with no message to it: its thread has
  // ended, so nobody could run its procedure (Windows.cpp).
  void DropWindowLocked(UserState & u, HWND h);

}  // namespace )
