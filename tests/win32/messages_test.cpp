// Registered window messages and the per-thread message queues: posting,
// ordering, filters, dropping of messages to destroyed windows, WM_QUIT and
// messages sent between threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "OwnSubset.h"
#include "Win32/Win32.h"

namespace {

// A handle no window ever had.
HWND BogusWindow() {
  return (HWND)(uintptr_t)0x7777777u;
}

TEST(RegisteredMessages, SameNameSameNumberInTheRegisteredRange) {
  UINT event = RegisterWindowMessageA("QwDialEvent");
  EXPECT_GE(event, 0xC000u);
  EXPECT_LE(event, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessageA("QwDialEvent"), event);
  EXPECT_EQ(RegisterWindowMessageA("qwdialevent"), event) << "names ignore ASCII case";
  EXPECT_EQ(RegisterWindowMessageA("QWDIALEVENT"), event);
  UINT other = RegisterWindowMessageA("QwDialEvent2");
  EXPECT_NE(other, event);
  EXPECT_NE(RegisterWindowMessageA("QwDialEvent "), event);

  SetLastError(0);
  EXPECT_EQ(RegisterWindowMessageA(nullptr), 0u);
  EXPECT_EQ(RegisterWindowMessageA(""), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegisterWindowMessageA(std::string(256, 'x').c_str()), 0u) << "longer than an atom name";
}

// Using the range up changes the process for good, so it runs in a child
// process of its own.
TEST(RegisteredMessagesDeathTest, GivesZeroOnceTheRangeIsUsedUp) {
  SKIP_UNLESS_OWN_WIN32();  // Windows shares the range with every atom of the session
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        UINT kept = RegisterWindowMessageA("QwKept");
        std::set<UINT> numbers{kept};
        for (int i = 0; i < 0x4000; ++i) {
          UINT n = RegisterWindowMessageA(("QwFill" + std::to_string(i)).c_str());
          if (n == 0) break;
          if (n < 0xC000 || n > 0xFFFF || !numbers.insert(n).second) std::exit(1);
        }
        if (numbers.size() != 0x4000) std::exit(2);
        if (RegisterWindowMessageA("QwOneTooMany") != 0) std::exit(3);
        if (RegisterWindowMessageA("qwkept") != kept) std::exit(4);  // old names still answer
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

std::vector<MSG> delivered;

LRESULT CALLBACK CollectingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  MSG msg{};
  msg.hwnd = h;
  msg.message = m;
  msg.wParam = w;
  msg.lParam = l;
  if (m >= WM_USER) delivered.push_back(msg);
  return m == WM_USER + 50 ? static_cast<LRESULT>(w) + 1 : DefWindowProcA(h, m, w, l);
}

class MessageQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    QuorClockUseVirtual(0);
    delivered.clear();
    WNDCLASSA wc{};
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpfnWndProc = CollectingProc;
    wc.lpszClassName = "QwCollecting";
    ASSERT_NE(RegisterClassA(&wc), 0);
    Drain();
  }
  void TearDown() override {
    for (HWND h : made) {
      if (IsWindow(h)) DestroyWindow(h);
    }
    Drain();
    EXPECT_TRUE(UnregisterClassA("QwCollecting", GetModuleHandleA(nullptr)));
  }
  HWND Make(HWND parent = HWND_MESSAGE, DWORD style = 0) {
    HWND h = CreateWindowExA(0, "QwCollecting", "", style, 0, 0, 0, 0, parent, 0, GetModuleHandleA(nullptr), nullptr);
    if (h != 0) made.push_back(h);
    return h;
  }
  static void Drain() {
    MSG m;
    while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
    }
  }
  static std::vector<MSG> TakeAll() {
    std::vector<MSG> out;
    MSG m;
    while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) out.push_back(m);
    return out;
  }
  std::vector<HWND> made;
};

TEST_F(MessageQueue, DeliversInPostingOrderThroughDispatch) {
  HWND a = Make();
  HWND b = Make();
  ASSERT_TRUE(PostMessageA(a, WM_USER + 1, 10, 0));
  ASSERT_TRUE(PostMessageA(b, WM_USER + 2, 20, 0));
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 30, 0));
  ASSERT_TRUE(PostMessageA(a, WM_USER + 50, 40, 0));
  ASSERT_TRUE(PostMessageA(0, WM_USER + 4, 50, 0)) << "no window: a thread message to ourselves";

  std::vector<UINT> order;
  std::vector<LRESULT> results;
  MSG m;
  while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
    order.push_back(m.message);
    EXPECT_FALSE(TranslateMessage(&m));
    results.push_back(DispatchMessageA(&m));
  }
  EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3, WM_USER + 50, WM_USER + 4}));
  EXPECT_EQ(results, (std::vector<LRESULT>{0, 0, 0, 41, 0}));
  ASSERT_EQ(delivered.size(), 3u) << "thread messages have no window procedure";
  EXPECT_EQ(delivered[0].hwnd, a);
  EXPECT_EQ(delivered[1].hwnd, b);
  EXPECT_EQ(delivered[2].wParam, 40u);
}

TEST_F(MessageQueue, FiltersByWindowAndRangeAndCanLeaveTheMessage) {
  HWND a = Make();
  HWND b = Make();
  PostMessageA(a, WM_USER + 1, 1, 0);
  PostMessageA(b, WM_USER + 2, 2, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 3, 0);

  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_TRUE(PeekMessageA(&m, 0, WM_USER + 2, WM_USER + 3, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_TRUE(PeekMessageA(&m, (HWND)(intptr_t)-1, 0, 0, PM_REMOVE)) << "thread messages only";
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessageA(&m, b, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&m, 0, WM_USER + 5, WM_USER + 9, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&m, BogusWindow(), 0, 0, PM_REMOVE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(TakeAll().size(), 1u);
}

TEST_F(MessageQueue, PeekForOneWindowTakesItsFamilysFirstAndKeepsTheRestInOrder) {
  HWND top = Make(0);
  HWND child = Make(top, WS_CHILD);
  HWND other = Make();
  struct Post {
    HWND to;  // 0: a thread message
    UINT message;
    WPARAM tag;
  };
  for (const Post& p : std::vector<Post>{{other, WM_USER + 1, 1},
                                         {child, WM_USER + 2, 2},
                                         {top, WM_USER + 1, 3},
                                         {0, WM_QUIT, 4},
                                         {other, WM_USER + 2, 5},
                                         {top, WM_USER + 2, 6}}) {
    ASSERT_TRUE(p.to != 0 ? PostMessageA(p.to, p.message, p.tag, 0)
                          : PostThreadMessageA(GetCurrentThreadId(), p.message, p.tag, 0));
  }
  struct Peek {
    HWND window;
    UINT minMsg, maxMsg;
  };
  std::vector<WPARAM> got;
  for (const Peek& p : std::vector<Peek>{{top, WM_USER + 1, WM_USER + 1},
                                         {top, 0, 0},
                                         {child, 0, 0},
                                         {other, WM_USER + 2, WM_USER + 2},
                                         {0, WM_QUIT, WM_QUIT},
                                         {0, WM_QUIT, WM_QUIT}}) {
    MSG m{};
    got.push_back(PeekMessageA(&m, p.window, p.minMsg, p.maxMsg, PM_REMOVE) ? m.wParam : 0);
  }
  EXPECT_EQ(got, (std::vector<WPARAM>{3, 2, 0, 5, 4, 0})) << "a child's messages are its parent's too";
  std::vector<WPARAM> rest;
  for (const MSG& m : TakeAll()) rest.push_back(m.wParam);
  EXPECT_EQ(rest, (std::vector<WPARAM>{1, 6}));
}

// Messages left waiting at the front while thousands behind them are taken
// (a window only ever peeked for by its own filter, a family, thread messages)
// keep their order and their window.
TEST_F(MessageQueue, MessagesTakenBehindWaitingOnesLeaveTheRestInOrder) {
  HWND waiting = Make();
  HWND busy = Make();
  HWND top = Make(0);
  HWND child = Make(top, WS_CHILD);
  std::vector<std::pair<HWND, WPARAM>> left;  // what stays, in posting order (no window: a thread message)
  const DWORD self = GetCurrentThreadId();
  MSG m;
  for (WPARAM i = 0; i < 3000; ++i) {
    ASSERT_TRUE(PostMessageA(busy, WM_USER, 10000 + i, 0));
    if (i % 7 == 0) {
      ASSERT_TRUE(PostMessageA(waiting, WM_USER + 1, i, 0));
      left.emplace_back(waiting, i);
    }
    if (i % 11 == 0) {
      ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 2, i, 0));
      left.emplace_back(HWND{}, i);
    }
    ASSERT_TRUE(PostMessageA(child, WM_USER + 3, 20000 + i, 0));
    ASSERT_TRUE(PeekMessageA(&m, busy, 0, 0, PM_REMOVE));
    ASSERT_EQ(m.wParam, 10000 + i);
    ASSERT_TRUE(PeekMessageA(&m, top, 0, 0, PM_REMOVE)) << "the child's message, through its parent";
    ASSERT_EQ(m.wParam, 20000 + i);
    if (i % 13 == 5) {
      ASSERT_TRUE(PeekMessageA(&m, (HWND)(intptr_t)-1, 0, 0, PM_REMOVE));
      auto first = std::find_if(left.begin(), left.end(), [](const auto& l) { return l.first == HWND{}; });
      ASSERT_NE(first, left.end());
      ASSERT_EQ(m.wParam, first->second);
      left.erase(first);
    }
  }
  std::vector<std::pair<HWND, WPARAM>> rest;
  for (const MSG& r : TakeAll()) rest.emplace_back(r.hwnd, r.wParam);
  EXPECT_EQ(rest, left);
}

TEST_F(MessageQueue, MessagesToADestroyedWindowAreDropped) {
  HWND doomed = Make();
  HWND kept = Make();
  PostMessageA(doomed, WM_USER + 1, 1, 0);
  PostMessageA(kept, WM_USER + 1, 2, 0);
  PostMessageA(doomed, WM_USER + 1, 3, 0);
  ASSERT_TRUE(DestroyWindow(doomed));

  std::vector<MSG> left = TakeAll();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].hwnd, kept);

  SetLastError(0);
  EXPECT_FALSE(PostMessageA(doomed, WM_USER + 1, 4, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(PostMessageA(BogusWindow(), WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

  // Dispatching a message kept from before the destruction calls nothing.
  MSG stale = left[0];
  stale.hwnd = doomed;
  EXPECT_EQ(DispatchMessageA(&stale), 0);
  EXPECT_TRUE(delivered.empty());
}

TEST_F(MessageQueue, PostsFromTwoThreadsKeepEachThreadsOrder) {
  HWND h = Make();
  constexpr int kEach = 2000;
  auto poster = [h](LPARAM tag) {
    for (int i = 0; i < kEach; ++i) PostMessageA(h, WM_USER + 7, static_cast<WPARAM>(i), tag);
  };
  std::thread one(poster, 1);
  std::thread two(poster, 2);
  one.join();
  two.join();

  int next[3] = {0, 0, 0};
  int total = 0;
  for (const MSG& m : TakeAll()) {
    ASSERT_EQ(m.hwnd, h);
    ASSERT_TRUE(m.lParam == 1 || m.lParam == 2);
    EXPECT_EQ(m.wParam, static_cast<WPARAM>(next[m.lParam]));
    next[m.lParam] = static_cast<int>(m.wParam) + 1;
    ++total;
  }
  EXPECT_EQ(total, 2 * kEach);
}

TEST_F(MessageQueue, AFullQueueRefusesMorePosts) {
  SKIP_UNLESS_OWN_WIN32();  // Wine has no quota
  HWND h = Make();
  int accepted = 0;
  while (accepted < 20000 && PostMessageA(h, WM_USER, 0, 0)) ++accepted;
  EXPECT_EQ(accepted, 10000);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
  EXPECT_EQ(TakeAll().size(), 10000u);
  EXPECT_TRUE(PostMessageA(h, WM_USER, 0, 0));
}

TEST_F(MessageQueue, ThreadMessagesNeedAThreadWithAQueue) {
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0u, WM_USER, 0, 0));
  if (kOwnWin32) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));  // Wine says 87
  }

  // A thread's queue (and its windows) go when the thread ends.
  DWORD gone = 0;
  HWND orphan = 0;
  std::thread worker([&] {
    gone = GetCurrentThreadId();
    orphan = Make();
  });
  worker.join();
  EXPECT_FALSE(PostThreadMessageA(gone, WM_USER, 0, 0));
  EXPECT_FALSE(IsWindow(orphan));
  EXPECT_FALSE(PostMessageA(orphan, WM_USER, 0, 0));
}

TEST_F(MessageQueue, QuitComesAfterThePostedMessages) {
  HWND h = Make();
  PostMessageA(h, WM_USER + 1, 0, 0);
  PostQuitMessage(3);
  PostMessageA(h, WM_USER + 2, 0, 0);
  MSG m;
  std::vector<UINT> got;
  BOOL r;
  while ((r = GetMessageA(&m, 0, 0, 0)) > 0) got.push_back(m.message);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(got, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
  EXPECT_FALSE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) << "WM_QUIT is taken once";
  if (kOwnWin32) {
    EXPECT_EQ(GetMessageA(nullptr, 0, 0, 0), -1) << "no record to fill: refused, not waited on";
  }
}

TEST_F(MessageQueue, SendFromAnotherThreadRunsInTheOwnersLoop) {
  HWND h = Make();
  std::atomic<LRESULT> result{-1};
  std::thread sender([&] {
    result = SendMessageA(h, WM_USER + 50, 99, 0);
    PostMessageA(h, WM_USER + 1, 0, 0);  // tells the loop below to stop
  });
  MSG m;
  while (GetMessageA(&m, 0, 0, 0) > 0 && m.message != WM_USER + 1) DispatchMessageA(&m);
  sender.join();
  EXPECT_EQ(result.load(), 100);
  ASSERT_EQ(delivered.size(), 1u) << "the procedure ran once, on this thread";
  EXPECT_EQ(delivered[0].wParam, 99u);

  // Nor may another thread dispatch to our window.
  LRESULT dispatched = -1;
  DWORD error = 0;
  std::thread stranger([&] {
    MSG own{};
    own.hwnd = h;
    own.message = WM_USER + 50;
    dispatched = DispatchMessageA(&own);
    error = GetLastError();
  });
  stranger.join();
  EXPECT_EQ(dispatched, 0);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
  EXPECT_EQ(delivered.size(), 1u);
}

TEST_F(MessageQueue, SendToAThreadThatEndsWithoutAnsweringReturnsZero) {
  std::atomic<HWND> h{0};
  std::atomic<bool> ready{false};
  std::thread owner([&] {
    h = Make();
    ready = true;
    // Wait until the send has arrived, then leave without running it.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
  });
  while (!ready) std::this_thread::yield();
  LRESULT r = SendMessageA(h, WM_USER + 50, 5, 0);
  owner.join();
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(delivered.empty());
  EXPECT_FALSE(IsWindow(h));
}

}  // namespace
