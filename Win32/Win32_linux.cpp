// The Win32 subset on Linux: module loading over dlopen, registered window
// messages, window classes and windows kept in a table, and one message queue
// per thread. Everything lives in this one shared library so that every
// module of the process sees the same windows, message numbers and queues.
//
// Locking: modules have their own lock; everything of user32 shares one lock.
// No lock is ever held while a window procedure, a module's initialisation or
// a clock callback runs, so any of them may call back into this layer.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Win32/QueueWake.h"
#include "Win32/WaitObjects.h"
#include "Win32/Win32.h"

namespace {

// ---------------------------------------------------------------------------
// Threads and errors

thread_local DWORD tLastError = 0;
std::atomic<DWORD> gLastThreadId{1000};

// Our own thread ids: small, never reused within the process, the same for
// every module (they all call into this library).
DWORD ThisThreadId() {
  thread_local DWORD id = gLastThreadId.fetch_add(4) + 4;
  return id;
}

BOOL Fail(DWORD error) {
  tLastError = error;
  return FALSE;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(const std::string& text) {
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
bool IsIntAtom(LPCSTR name) {
  return reinterpret_cast<uintptr_t>(name) < 0x10000;
}
WORD IntAtom(LPCSTR name) {
  return static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
}

// ---------------------------------------------------------------------------
// Modules

struct Module {
  std::string path;
  void* dl = nullptr;
  uint32_t refs = 0;
};

// The executable's handle; it is always loaded and never freed.
constexpr HMODULE kExeModule = 0x00400000u;
constexpr HMODULE kFirstModule = 0x10000000u;
constexpr HMODULE kModuleStep = 0x00010000u;

struct ModuleTable {
  std::mutex lock;
  std::map<HMODULE, Module> modules;
  HMODULE next = kFirstModule;
  std::string dllDirectory;
  bool hasDllDirectory = false;
};

ModuleTable& Modules() {
  static ModuleTable* table = new ModuleTable;  // outlives every other static
  return *table;
}

std::string ExePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// As on Windows, a name without an extension means a ".dll"; a trailing dot
// means "no extension, take the name as it is".
std::string WithDefaultExtension(const std::string& name) {
  std::string base = BaseName(name);
  if (!base.empty() && base.back() == '.') return name.substr(0, name.size() - 1);
  if (base.find('.') == std::string::npos) return name + ".dll";
  return name;
}

std::string AbsolutePath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string out(resolved);
  std::free(resolved);
  return out;
}

std::string LoadedPath(void* dl, const std::string& fallback) {
  struct link_map* map = nullptr;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
    return AbsolutePath(map->l_name);
  }
  return AbsolutePath(fallback);
}

// Our "system folder": the modules an installed Quor ships (its
// rasapi32.dll) live in "quor" beside the installed libquorwin32, as
// Windows keeps its own DLLs in the system folder. Quor's own build tree has
// no such folder (its programs find the modules beside themselves); built
// inside another project's tree, Quor names its build folder here
// (QUOR_BUILD_SYSTEM_FOLDER), so that the project's programs, wherever they
// lie, find the RAS service built with them.
#ifndef QUOR_BUILD_SYSTEM_FOLDER
#define QUOR_BUILD_SYSTEM_FOLDER ""
#endif
std::string SystemFolder() {
  const std::string buildTree = QUOR_BUILD_SYSTEM_FOLDER;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&SystemFolder), &info) == 0 || info.dli_fname == nullptr) return buildTree;
  const std::string installed = DirName(AbsolutePath(info.dli_fname)) + "/quor";
  struct stat st;
  const bool isInstalled = stat(installed.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return isInstalled || buildTree.empty() ? installed : buildTree;
}

void* OpenFirstFound(const std::string& file, bool systemOnly) {
  if (file.find('/') != std::string::npos) return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (systemOnly) {
    // The system folder and nothing else: not beside the executable, not the
    // DLL directory, not the loader's own search.
    const std::string system = SystemFolder();
    if (system.empty() || !IsFile(system + "/" + file)) return nullptr;
    return dlopen((system + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  // Beside the executable first, then the directory the application named,
  // then the system folder, then the system's own library search. The first
  // file found is the one loaded, as on Windows: a broken copy beside the
  // executable is not skipped.
  std::vector<std::string> candidates;
  candidates.push_back(DirName(ExePath()) + "/" + file);
  {
    ModuleTable& t = Modules();
    std::lock_guard<std::mutex> held(t.lock);
    if (t.hasDllDirectory && !t.dllDirectory.empty()) {
      candidates.push_back(t.dllDirectory + "/" + file);
    }
  }
  const std::string system = SystemFolder();
  if (!system.empty()) candidates.push_back(system + "/" + file);
  for (const std::string& candidate : candidates) {
    if (IsFile(candidate)) return dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
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
// place is always its sequence number minus the front's.
struct Posted {
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
  int wakeFd = -1;  // an eventfd the owner polls (QuorQueueSetWakeFd), -1 when none
};

// Tells the owner's descriptor that its queue changed (with the lock held; an
// eventfd's write never blocks).
void SignalWakeFd(const Queue& q) {
  if (q.wakeFd < 0) return;
  const uint64_t one = 1;
  if (write(q.wakeFd, &one, sizeof(one)) < 0) {
    // The counter is full: it is readable already.
  }
}

// Wakes a queue's waiters once the lock is released (declare it before the
// lock), so a woken thread does not block again at once on the lock still
// held by its waker.
class Waker {
 public:
  Waker() = default;
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  ~Waker() { Notify(); }
  // Called with the lock held, after the change the waiters look for.
  void Add(const std::shared_ptr<Queue>& q) {
    ++q->version;
    SignalWakeFd(*q);
    if (q->waiters > 0 && q != fFirst && q != fSecond) (fFirst ? fSecond : fFirst) = q;
  }
  // Called without the lock.
  void Notify() {
    if (fFirst) fFirst->wake.notify_all();
    if (fSecond) fSecond->wake.notify_all();
    fFirst.reset();
    fSecond.reset();
  }

 private:
  std::shared_ptr<Queue> fFirst;
  std::shared_ptr<Queue> fSecond;
};

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
UserState& User() {
  static UserState* state = new UserState;
  return *state;
}

void CleanUpThread(DWORD thread);

// Removes the thread's queue and windows when the thread ends, as Windows
// does, so posts to them fail instead of piling up.
struct ThreadGuard {
  DWORD thread = 0;
  ~ThreadGuard() {
    if (thread != 0) CleanUpThread(thread);
  }
};
thread_local ThreadGuard tGuard;

// Bumped (under the lock) whenever a window goes or its procedure changes, so
// that a thread may keep what it last looked up about one of its own windows
// and use it without the lock while the number stays the same.
std::atomic<uint64_t> gWindowsChanged{0};

// The window of the message this thread last took from its queue and the
// procedure it had then: DispatchMessageA of that message needs no lock.
struct LastTaken {
  HWND hwnd = 0;
  WNDPROC proc = nullptr;
  uint64_t changed = 0;
};
// The hottest per-thread data sits in the initial thread-local block (this
// library is loaded with the program), reached without a call.
thread_local LastTaken tLastTaken [[gnu::tls_model("initial-exec")]];

// The calling thread's queue, once it has one (cleared with the queue when
// the thread ends).
thread_local Queue* tOwnQueue [[gnu::tls_model("initial-exec")]] = nullptr;

Queue& CreateOwnQueueLocked(UserState& u) {
  DWORD id = ThisThreadId();
  auto it = u.queues.find(id);
  if (it == u.queues.end()) {
    auto q = std::make_shared<Queue>();
    q->thread = id;
    // A post from another thread then allocates nothing: a thread's first
    // allocation also sets up its own heap arena, which made the first post
    // of a signal-waiting thread cost about half a millisecond.
    q->posted.reserve_first();
    q->threadQueued.reserve_first();
    it = u.queues.emplace(id, q).first;
    tGuard.thread = id;
  }
  tOwnQueue = it->second.get();
  return *tOwnQueue;
}

inline Queue& OwnQueueLocked(UserState& u) {
  return tOwnQueue != nullptr ? *tOwnQueue : CreateOwnQueueLocked(u);
}

std::shared_ptr<Queue> OwnQueuePtrLocked(UserState& u) {
  OwnQueueLocked(u);
  return u.queues.at(ThisThreadId());
}

void IndexWindowLocked(UserState& u, Window& w) {
  if (w.messageOnly || w.child || w.destroying || w.searchable) return;
  w.searchable = true;
  TitleWindows& t = u.byTitle[w.title];
  t.any.insert(w.handle);
  t.byClass[w.classAtom].insert(w.handle);
  u.byClass[w.classAtom].insert(w.handle);
  u.searchable.insert(w.handle);
}

void UnindexWindowLocked(UserState& u, Window& w) {
  if (!w.searchable) return;
  w.searchable = false;
  auto t = u.byTitle.find(w.title);
  if (t != u.byTitle.end()) {
    t->second.any.erase(w.handle);
    auto c = t->second.byClass.find(w.classAtom);
    if (c != t->second.byClass.end()) {
      c->second.erase(w.handle);
      if (c->second.empty()) t->second.byClass.erase(c);
    }
    if (t->second.any.empty()) u.byTitle.erase(t);
  }
  auto c = u.byClass.find(w.classAtom);
  if (c != u.byClass.end()) {
    c->second.erase(w.handle);
    if (c->second.empty()) u.byClass.erase(c);
  }
  u.searchable.erase(w.handle);
}

Window* FindWindowLocked(UserState& u, HWND h) {
  auto it = u.windows.find(h);
  return it == u.windows.end() ? nullptr : &it->second;
}

// Waits on the queue's condition; waiters are counted so that a post to a
// thread that is not waiting costs no wake-up call.
template <class Wait>
void WaitOn(Queue& q, Wait wait) {
  ++q.waiters;
  wait();
  --q.waiters;
}

BOOL PostLocked(Queue& q, Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (q.live >= kQueueLimit) return Fail(ERROR_NOT_ENOUGH_QUOTA);
  if (q.posted.empty()) q.frontSequence = 0;
  const uint64_t sequence = q.frontSequence + q.posted.size();
  Posted& p = q.posted.emplace_back();
  p.msg = MSG{};
  p.msg.hwnd = w != nullptr ? w->handle : 0;
  p.msg.message = message;
  p.msg.wParam = wParam;
  p.msg.lParam = lParam;
  p.msg.time = static_cast<DWORD>(QuorClockNow());
  p.window = w;
  p.live = true;
  (w != nullptr ? w->queued : q.threadQueued).push_back(sequence);
  ++q.live;
  if (message == WM_QUIT) ++q.postedQuits;
  SignalWakeFd(q);
  return TRUE;
}

// Moves the waiting messages together, dropping the places of the ones taken
// from behind them. The front keeps its number; the others get consecutive
// numbers in the same order, and the lists of each window and of the thread
// are rewritten with them (still in posting order).
[[gnu::noinline, gnu::cold]] void CompactPostedLocked(Queue& q) {
  for (size_t i = 0; i < q.posted.size(); ++i) {
    const Posted& p = q.posted[i];
    if (p.live) (p.window != nullptr ? p.window->queued : q.threadQueued).reset();
  }
  size_t kept = 0;
  for (size_t i = 0; i < q.posted.size(); ++i) {
    if (!q.posted[i].live) continue;
    if (kept != i) q.posted[kept] = q.posted[i];
    const Posted& p = q.posted[kept];
    (p.window != nullptr ? p.window->queued : q.threadQueued).push_back(q.frontSequence + kept);
    ++kept;
  }
  q.posted.truncate(kept);
}

// Places of taken messages a queue may hold behind a waiting one before it is
// compacted, beyond as many as there are waiting messages: compacting then
// costs a constant share per message taken.
constexpr size_t kGapSlack = 64;

// Takes the posted message with this sequence number out of the queue.
void TakePostedLocked(Queue& q, uint64_t sequence) {
  Posted& p = q.posted[sequence - q.frontSequence];
  Ring<uint64_t>& list = p.window != nullptr ? p.window->queued : q.threadQueued;
  if (!list.empty() && list.front() == sequence) {
    list.pop_front();
  } else {
    list.erase_value(sequence);
  }
  p.live = false;
  p.window = nullptr;
  --q.live;
  if (p.msg.message == WM_QUIT) --q.postedQuits;
  while (!q.posted.empty() && !q.posted.front().live) {
    q.posted.pop_front();
    ++q.frontSequence;
  }
  // A message left waiting at the front (one for a window only ever peeked
  // for by its own filter) would otherwise keep every place behind it.
  if (q.posted.size() > 2 * q.live + kGapSlack) [[unlikely]]
    CompactPostedLocked(q);
}

void FinishSent(SentMessage& sm, LRESULT result, Waker& waker) {
  sm.result = result;
  sm.done = true;
  if (sm.sender) waker.Add(sm.sender);
}

// Runs the messages other threads sent to this thread's windows. Called with
// the lock held; drops it around each window procedure.
void ProcessSentLocked(UserState& u, Queue& q, std::unique_lock<std::mutex>& held) {
  while (!q.sent.empty()) {
    Waker waker;
    SentMessage* sm = q.sent.front();
    q.sent.pop_front();
    Window* w = FindWindowLocked(u, sm->hwnd);
    if (w == nullptr || w->thread != q.thread || w->proc == nullptr) {
      FinishSent(*sm, 0, waker);
    } else {
      WNDPROC proc = w->proc;
      held.unlock();
      LRESULT result = proc(sm->hwnd, sm->message, sm->wParam, sm->lParam);
      held.lock();
      FinishSent(*sm, result, waker);
    }
    held.unlock();
    waker.Notify();
    held.lock();
  }
}

bool InRange(UINT message, UINT minMsg, UINT maxMsg) {
  return (minMsg == 0 && maxMsg == 0) || (message >= minMsg && message <= maxMsg);
}

bool HasInputLocked(const Queue& q) {
  return q.live > 0 || !q.sent.empty() || q.quit;
}

// The first of these messages (sequence numbers, in order) within the range.
uint64_t FirstInRange(const Queue& q, const Ring<uint64_t>& list, UINT minMsg, UINT maxMsg) {
  for (size_t i = 0; i < list.size(); ++i) {
    const uint64_t sequence = list[i];
    if (InRange(q.posted[sequence - q.frontSequence].msg.message, minMsg, maxMsg)) return sequence;
  }
  return UINT64_MAX;
}

// The window and every window below it through WS_CHILD links.
void CollectFamilyLocked(UserState& u, Window& w, std::vector<Window*>& out) {
  out.push_back(&w);
  for (HWND d : w.dependents) {
    Window* dw = FindWindowLocked(u, d);
    if (dw != nullptr && dw->child && out.size() < 100000) CollectFamilyLocked(u, *dw, out);
  }
}

// The sequence number of the first posted message the filter takes, or
// UINT64_MAX. Only the messages of the windows named are looked at, and a
// look for WM_QUIT alone costs nothing while none is posted.
uint64_t FindPostedLocked(UserState& u, Queue& q, HWND h, UINT minMsg, UINT maxMsg) {
  if (q.live == 0) return UINT64_MAX;
  if (h == kThreadMessagesOnly) return FirstInRange(q, q.threadQueued, minMsg, maxMsg);
  if (h != 0) {
    Window* w = FindWindowLocked(u, h);
    if (w == nullptr) return UINT64_MAX;
    if (w->dependents.empty()) return FirstInRange(q, w->queued, minMsg, maxMsg);
    std::vector<Window*> family;
    CollectFamilyLocked(u, *w, family);
    uint64_t first = UINT64_MAX;
    for (Window* member : family) first = std::min(first, FirstInRange(q, member->queued, minMsg, maxMsg));
    return first;
  }
  if (minMsg == WM_QUIT && maxMsg == WM_QUIT && q.postedQuits == 0) return UINT64_MAX;
  for (size_t i = 0; i < q.posted.size(); ++i) {
    const Posted& p = q.posted[i];
    if (p.live && InRange(p.msg.message, minMsg, maxMsg)) return q.frontSequence + i;
  }
  return UINT64_MAX;
}

// 1: got a message, 0: nothing, -1: bad arguments.
int PeekLocked(UserState& u, Queue& q, std::unique_lock<std::mutex>& held, LPMSG out, HWND h, UINT minMsg, UINT maxMsg,
               bool remove) {
  if (!q.sent.empty()) ProcessSentLocked(u, q, held);
  if (h != 0 && h != kThreadMessagesOnly && FindWindowLocked(u, h) == nullptr) {
    tLastError = ERROR_INVALID_WINDOW_HANDLE;
    return -1;
  }
  // A window's messages leave the queue with the window, so every message
  // found here still has its window.
  const uint64_t found = FindPostedLocked(u, q, h, minMsg, maxMsg);
  if (found != UINT64_MAX) {
    const Posted& p = q.posted[found - q.frontSequence];
    *out = p.msg;
    if (p.window != nullptr && !p.window->destroying) {
      tLastTaken = LastTaken{p.window->handle, p.window->proc, gWindowsChanged.load(std::memory_order_relaxed)};
    }
    if (remove) TakePostedLocked(q, found);
    return 1;
  }
  // WM_QUIT comes after the posted messages, whatever the filter.
  if (q.quit) {
    MSG m{};
    m.message = WM_QUIT;
    m.wParam = static_cast<WPARAM>(q.quitCode);
    m.time = static_cast<DWORD>(QuorClockNow());
    *out = m;
    if (remove) q.quit = false;
    return 1;
  }
  return 0;
}

// Waits (in real time) until something new arrives in the queue, or until
// `timeout` passes.
void WaitForChange(Queue& q, std::unique_lock<std::mutex>& held, std::chrono::milliseconds timeout) {
  uint64_t seen = q.version;
  WaitOn(q, [&] { q.wake.wait_for(held, timeout, [&] { return q.version != seen; }); });
}

// Removes a window from the table with no message to it: its thread has
// ended, so nobody could run its procedure.
void DropWindowLocked(UserState& u, HWND h) {
  auto it = u.windows.find(h);
  if (it == u.windows.end()) return;
  Window& w = it->second;
  gWindowsChanged.fetch_add(1, std::memory_order_release);
  UnindexWindowLocked(u, w);
  auto cls = u.classes.find(w.classId);
  if (cls != u.classes.end() && cls->second.windows > 0) --cls->second.windows;
  auto q = u.queues.find(w.thread);
  if (q != u.queues.end()) {
    while (!w.queued.empty()) TakePostedLocked(*q->second, w.queued.front());
  }
  if (Window* parent = FindWindowLocked(u, w.parent)) {
    auto& siblings = parent->dependents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), h), siblings.end());
  }
  u.windows.erase(it);
}

void CleanUpThread(DWORD thread) {
  Waker waker;
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  std::vector<HWND> owned;
  for (auto& [h, w] : u.windows) {
    if (w.thread == thread) owned.push_back(h);
  }
  for (HWND h : owned) DropWindowLocked(u, h);
  if (thread == ThisThreadId()) tOwnQueue = nullptr;
  auto it = u.queues.find(thread);
  if (it == u.queues.end()) return;
  std::shared_ptr<Queue> q = it->second;
  u.queues.erase(it);
  // Threads waiting in SendMessageA for us get 0 rather than waiting forever.
  for (auto& sm : q->sent) FinishSent(*sm, 0, waker);
  q->sent.clear();
  q->posted.clear();
  q->threadQueued.clear();
  q->live = 0;
  q->postedQuits = 0;
}

const WindowClass* FindClassLocked(UserState& u, LPCSTR name, HINSTANCE instance, uint32_t* id) {
  const WindowClass* any = nullptr;
  uint32_t anyId = 0;
  std::string key;
  WORD atom = 0;
  if (IsIntAtom(name)) {
    atom = IntAtom(name);
  } else {
    key = AsciiLower(std::string(name));
  }
  for (auto& [classId, c] : u.classes) {
    bool match = atom != 0 ? c.atom == atom : c.key == key;
    if (!match) continue;
    if (c.instance == instance) {
      *id = classId;
      return &c;
    }
    if (any == nullptr) {
      any = &c;
      anyId = classId;
    }
  }
  *id = anyId;
  return any;
}

bool SendsDirectly(const Window& w) {
  return w.thread == ThisThreadId();
}

// Destroys a window and then the windows it parents or owns. A window whose
// WM_CREATE refused the creation gets no WM_DESTROY, as on Windows.
BOOL DestroyWindowAndDependents(HWND hWnd, bool sendDestroy) {
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (!SendsDirectly(*w)) return Fail(ERROR_ACCESS_DENIED);  // only its own thread may
  if (w->destroying) return TRUE;  // already on its way out (e.g. called again from WM_DESTROY)
  w->destroying = true;
  gWindowsChanged.fetch_add(1, std::memory_order_release);
  UnindexWindowLocked(u, *w);
  WNDPROC proc = w->proc;
  held.unlock();
  if (sendDestroy) proc(hWnd, WM_DESTROY, 0, 0);

  // Then the windows it parents or owns, in creation order.
  held.lock();
  std::vector<HWND> dependents;
  std::vector<HWND> foreign;
  w = FindWindowLocked(u, hWnd);
  const std::vector<HWND> all = w != nullptr ? w->dependents : std::vector<HWND>();
  for (HWND h : all) {
    Window* other = FindWindowLocked(u, h);
    if (other == nullptr || other->destroying) continue;
    (SendsDirectly(*other) ? dependents : foreign).push_back(h);
  }
  // A dependent window of another thread cannot get WM_DESTROY from here; it
  // goes without a message rather than outliving its parent.
  for (HWND h : foreign) DropWindowLocked(u, h);
  held.unlock();
  for (HWND h : dependents) DestroyWindowAndDependents(h, true);
  held.lock();
  DropWindowLocked(u, hWnd);
  return TRUE;
}

}  // namespace

// A SetEvent from any thread: every thread waiting on its queue looks at
// its events again.
void qw_wait::WakeQueueWaiters() {
  std::vector<std::shared_ptr<Queue>> waiting;
  {
    UserState& u = User();
    std::lock_guard<std::mutex> held(u.lock);
    for (auto& entry : u.queues) {
      ++entry.second->version;
      SignalWakeFd(*entry.second);
      if (entry.second->waiters > 0) waiting.push_back(entry.second);
    }
  }
  for (auto& q : waiting) q->wake.notify_all();
}

extern "C" {

void QuorQueueSetWakeFd(int fd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  OwnQueueLocked(u).wakeFd = fd;
}

// ---------------------------------------------------------------------------
// kernel32

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  return LoadLibraryExA(lpLibFileName, 0, 0);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') return Fail(ERROR_INVALID_PARAMETER);
  if (hFile != 0 || (dwFlags & ~static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32)) != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string file = WithDefaultExtension(lpLibFileName);
  // The lock is not held here: the module's initialisation may itself call
  // into this layer (even LoadLibraryA).
  void* dl = OpenFirstFound(file, (dwFlags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0);
  if (dl == nullptr) return Fail(ERROR_MOD_NOT_FOUND);
  ModuleTable& t = Modules();
  std::unique_lock<std::mutex> held(t.lock);
  // Each LoadLibraryA holds one dlopen reference and each FreeLibrary gives
  // one back, so the object is unloaded exactly when our count reaches 0.
  for (auto& [handle, m] : t.modules) {
    if (m.dl == dl) {
      ++m.refs;
      return handle;
    }
  }
  if (t.next >= 0xFFF00000u) {
    held.unlock();
    dlclose(dl);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  HMODULE handle = t.next;
  t.next += kModuleStep;
  Module m;
  m.dl = dl;
  m.refs = 1;
  m.path = LoadedPath(dl, file);
  t.modules.emplace(handle, std::move(m));
  return handle;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (lpProcName == nullptr || IsIntAtom(lpProcName)) {
    tLastError = ERROR_PROC_NOT_FOUND;  // no exports by ordinal here
    return nullptr;
  }
  ModuleTable& t = Modules();
  std::lock_guard<std::mutex> held(t.lock);
  void* dl = nullptr;
  if (hModule == kExeModule) {
    dl = dlopen(nullptr, RTLD_NOW);
    if (dl != nullptr) dlclose(dl);  // the executable stays loaded; the handle stays valid
  } else {
    auto it = t.modules.find(hModule);
    if (it == t.modules.end()) {
      tLastError = ERROR_INVALID_HANDLE;
      return nullptr;
    }
    dl = it->second.dl;
  }
  void* symbol = dl != nullptr ? dlsym(dl, lpProcName) : nullptr;
  if (symbol == nullptr) {
    tLastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (hLibModule == kExeModule) return TRUE;
  ModuleTable& t = Modules();
  void* dl = nullptr;
  {
    std::lock_guard<std::mutex> held(t.lock);
    auto it = t.modules.find(hLibModule);
    if (it == t.modules.end()) return Fail(ERROR_INVALID_HANDLE);
    dl = it->second.dl;
    if (--it->second.refs == 0) t.modules.erase(it);
  }
  // Outside the lock: the module's finalisation may call back into us.
  dlclose(dl);
  return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr) return kExeModule;
  if (lpModuleName[0] == '\0') return Fail(ERROR_MOD_NOT_FOUND);
  std::string name = WithDefaultExtension(lpModuleName);
  bool byPath = name.find('/') != std::string::npos;
  std::string wanted = byPath ? AbsolutePath(name) : AsciiLower(name);
  ModuleTable& t = Modules();
  std::lock_guard<std::mutex> held(t.lock);
  for (auto& [handle, m] : t.modules) {
    if (byPath ? m.path == wanted : AsciiLower(BaseName(m.path)) == wanted) return handle;
  }
  return Fail(ERROR_MOD_NOT_FOUND);
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  if (hModule == 0 || hModule == kExeModule) {
    path = ExePath();
  } else {
    ModuleTable& t = Modules();
    std::lock_guard<std::mutex> held(t.lock);
    auto it = t.modules.find(hModule);
    if (it == t.modules.end()) return Fail(ERROR_MOD_NOT_FOUND);
    path = it->second.path;
  }
  if (lpFilename == nullptr || nSize == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // Like current Windows: a short buffer gets the truncated, terminated path,
  // the result is nSize and the error says the buffer was too small.
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    tLastError = ERROR_INSUFFICIENT_BUFFER;
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  tLastError = ERROR_SUCCESS;
  return static_cast<DWORD>(path.size());
}

BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName) {
  ModuleTable& t = Modules();
  std::lock_guard<std::mutex> held(t.lock);
  if (lpPathName == nullptr || lpPathName[0] == '\0') {
    t.dllDirectory.clear();
    t.hasDllDirectory = false;
  } else {
    t.dllDirectory = lpPathName;
    t.hasDllDirectory = true;
  }
  return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  QuorSleep(dwMilliseconds);
}

DWORD WINAPI GetTickCount(void) {
  return static_cast<DWORD>(QuorClockNow());
}

DWORD WINAPI GetCurrentThreadId(void) {
  return ThisThreadId();
}

DWORD WINAPI GetCurrentProcessId(void) {
  return static_cast<DWORD>(getpid());
}

DWORD WINAPI GetLastError(void) {
  return tLastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  tLastError = dwErrCode;
}

// ---------------------------------------------------------------------------
// user32: registered messages and classes

UINT WINAPI RegisterWindowMessageA(LPCSTR lpString) {
  if (lpString == nullptr || IsIntAtom(lpString) || lpString[0] == '\0') {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string key = AsciiLower(std::string(lpString));
  if (key.size() > kMaxAtomName) return Fail(ERROR_INVALID_PARAMETER);
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  auto it = u.messages.find(key);
  if (it != u.messages.end()) return it->second;
  if (u.nextMessage > kLastRegisteredMessage) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  UINT number = u.nextMessage++;
  u.messages.emplace(key, number);
  return number;
}

WORD WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
  if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr || lpWndClass->lpszClassName == nullptr ||
      IsIntAtom(lpWndClass->lpszClassName) || lpWndClass->lpszClassName[0] == '\0') {
    return static_cast<WORD>(Fail(ERROR_INVALID_PARAMETER));
  }
  std::string key = AsciiLower(std::string(lpWndClass->lpszClassName));
  if (key.size() > kMaxAtomName) return static_cast<WORD>(Fail(ERROR_INVALID_PARAMETER));
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  for (auto& [id, c] : u.classes) {
    if (c.key == key && c.instance == lpWndClass->hInstance) {
      return static_cast<WORD>(Fail(ERROR_CLASS_ALREADY_EXISTS));
    }
  }
  // One name, one atom, for the life of the process.
  WORD atom;
  auto known = u.classAtoms.find(key);
  if (known != u.classAtoms.end()) {
    atom = known->second;
  } else {
    if (u.classAtomsExhausted) return static_cast<WORD>(Fail(ERROR_NOT_ENOUGH_MEMORY));
    atom = u.nextClassAtom;
    if (u.nextClassAtom == 0xFFFF) {
      u.classAtomsExhausted = true;
    } else {
      ++u.nextClassAtom;
    }
    u.classAtoms.emplace(key, atom);
  }
  WindowClass c;
  c.key = key;
  c.atom = atom;
  c.instance = lpWndClass->hInstance;
  c.proc = lpWndClass->lpfnWndProc;
  u.classes.emplace(u.nextClassId++, std::move(c));
  return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
  if (lpClassName == nullptr) return Fail(ERROR_CLASS_DOES_NOT_EXIST);
  std::string key = IsIntAtom(lpClassName) ? std::string() : AsciiLower(std::string(lpClassName));
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  for (auto it = u.classes.begin(); it != u.classes.end(); ++it) {
    const WindowClass& c = it->second;
    bool match = IsIntAtom(lpClassName) ? c.atom == IntAtom(lpClassName) : c.key == key;
    if (!match || c.instance != hInstance) continue;
    if (c.windows > 0) return Fail(ERROR_CLASS_HAS_WINDOWS);
    u.classes.erase(it);
    return TRUE;
  }
  return Fail(ERROR_CLASS_DOES_NOT_EXIST);
}

// ---------------------------------------------------------------------------
// user32: windows

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  if (lpClassName == nullptr) return Fail(ERROR_CANNOT_FIND_WND_CLASS);
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  uint32_t classId = 0;
  const WindowClass* cls = FindClassLocked(u, lpClassName, hInstance, &classId);
  if (cls == nullptr) return Fail(ERROR_CANNOT_FIND_WND_CLASS);
  Window w;
  w.messageOnly = hWndParent == HWND_MESSAGE;
  if (!w.messageOnly && hWndParent != 0) {
    if (FindWindowLocked(u, hWndParent) == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    w.parent = hWndParent;
    w.child = (dwStyle & WS_CHILD) != 0;  // without WS_CHILD it is an owned top-level window
  } else if ((dwStyle & WS_CHILD) != 0 && !w.messageOnly) {
    return Fail(ERROR_TLW_WITH_WSCHILD);
  }
  if (u.nextWindow >= kLastWindow) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  HWND h = u.nextWindow;
  u.nextWindow += 2;  // never reused: a stale handle never names a new window
  w.handle = h;
  w.classId = classId;
  w.classKey = cls->key;
  w.classAtom = cls->atom;
  w.title = lpWindowName != nullptr && !IsIntAtom(lpWindowName) ? lpWindowName : "";
  w.visible = (dwStyle & WS_VISIBLE) != 0;
  w.iconic = (dwStyle & WS_MINIMIZE) != 0;
  w.proc = cls->proc;
  w.thread = ThisThreadId();
  u.classes[classId].windows++;
  OwnQueueLocked(u);
  w.queued.reserve_first();  // as the queue's rings: the first post to the window allocates nothing
  WNDPROC proc = w.proc;
  if (w.parent != 0) FindWindowLocked(u, w.parent)->dependents.push_back(h);
  IndexWindowLocked(u, u.windows.emplace(h, std::move(w)).first->second);
  held.unlock();

  CREATESTRUCTA cs{};
  cs.lpCreateParams = lpParam;
  cs.hInstance = hInstance;
  cs.hMenu = hMenu;
  cs.hwndParent = hWndParent;
  cs.cy = nHeight;
  cs.cx = nWidth;
  cs.y = Y;
  cs.x = X;
  cs.style = static_cast<LONG>(dwStyle);
  cs.lpszName = lpWindowName;
  cs.lpszClass = lpClassName;
  cs.dwExStyle = dwExStyle;
  if (proc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    // The window refused to be created: it goes again at once.
    DestroyWindowAndDependents(h, false);
    return Fail(ERROR_CANCELLED);
  }
  return h;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  return DestroyWindowAndDependents(hWnd, true);
}

BOOL WINAPI IsWindow(HWND hWnd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  return FindWindowLocked(u, hWnd) != nullptr ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  if (Msg == WM_CLOSE) DestroyWindow(hWnd);
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  LONG_PTR previous;
  switch (nIndex) {
    case GWLP_USERDATA:
      previous = w->userData;
      w->userData = dwNewLong;
      break;
    case GWLP_WNDPROC:
      // A window without a procedure could never be called safely.
      if (dwNewLong == 0) return Fail(ERROR_INVALID_PARAMETER);
      previous = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(dwNewLong);
      gWindowsChanged.fetch_add(1, std::memory_order_release);
      break;
    default:
      return Fail(ERROR_INVALID_INDEX);
  }
  tLastError = ERROR_SUCCESS;  // so that a previous value of 0 can be told from failure
  return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  switch (nIndex) {
    case GWLP_USERDATA:
      return w->userData;
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    default:
      return Fail(ERROR_INVALID_INDEX);
  }
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (lpString == nullptr || nMaxCount <= 0) return Fail(ERROR_INVALID_PARAMETER);
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) {
    lpString[0] = '\0';
    return Fail(ERROR_INVALID_WINDOW_HANDLE);
  }
  size_t n = std::min(w->title.size(), static_cast<size_t>(nMaxCount - 1));
  std::memcpy(lpString, w->title.data(), n);
  lpString[n] = '\0';
  return static_cast<int>(n);
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  const bool searchable = w->searchable;
  UnindexWindowLocked(u, *w);
  w->title = lpString != nullptr && !IsIntAtom(lpString) ? lpString : "";
  if (searchable) IndexWindowLocked(u, *w);
  return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  const bool anyTitle = lpWindowName == nullptr || IsIntAtom(lpWindowName);
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  // Every class name has one atom, so windows are indexed by atom.
  WORD classAtom = 0;
  if (lpClassName != nullptr) {
    if (IsIntAtom(lpClassName)) {
      classAtom = IntAtom(lpClassName);
    } else {
      auto known = u.classAtoms.find(std::string_view(lpClassName));
      if (known == u.classAtoms.end()) return 0;
      classAtom = known->second;
    }
  }
  // The first created of the matching windows.
  const std::set<HWND>* found = nullptr;
  if (anyTitle) {
    if (lpClassName == nullptr) {
      found = &u.searchable;
    } else {
      auto c = u.byClass.find(classAtom);
      if (c != u.byClass.end()) found = &c->second;
    }
  } else {
    auto t = u.byTitle.find(std::string_view(lpWindowName));
    if (t != u.byTitle.end()) {
      if (lpClassName == nullptr) {
        found = &t->second.any;
      } else {
        auto c = t->second.byClass.find(classAtom);
        if (c != t->second.byClass.end()) found = &c->second;
      }
    }
  }
  return found == nullptr || found->empty() ? 0 : *found->begin();
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  BOOL wasVisible = w->visible ? TRUE : FALSE;
  switch (nCmdShow) {
    case SW_HIDE:
      w->visible = false;
      break;
    case SW_SHOWNORMAL:
    case SW_SHOWMAXIMIZED:
    case SW_SHOWNOACTIVATE:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
      w->visible = true;
      w->iconic = false;
      break;
    case SW_SHOW:
    case SW_SHOWNA:
      w->visible = true;
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
      w->visible = true;
      w->iconic = true;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
  return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  // A child shows only while every window above it does.
  for (int depth = 0; depth < 1000; ++depth) {
    Window* w = FindWindowLocked(u, hWnd);
    if (w == nullptr || !w->visible) return FALSE;
    if (!w->child) return TRUE;
    hWnd = w->parent;
  }
  return FALSE;
}

BOOL WINAPI IsIconic(HWND hWnd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  return w != nullptr && w->iconic ? TRUE : FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (lpdwProcessId != nullptr) *lpdwProcessId = static_cast<DWORD>(getpid());
  return w->thread;
}

// ---------------------------------------------------------------------------
// user32: messages

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  UserState& u = User();
  std::shared_ptr<Queue> waiting;  // another thread's queue with its owner waiting on it
  {
    std::lock_guard<std::mutex> held(u.lock);
    if (hWnd == 0) {
      // As on Windows: a message for no window is a thread message to ourselves.
      return PostLocked(OwnQueueLocked(u), nullptr, Msg, wParam, lParam);
    }
    Window* w = FindWindowLocked(u, hWnd);
    if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (tOwnQueue != nullptr && w->thread == tOwnQueue->thread) {
      return PostLocked(*tOwnQueue, w, Msg, wParam, lParam);  // nobody waits on our own queue
    }
    auto q = u.queues.find(w->thread);
    if (q == u.queues.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (!PostLocked(*q->second, w, Msg, wParam, lParam)) return FALSE;
    ++q->second->version;
    if (q->second->waiters > 0) waiting = q->second;
  }
  // Woken once the lock is released, so it does not block again at once on it.
  if (waiting) waiting->wake.notify_all();
  return TRUE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Waker waker;
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  if (idThread == ThisThreadId()) return PostLocked(OwnQueueLocked(u), nullptr, Msg, wParam, lParam);
  auto q = u.queues.find(idThread);
  if (q == u.queues.end()) return Fail(ERROR_INVALID_THREAD_ID);
  if (!PostLocked(*q->second, nullptr, Msg, wParam, lParam)) return FALSE;
  waker.Add(q->second);
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Waker waker;
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, hWnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (SendsDirectly(*w)) {
    WNDPROC proc = w->proc;
    held.unlock();
    return proc(hWnd, Msg, wParam, lParam);
  }
  // Another thread's window: hand the message to its owner and wait until the
  // owner has run it from its message loop. While waiting we still run what
  // others send to us, so two threads sending to each other do not deadlock.
  auto owner = u.queues.find(w->thread);
  if (owner == u.queues.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  std::shared_ptr<Queue> ownerQueue = owner->second;
  std::shared_ptr<Queue> mine = OwnQueuePtrLocked(u);
  // The sender waits until the message is done, so it can live on our stack.
  SentMessage sm{hWnd, Msg, wParam, lParam, 0, false, mine};
  ownerQueue->sent.push_back(&sm);
  waker.Add(ownerQueue);
  held.unlock();
  waker.Notify();
  held.lock();
  while (!sm.done) {
    ProcessSentLocked(u, *mine, held);
    if (sm.done) break;
    uint64_t seen = mine->version;
    WaitOn(*mine, [&] { mine->wake.wait(held, [&] { return sm.done || mine->version != seen; }); });
  }
  return sm.result;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (lpMsg == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Queue& q = OwnQueueLocked(u);
  int got = PeekLocked(u, q, held, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0);
  return got == 1 ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr) {
    tLastError = ERROR_INVALID_PARAMETER;
    return -1;
  }
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueuePtrLocked(u);
  for (;;) {
    int got = PeekLocked(u, *q, held, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true);
    if (got < 0) return -1;
    if (got > 0) return lpMsg->message == WM_QUIT ? 0 : 1;
    if (QuorClockIsVirtual()) {
      // Waiting on the virtual clock means letting it run on to the next
      // scheduled callback (which may post to us). With nothing scheduled
      // only another thread can help; check back now and then, since it
      // might schedule a callback instead of posting.
      uint64_t next = QuorClockNextDue();
      if (next != UINT64_MAX) {
        held.unlock();
        QuorClockAdvanceTo(next);
        held.lock();
        continue;
      }
      WaitForChange(*q, held, std::chrono::milliseconds(20));
    } else {
      const uint64_t seen = q->version;
      WaitOn(*q, [&] { q->wake.wait(held, [&] { return q->version != seen; }); });
    }
  }
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  (void)lpMsg;  // there are no keyboard messages to translate
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  if (lpMsg == nullptr || lpMsg->hwnd == 0) return 0;  // thread messages have no procedure
  // The message just taken from our own queue: its window is ours and, while
  // no window went and no procedure changed since, still has that procedure.
  const LastTaken last = tLastTaken;
  if (lpMsg->hwnd == last.hwnd && gWindowsChanged.load(std::memory_order_acquire) == last.changed) {
    return last.proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
  }
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  Window* w = FindWindowLocked(u, lpMsg->hwnd);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (!SendsDirectly(*w)) return Fail(ERROR_MESSAGE_SYNC_ONLY);
  WNDPROC proc = w->proc;
  held.unlock();
  return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Queue& q = OwnQueueLocked(u);
  q.quit = true;
  q.quitCode = nExitCode;
  ++q.version;  // only this thread waits on its own queue
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                       DWORD dwWakeMask) {
  (void)dwWakeMask;  // any input wakes us
  if (fWaitAll || (nCount != 0 && pHandles == nullptr) || nCount > 64) {
    tLastError = ERROR_INVALID_PARAMETER;  // waiting for all of them is not supported
    return WAIT_FAILED;
  }
  // The result: WAIT_OBJECT_0 + i for the first signalled event (its
  // signal taken), WAIT_OBJECT_0 + nCount for input, as Windows answers.
  const DWORD input = WAIT_OBJECT_0 + nCount;
  int signalled = -1;
  auto ready = [&](const Queue& q) {
    signalled = nCount != 0 ? qw_wait::TakeSignalled(nCount, pHandles) : -1;
    return signalled != -1 || HasInputLocked(q);
  };
  auto answer = [&]() -> DWORD {
    if (signalled == -2) {
      tLastError = ERROR_INVALID_HANDLE;
      return WAIT_FAILED;
    }
    return signalled >= 0 ? WAIT_OBJECT_0 + static_cast<DWORD>(signalled) : input;
  };
  UserState& u = User();
  std::unique_lock<std::mutex> held(u.lock);
  std::shared_ptr<Queue> q = OwnQueuePtrLocked(u);
  if (ready(*q)) return answer();

  if (QuorClockIsVirtual()) {
    // Virtual time never blocks: run the clock on through the callbacks due
    // within the timeout, stopping as soon as one of them gave us input or
    // signalled an event.
    held.unlock();
    uint64_t now = QuorClockNow();
    bool forever = dwMilliseconds == INFINITE;
    uint64_t deadline = forever ? UINT64_MAX : now + dwMilliseconds;
    for (;;) {
      uint64_t next = QuorClockNextDue();
      if (next == UINT64_MAX || next > deadline) {
        if (forever) return WAIT_TIMEOUT;  // nothing will ever come
        QuorClockAdvanceTo(deadline);
        break;
      }
      QuorClockAdvanceTo(next);
      {
        std::lock_guard<std::mutex> again(u.lock);
        if (ready(*q)) return answer();
      }
      if (!QuorClockIsVirtual()) break;  // switched to real time meanwhile
    }
    std::lock_guard<std::mutex> again(u.lock);
    return ready(*q) ? answer() : WAIT_TIMEOUT;
  }

  auto arrived = [&] { return ready(*q); };
  if (dwMilliseconds == INFINITE) {
    WaitOn(*q, [&] { q->wake.wait(held, arrived); });
    return answer();
  }
  bool got = false;
  WaitOn(*q, [&] { got = q->wake.wait_for(held, std::chrono::milliseconds(dwMilliseconds), arrived); });
  return got ? answer() : WAIT_TIMEOUT;
}

}  // extern "C"
