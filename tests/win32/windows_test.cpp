// Window classes, windows, their attributes, destruction and the search for
// top-level windows by title.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "OwnSubset.h"
#include "Win32/Win32.h"

namespace {

// A handle no window ever had.
HWND BogusWindow() {
  return (HWND)(uintptr_t)0x7777777u;
}

struct Seen {
  HWND hwnd;
  UINT message;
};
std::vector<Seen> seen;
LPVOID createParams = nullptr;

// Windows sends many more messages around creation and destruction; these
// tests look at the two every window gets.
bool Watched(UINT m) {
  return m == WM_CREATE || m == WM_DESTROY || m >= WM_USER;
}

LRESULT CALLBACK RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (Watched(m)) seen.push_back({h, m});
  if (m == WM_CREATE) createParams = reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams;
  if (m == WM_USER) return static_cast<LRESULT>(w) * 2;
  return DefWindowProcA(h, m, w, l);
}

LRESULT CALLBACK RefusingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (Watched(m)) seen.push_back({h, m});
  return m == WM_CREATE ? -1 : DefWindowProcA(h, m, w, l);
}

LRESULT CALLBACK OtherProc(HWND, UINT, WPARAM, LPARAM) {
  return 77;
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    WNDCLASSA wc{};
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "QwRecording";
    atom = RegisterClassA(&wc);
    ASSERT_NE(atom, 0);
  }
  void TearDown() override {
    for (HWND h : made) {
      if (IsWindow(h)) DestroyWindow(h);
    }
    EXPECT_TRUE(UnregisterClassA("QwRecording", GetModuleHandleA(nullptr)));
  }
  HWND Make(const char* title, DWORD style = 0, HWND parent = 0, LPCSTR cls = "QwRecording") {
    HWND h = CreateWindowExA(0, cls, title, style, 0, 0, 0, 0, parent, 0, GetModuleHandleA(nullptr), nullptr);
    if (h != 0) made.push_back(h);
    return h;
  }
  std::vector<UINT> MessagesOf(HWND h) {
    std::vector<UINT> out;
    for (const Seen& s : seen) {
      if (s.hwnd == h) out.push_back(s.message);
    }
    return out;
  }
  WORD atom = 0;
  std::vector<HWND> made;
};

TEST_F(Windows, ClassRegistration) {
  WNDCLASSA wc{};
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "qwrecording";  // class names ignore ASCII case
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

  if (kOwnWin32) {  // Windows accepts the first and faults on the second
    wc.lpfnWndProc = nullptr;
    wc.lpszClassName = "QwNoProc";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "a class without a procedure could never be called";
    EXPECT_EQ(RegisterClassA(nullptr), 0);
  }

  HWND h = Make("x");
  ASSERT_NE(h, HWND{});
  EXPECT_FALSE(UnregisterClassA("QwRecording", GetModuleHandleA(nullptr)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  EXPECT_FALSE(UnregisterClassA("QwNeverRegistered", GetModuleHandleA(nullptr)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));

  SetLastError(0);
  EXPECT_EQ(Make("y", 0, 0, "QwNeverRegistered"), HWND{});
  if (kOwnWin32) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));  // Wine says 1411
  }
  // By atom as well as by name.
  EXPECT_NE(Make("z", 0, 0, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(atom))), HWND{});
}

TEST_F(Windows, CreationSendsCreateAndDestructionSendsDestroy) {
  int param = 0;
  HWND h = CreateWindowExA(0, "QwRecording", "t", 0, 0, 0, 0, 0, 0, 0, GetModuleHandleA(nullptr), &param);
  ASSERT_NE(h, HWND{});
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(createParams, &param);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_EQ(MessagesOf(h), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(DestroyWindow(h));
  if (kOwnWin32) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));  // Wine says 5
  }

  // Handles are never reused.
  HWND next = Make("t");
  EXPECT_NE(next, h);
}

TEST_F(Windows, CreateReturningMinusOneFailsTheCreation) {
  WNDCLASSA wc{};
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpfnWndProc = RefusingProc;
  wc.lpszClassName = "QwRefusing";
  ASSERT_NE(RegisterClassA(&wc), 0);
  EXPECT_EQ(Make("r", 0, 0, "QwRefusing"), HWND{});
  ASSERT_EQ(seen.size(), 1u) << "no WM_DESTROY for a window that never was";
  EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_CREATE));
  EXPECT_FALSE(IsWindow(seen[0].hwnd));
  EXPECT_TRUE(UnregisterClassA("QwRefusing", GetModuleHandleA(nullptr)))
      << "the refused window holds no reference to its class";
}

TEST_F(Windows, DestroyingAParentDestroysItsChildrenAfterIt) {
  HWND parent = Make("p");
  HWND child = Make("c", WS_CHILD, parent);
  HWND grandchild = Make("g", WS_CHILD, child);
  ASSERT_NE(grandchild, HWND{});
  seen.clear();
  EXPECT_TRUE(DestroyWindow(parent));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].hwnd, parent);
  EXPECT_EQ(seen[1].hwnd, child);
  EXPECT_EQ(seen[2].hwnd, grandchild);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(IsWindow(grandchild));
}

TEST_F(Windows, BadParents) {
  SetLastError(0);
  EXPECT_EQ(Make("c", WS_CHILD), HWND{}) << "a child needs a parent";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
  EXPECT_EQ(Make("c", WS_CHILD, BogusWindow()), HWND{});
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(Windows, OnlyTheOwningThreadMayDestroyAWindow) {
  HWND h = Make("mine");
  BOOL destroyed = TRUE;
  DWORD error = 0;
  DWORD otherThread = 0;
  std::thread other([&] {
    destroyed = DestroyWindow(h);
    error = GetLastError();
    otherThread = GetCurrentThreadId();
  });
  other.join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(IsWindow(h));

  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(h, &pid), GetCurrentThreadId());
  EXPECT_NE(GetWindowThreadProcessId(h, nullptr), otherThread);
  EXPECT_EQ(pid, GetCurrentProcessId());
}

TEST_F(Windows, DefWindowProcClosesOnCloseAndAnswersZero) {
  HWND h = Make("closable");
  EXPECT_EQ(DefWindowProcA(h, WM_USER + 5, 1, 2), 0);
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(SendMessageA(h, WM_USER, 21, 0), 42) << "same thread: a direct call of the procedure";
  EXPECT_EQ(SendMessageA(h, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(MessagesOf(h).back(), static_cast<UINT>(WM_DESTROY));
  SetLastError(0);
  EXPECT_EQ(SendMessageA(h, WM_USER, 21, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(Windows, LongPtrsAndText) {
  HWND h = Make("Initial title");
  EXPECT_EQ(SetWindowLongPtrA(h, GWLP_USERDATA, 1234), 0);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), 1234);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&RecordingProc));
  EXPECT_EQ(SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OtherProc)),
            reinterpret_cast<LONG_PTR>(&RecordingProc));
  EXPECT_EQ(SendMessageA(h, WM_USER, 1, 0), 77);
  if (kOwnWin32) {  // Windows takes it and faults on the next message
    EXPECT_EQ(SetWindowLongPtrA(h, GWLP_WNDPROC, 0), 0) << "a null procedure is refused";
    EXPECT_EQ(SendMessageA(h, WM_USER, 1, 0), 77);
  }
  EXPECT_EQ(GetWindowLongPtrA(h, 12345), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  EXPECT_EQ(GetWindowLongPtrA(BogusWindow(), GWLP_USERDATA), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));

  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(GetWindowTextA(h, buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "Initial");
  EXPECT_TRUE(SetWindowTextA(h, "New"));
  EXPECT_EQ(GetWindowTextA(h, buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "New");
  EXPECT_EQ(GetWindowTextA(h, buffer, 0), 0);
  EXPECT_STREQ(buffer, "New") << "a zero-sized buffer is not written";
}

TEST_F(Windows, ShowWindowReportsThePreviousVisibility) {
  HWND h = Make("shown", WS_VISIBLE);
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_FALSE(IsIconic(h));
  EXPECT_TRUE(ShowWindow(h, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_FALSE(ShowWindow(h, SW_HIDE));
  EXPECT_FALSE(ShowWindow(h, SW_MINIMIZE)) << "it was hidden";
  EXPECT_TRUE(IsIconic(h));
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_TRUE(ShowWindow(h, SW_SHOW));
  EXPECT_TRUE(IsIconic(h)) << "SW_SHOW keeps the minimised state";
  EXPECT_TRUE(ShowWindow(h, SW_RESTORE));
  EXPECT_FALSE(IsIconic(h));
  if (kOwnWin32) {  // Wine ignores an unknown command
    EXPECT_FALSE(ShowWindow(h, 99));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_FALSE(ShowWindow(BogusWindow(), SW_SHOW));
  EXPECT_FALSE(IsIconic(BogusWindow()));

  HWND hidden = Make("hidden");
  HWND child = Make("child", WS_CHILD | WS_VISIBLE, hidden);
  EXPECT_FALSE(IsWindowVisible(child)) << "a child shows only while its parent does";
  ShowWindow(hidden, SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(child));
}

class FindWindowTest : public Windows {};

TEST_F(FindWindowTest, MatchesTheWholeTitleExactly) {
  HWND target = Make("Connected to Office", 0);
  ASSERT_NE(target, HWND{});
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Office"), target) << "hidden windows are found too";
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Office "), HWND{});
  EXPECT_EQ(FindWindowA(nullptr, "Office"), HWND{});
  EXPECT_EQ(FindWindowA(nullptr, "Connected to"), HWND{});
  if (kOwnWin32) {  // Wine's comparison ignores case; ours compares the bytes
    EXPECT_EQ(FindWindowA(nullptr, "connected to office"), HWND{});
  }
  EXPECT_EQ(FindWindowA("qwrecording", "Connected to Office"), target) << "class names ignore case";
  EXPECT_EQ(FindWindowA("QwOtherClass", "Connected to Office"), HWND{});
  EXPECT_EQ(FindWindowA(reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(atom)), nullptr), target);
}

TEST_F(FindWindowTest, FindsTopLevelWindowsOnlyFirstCreatedFirst) {
  // Windows searches in Z order, and Wine's search reaches further than ours.
  SKIP_UNLESS_OWN_WIN32();
  HWND messageOnly = Make("Connected to Home", 0, HWND_MESSAGE);
  HWND parent = Make("Parent");
  HWND child = Make("Connected to Home", WS_CHILD | WS_VISIBLE, parent);
  ASSERT_NE(messageOnly, HWND{});
  ASSERT_NE(child, HWND{});
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Home"), HWND{});

  // A window with a parent but without WS_CHILD is an owned top-level window.
  HWND owned = Make("Connected to Home", 0, parent);
  HWND later = Make("Connected to Home", WS_VISIBLE);
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Home"), owned);
  DestroyWindow(owned);
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Home"), later);
  DestroyWindow(later);
  EXPECT_EQ(FindWindowA(nullptr, "Connected to Home"), HWND{});
  EXPECT_EQ(FindWindowA(nullptr, nullptr), parent);
}

TEST_F(FindWindowTest, FollowsTitleChangesAndDestruction) {
  WNDCLASSA wc{};
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "QwIndexOther";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND a = Make("Qw Index One");
  HWND b = Make("Qw Index Two");
  HWND c = Make("Qw Index Two", 0, 0, "QwIndexOther");
  struct Look {
    LPCSTR cls;
    LPCSTR title;
  };
  auto found = [](const std::vector<Look>& looks) {
    std::vector<HWND> out;
    for (const Look& l : looks) out.push_back(FindWindowA(l.cls, l.title));
    return out;
  };
  const std::vector<Look> looks = {{nullptr, "Qw Index One"},          {"QWINDEXOTHER", "Qw Index Two"},
                                   {"qwrecording", "Qw Index Two"},    {"QwIndexOther", nullptr},
                                   {"QwNeverRegistered", nullptr},     {nullptr, "Qw Index Three"},
                                   {"QwIndexOther", "Qw Index Three"}, {"QwRecording", "Qw Index Four"}};
  EXPECT_EQ(found(looks), (std::vector<HWND>{a, c, b, c, HWND{}, HWND{}, HWND{}, HWND{}}));

  ASSERT_TRUE(SetWindowTextA(a, "Qw Index Three"));
  ASSERT_TRUE(SetWindowTextA(b, "Qw Index Four"));
  EXPECT_EQ(found(looks), (std::vector<HWND>{HWND{}, c, HWND{}, c, HWND{}, a, HWND{}, b}));

  ASSERT_TRUE(DestroyWindow(c));
  ASSERT_TRUE(DestroyWindow(a));
  EXPECT_EQ(found(looks), (std::vector<HWND>{HWND{}, HWND{}, HWND{}, HWND{}, HWND{}, HWND{}, HWND{}, b}));
  EXPECT_TRUE(UnregisterClassA("QwIndexOther", GetModuleHandleA(nullptr)));
}

}  // namespace
