// Hidden utility windows: delivery of posted and sent messages to the bound
// method, release from inside the method, and exceptions in the method.
#include "VclTestSupport.h"

namespace {

constexpr UINT kPing = WM_USER + 1;
constexpr UINT kRelease = WM_USER + 2;

struct WindowTest : VclTest {
  std::vector<TMessage> Received;
  HWND Wnd = 0;

  void TearDown() override {
    DeallocateHWnd(Wnd);
    VclTest::TearDown();
  }
};

TEST_F(WindowTest, PostedMessagesReachTheMethodAsTMessage) {
  Wnd = AllocateHWnd([this](TMessage& M) {
    EXPECT_EQ(M.Result, 0);  // the reply starts out as 0
    // (Windows itself also sends the window messages of its own, such as
    // WM_GETTEXT for GetWindowTextA below.)
    if (M.Msg >= WM_USER) Received.push_back(M);
  });
  ASSERT_NE(Wnd, HWND{});
  EXPECT_TRUE(IsWindow(Wnd));
  EXPECT_FALSE(IsWindowVisible(Wnd));
  char title[16] = "x";
  EXPECT_EQ(GetWindowTextA(Wnd, title, sizeof title), 0);
  EXPECT_STREQ(title, "");

  ASSERT_TRUE(PostMessageA(Wnd, kPing, 0x2001, -633));
  ASSERT_TRUE(PostMessageA(Wnd, kPing + 5, 7, 8));
  EXPECT_TRUE(Received.empty());  // posted: nothing before the loop runs
  Application->ProcessMessages();
  ASSERT_EQ(Received.size(), 2u);
  EXPECT_EQ(Received[0].Msg, kPing);
  EXPECT_EQ(Received[0].WParam, 0x2001u);
  EXPECT_EQ(Received[0].LParam, -633);
  EXPECT_EQ(Received[1].Msg, kPing + 5);
}

TEST_F(WindowTest, SendMessageReturnsTheMethodsResult) {
  Wnd = AllocateHWnd([](TMessage& M) {
    if (M.Msg == kPing) M.Result = static_cast<int32_t>(M.WParam) * 2;
    if (M.Msg == kPing + 1) M.Result = -5;
  });
  EXPECT_EQ(SendMessageA(Wnd, kPing, 21, 0), 42);
  EXPECT_EQ(SendMessageA(Wnd, kPing + 1, 0, 0), -5);
  EXPECT_EQ(SendMessageA(Wnd, kPing + 2, 0, 0), 0);
}

TEST_F(WindowTest, EachWindowHasItsOwnMethod) {
  std::vector<int> hits;
  HWND one = AllocateHWnd([&](TMessage&) { hits.push_back(1); });
  HWND two = AllocateHWnd([&](TMessage&) { hits.push_back(2); });
  EXPECT_NE(one, two);
  PostMessageA(two, kPing, 0, 0);
  PostMessageA(one, kPing, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(hits, (std::vector<int>{2, 1}));
  DeallocateHWnd(one);
  DeallocateHWnd(two);
}

TEST_F(WindowTest, MethodMayReleaseItsOwnWindow) {
  int calls = 0;
  // The captured state must outlive DeallocateHWnd inside the call (ASan
  // catches a use after free here).
  auto state = std::make_shared<std::vector<int>>(64, 7);
  Wnd = AllocateHWnd([this, &calls, state](TMessage& M) {
    ++calls;
    if (M.Msg == kRelease) {
      DeallocateHWnd(Wnd);
      EXPECT_FALSE(IsWindow(Wnd));
      (*state)[63] = static_cast<int>(M.WParam);
      M.Result = (*state)[0];
    }
  });
  std::weak_ptr<std::vector<int>> watch = state;
  state.reset();
  PostMessageA(Wnd, kPing, 0, 0);
  PostMessageA(Wnd, kRelease, 9, 0);
  PostMessageA(Wnd, kPing, 0, 0);  // queued behind the release: dropped
  Application->ProcessMessages();
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(watch.expired());  // the method was freed once the call returned
  DeallocateHWnd(Wnd);           // a second release is harmless
  Wnd = 0;
}

TEST_F(WindowTest, SentReleaseFromInsideTheMethodReturnsItsResult) {
  Wnd = AllocateHWnd([this](TMessage& M) {
    if (M.Msg != kRelease) return;
    DeallocateHWnd(Wnd);
    M.Result = 77;
  });
  EXPECT_EQ(SendMessageA(Wnd, kRelease, 0, 0), 77);
  EXPECT_FALSE(IsWindow(Wnd));
  Wnd = 0;
}

TEST_F(WindowTest, MessagesForAReleasedWindowAreDropped) {
  int calls = 0;
  Wnd = AllocateHWnd([&](TMessage&) { ++calls; });
  PostMessageA(Wnd, kPing, 0, 0);
  DeallocateHWnd(Wnd);
  EXPECT_FALSE(IsWindow(Wnd));
  EXPECT_FALSE(PostMessageA(Wnd, kPing, 0, 0));
  Application->RunFor(10);
  EXPECT_EQ(calls, 0);
  DeallocateHWnd(Wnd);
  DeallocateHWnd(0);
  Wnd = 0;
}

TEST_F(WindowTest, ExceptionInTheMethodReachesOnExceptionAndTheLoopGoesOn) {
  Wnd = AllocateHWnd([this](TMessage& M) {
    Received.push_back(M);
    if (M.Msg == kPing) {
      M.Result = 5;
      throw Exception("dial event failed");
    }
    if (M.Msg == kPing + 1) throw "not a std::exception";
  });
  PostMessageA(Wnd, kPing, 0, 0);
  PostMessageA(Wnd, kPing + 1, 0, 0);
  PostMessageA(Wnd, kPing + 2, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(Received.size(), 3u);
  EXPECT_EQ(Errors, (std::vector<std::string>{"dial event failed", "Unknown exception"}));
  // A sender still gets the reply set before the failure.
  EXPECT_EQ(SendMessageA(Wnd, kPing, 0, 0), 5);
  EXPECT_EQ(Errors.size(), 3u);
}

TEST_F(WindowTest, UnhandledExceptionIsShownWhenNoOnExceptionIsSet) {
  Application->OnException = nullptr;
  Wnd = AllocateHWnd([](TMessage&) { throw Exception("Connection to server lost."); });
  PostMessageA(Wnd, kPing, 0, 0);
  Application->ProcessMessages();
  ASSERT_EQ(Boxes->Count(), 1u);
  EXPECT_EQ(Boxes->Calls()[0].Kind, TPresenterCall::kShowMessage);
  EXPECT_EQ(Boxes->Calls()[0].Text, "Connection to server lost.");
}

TEST_F(WindowTest, FailingExceptionHandlerIsShownAndTheLoopGoesOn) {
  Application->OnException = [](const std::exception&) { throw Exception("handler broke"); };
  int calls = 0;
  Wnd = AllocateHWnd([&](TMessage&) {
    ++calls;
    throw Exception("first");
  });
  PostMessageA(Wnd, kPing, 0, 0);
  PostMessageA(Wnd, kPing, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Boxes->Texts(), (std::vector<String>{"handler broke", "handler broke"}));
}

}  // namespace
