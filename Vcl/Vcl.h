// The host component framework: the services Quor's component and package
// rely on (component base with ownership and class registry, timers, string
// lists, hidden message windows, modal message boxes, the package unit table
// protocol, palette registration and the application message loop).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Vcl/VclExport.h"
#include "Win32/Win32.h"

// ---------------------------------------------------------------- basic types
using String = std::string;  // the host's 8-bit string
using Integer = int32_t;
using Cardinal = uint32_t;
using Byte = uint8_t;
using Word = uint16_t;
using Boolean = bool;

class TObject {
 public:
  virtual ~TObject() = default;
};

// A method pointer: handler plus the object it is bound to, held as a
// callable. "Assigned" means the callable is not empty.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// The framework's general exception class.
class VCL_API Exception : public std::runtime_error {
 public:
  explicit Exception(const String& Msg);
  const String& Message() const { return fMessage; }

 private:
  String fMessage;
};

// ASCII lower-casing: maps A..Z onto a..z and leaves every other byte.
VCL_API String LowerCase(const String& S);
VCL_API String UpperCase(const String& S);
VCL_API String IntToStr(int64_t Value);

// ---------------------------------------------------------------- messages
// Message record handed to a hidden window's method: the message number and
// the pointer-wide wParam, lParam and reply of the target (32 bits each field
// on 32-bit Windows), so a handle or pointer a message carries arrives whole.
// Result is the reply returned to the sender.
struct TMessage {
  uint32_t Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};
static_assert(sizeof(TMessage) == (sizeof(void*) == 4 ? 16 : 32), "TMessage is 16 bytes on 32-bit targets");

using TWndMethod = std::function<void(TMessage& Message)>;

// Creates a hidden top-level window on the calling thread whose messages are
// delivered to Method. The window is not visible and has an empty title.
VCL_API HWND AllocateHWnd(TWndMethod Method);
// Destroys such a window; messages still queued for it are dropped.
VCL_API void DeallocateHWnd(HWND Wnd);

// ---------------------------------------------------------------- RTTI, streaming
class TComponent;

enum class TTypeKind { Boolean, Integer, Byte, String, Method };

// A value of a published property, as the streaming system sees it.
struct TPropValue {
  TTypeKind Kind = TTypeKind::Integer;
  int64_t Ord = 0;  // Boolean, Integer, Byte
  String Str;       // String, Method (the handler's name)
};

// One published property: name, type, accessors and declared default.
struct TPropInfo {
  String Name;
  TTypeKind Kind;
  std::function<TPropValue(const TComponent&)> Get;
  std::function<void(TComponent&, const TPropValue&)> Set;
  std::optional<int64_t> Default;  // ordinal default; none => always stored
};

using TComponentFactory = std::function<TComponent*(TComponent* AOwner)>;

// Class information: the class name, its published properties in declaration
// order and a factory for creation by class name.
struct TClassInfo {
  String ClassName;
  const TClassInfo* Parent = nullptr;
  std::vector<TPropInfo> Properties;
  TComponentFactory Create;
};
using TComponentClass = const TClassInfo*;

// Class registry, for creation by class name (designer, form streaming).
VCL_API void RegisterClass(TComponentClass Class);
VCL_API void UnRegisterClass(TComponentClass Class);
VCL_API TComponentClass FindClass(const String& ClassName);  // nullptr if unknown

// ---------------------------------------------------------------- components
class VCL_API TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  // Owned components are destroyed after the derived destructor's own steps
  // (they run first, then this base destructor frees what the component owns).
  ~TComponent() override;

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return fOwner; }
  const String& Name() const { return fName; }
  void SetName(const String& NewName) { fName = NewName; }
  int ComponentCount() const { return static_cast<int>(fComponents.size()); }
  TComponent* Components(int Index) const { return fComponents.at(static_cast<size_t>(Index)); }
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  // Class information of the most derived class; TComponent's own has no
  // published properties.
  virtual TComponentClass ClassInfo() const;
  String ClassName() const { return ClassInfo()->ClassName; }

  static const TClassInfo& StaticClassInfo();

 private:
  TComponent* fOwner = nullptr;
  String fName;
  std::vector<TComponent*> fComponents;
  bool fDestroying = false;
};

// ---------------------------------------------------------------- string list
class VCL_API TStringList : public TObject {
 public:
  TStringList() = default;
  void Clear() { fItems.clear(); }
  // Appends at the end (unsorted, duplicates kept); returns the new index.
  int Add(const String& S);
  int Count() const { return static_cast<int>(fItems.size()); }
  const String& Strings(int Index) const { return fItems.at(static_cast<size_t>(Index)); }
  const String& operator[](int Index) const { return Strings(Index); }
  int IndexOf(const String& S) const;  // ASCII case-insensitive, -1 if none
  String Text() const;                 // items joined, each followed by "\n"
  const std::vector<String>& Items() const { return fItems; }

 private:
  std::vector<String> fItems;
};

// ---------------------------------------------------------------- timers
// A timer ticks through the application's message loop on the thread that
// created it. All timers share one queue keyed by due time (ties in order of
// arming). Enabling (or changing the interval of an enabled timer) starts a
// fresh interval. A handler may disable or re-enable its own timer, destroy
// its owner, or run a nested message loop. A late timer fires once and then
// continues on its period from now: missed periods are skipped. A timer never
// re-enters its own handler: the ticks that fall due while its handler runs a
// nested loop are skipped the same way.
// Interval 0: an enabled timer with interval 0 is due 1 ms after it is armed
// (it fires "at once", on the next pass of the loop, without ever spinning
// the loop on one clock reading).
class VCL_API TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  Cardinal Interval() const { return fInterval; }
  void SetInterval(Cardinal Value);
  bool Enabled() const { return fEnabled; }
  void SetEnabled(bool Value);
  const TNotifyEvent& OnTimer() const { return fOnTimer; }
  void SetOnTimer(TNotifyEvent Handler);

  TComponentClass ClassInfo() const override;

  struct Impl;

 private:
  void UpdateTimer();
  Cardinal fInterval = 1000;
  bool fEnabled = true;
  TNotifyEvent fOnTimer;
  std::shared_ptr<Impl> fImpl;
};

// ---------------------------------------------------------------- dialogs
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
using TMsgDlgButtons = uint32_t;  // set of TMsgDlgBtn: bit (1u << btn)
constexpr TMsgDlgButtons MsgDlgButtons(std::initializer_list<TMsgDlgBtn> Buttons) {
  TMsgDlgButtons s = 0;
  for (auto b : Buttons) s |= (1u << b);
  return s;
}
constexpr int mrNone = 0, mrOk = 1, mrCancel = 2;
// The other modal results (the same numbers as the Windows IDOK..IDNO family).
constexpr int mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

// Where modal message boxes go. The default presenter shows a real message
// box on Windows and writes the text to stderr on a console; tests install a
// recorder. Every call is modal in the caller's thread: it returns when the
// box is closed.
class VCL_API TMessagePresenter {
 public:
  virtual ~TMessagePresenter() = default;
  virtual void ShowMessage(const String& Msg) = 0;
  virtual int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) = 0;
};
// Installs a presenter (nullptr restores the default); returns the previous one.
VCL_API TMessagePresenter* SetMessagePresenter(TMessagePresenter* Presenter);

VCL_API void ShowMessage(const String& Msg);
VCL_API int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx);

// ---------------------------------------------------------------- palette
VCL_API void RegisterComponents(const String& Page, std::initializer_list<TComponentClass> Classes);
struct TPaletteEntry {
  String Page;
  TComponentClass Class;
};
VCL_API std::vector<TPaletteEntry> PaletteEntries();
VCL_API void ClearPalette();
// Called by every RegisterComponents call (after it took effect), for tests
// and the designer; nullptr removes it.
VCL_API void SetRegisterComponentsHook(
    std::function<void(const String& Page, const std::vector<TComponentClass>& Classes)> Hook);

// ---------------------------------------------------------------- packages
// A package module's unit table: one (initialisation, finalisation) pair per
// unit, in initialisation order. Either routine may be null.
using TUnitProc = void (*)();
struct PackageUnitEntry {
  TUnitProc Init;
  TUnitProc FInit;
};
struct PackageInfoTable {
  int32_t UnitCount;
  const PackageUnitEntry* UnitInfo;
};
// Runs the initialisation routines in table order; a unit already initialised
// (by another module sharing it, identified by its routines) is only counted.
VCL_API void InitializePackage(const PackageInfoTable* Table);
// Runs the finalisation routines in reverse order; a unit still counted by
// another module is only uncounted.
VCL_API void FinalizePackage(const PackageInfoTable* Table);

// ---------------------------------------------------------------- application
class VCL_API TApplication {
 public:
  // Handles everything that is due now: all due timers (collected before any
  // handler runs), then every message already posted to this thread's queue.
  // Never waits. An exception from a handler goes to HandleException.
  void ProcessMessages();
  // Waits for the next message or timer (virtual clock: moves the clock to the
  // next due timer or clock callback instead), then handles it.
  void HandleMessage();
  // Runs the message loop until Terminate (or WM_QUIT). On the virtual clock,
  // once nothing at all is scheduled (no armed timer, no clock callback) and
  // nothing is queued, nothing could ever happen again: Run then returns
  // instead of waiting forever, with Terminated() still false.
  void Run();
  void Terminate() { fTerminated = true; }
  bool Terminated() const { return fTerminated; }
  void ResetTerminated() { fTerminated = false; }

  // Runs the message loop for ms milliseconds of clock time. On the virtual
  // clock this steps from due point to due point (timers and clock callbacks)
  // without blocking, handling at each point everything due there, and ends
  // with the clock at exactly start + ms (a timer due exactly then fires);
  // when a handler's virtual Sleep carries the clock past that, it stops
  // there. On the real clock it waits. Terminated() does not end it early.
  void RunFor(uint32_t ms);
  // Runs like RunFor until Done returns true (checked first and then after
  // each processing step) or ms of clock time have passed; returns Done().
  bool RunUntil(const std::function<bool()>& Done, uint32_t ms);

  // Wait objects the loop watches beside its messages and timers (this
  // thread's loop; at most 32): when Handle is signalled, OnSignal runs on
  // the loop's thread within the pass that sees it, as a message handler
  // would (an exception goes to HandleException). The loop takes the signal
  // of an auto-reset event. Adding a handle again replaces its handler;
  // false when there is no room. Removing an unknown handle does nothing.
  bool AddWaitHandle(HANDLE Handle, std::function<void()> OnSignal);
  void RemoveWaitHandle(HANDLE Handle);

  // What happens to an exception that escapes a message or timer handler: the
  // handler, if set, receives it; otherwise its message is shown through
  // ShowMessage (as the framework's default exception box does).
  std::function<void(const std::exception& E)> OnException;
  void HandleException(const std::exception& E);

 private:
  bool fTerminated = false;
};

// The process's application object (never null).
VCL_API extern TApplication* const Application;

// Earliest due time of an enabled timer on this thread's queue (clock ms), or
// UINT64_MAX when none. Used by the message loop.
VCL_API uint64_t NextTimerDue();
