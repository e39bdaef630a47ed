// The state texts of dial events and the notifications raised by the two
// final states.
#include "QuorTest.h"

using fakeras::S;

TEST_F(QuorTest, EveryStateHasItsText) {
  const std::pair<Integer, const char*> table[] = {
      {0, "Opening port"},
      {1, "Port opened"},
      {2, "Connecting device"},
      {3, "Device connected"},
      {4, "All devices connected"},
      {5, "Start authenticating"},
      {6, "Authentication: notify"},
      {7, "Authentication: retry"},
      {8, "Authentication: callback"},
      {9, "Authentication: change password"},
      {10, "Authentication: projecting"},
      {11, "Authentication: link speed"},
      {12, "Authentication: acknowledge"},
      {13, "Authentication: reauthenticate"},
      {14, "Authenticated"},
      {15, "Preparing for callback"},
      {16, "Waiting for modem reset"},
      {17, "Waiting for callback"},
      {18, "Projected"},
      {19, "Start authentication"},
      {20, "Callback complete"},
      {21, "Logging on network"},
      {4096, "Interactive"},
      {4097, "Retry Authentication"},
      {4098, "Callback set by caller"},
      {4099, "Password expired"},
  };
  for (auto [state, text] : table) EXPECT_EQ(QI::StatusString(*Q, state, 0), text) << state;
  EXPECT_NE(QI::StatusString(*Q, 5, 0), QI::StatusString(*Q, 19, 0));
  EXPECT_NE(QI::StatusString(*Q, 7, 0), QI::StatusString(*Q, 4097, 0));
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
}

TEST_F(QuorTest, StatesOutsideTheTableGiveNoTextAndRaiseNothing) {
  for (Integer state : {22, 4095, 4100, 8191, 8194, 65535, -1, -8192, 100000}) {
    EXPECT_EQ(QI::StatusString(*Q, state, 0), "") << state;
  }
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_FALSE(QI::LookForWindow(*Q)->Enabled());
}

TEST_F(QuorTest, ConnectedStateRaisesOnConnectAndStartsTheWatches) {
  EXPECT_EQ(QI::StatusString(*Q, 8192, 0), "Connected");
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'C', 0, ""}}));
  EXPECT_TRUE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(QI::LookForWindow(*Q)->Enabled());
}

TEST_F(QuorTest, DisconnectedStateRaisesOnDisconnectWithItsNumber) {
  EXPECT_EQ(QI::StatusString(*Q, 8193, 0), "Disconnected");
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'D', 8193, "Disconnected."}}));
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
}

TEST_F(QuorTest, AnErrorGivesRasTextWhateverTheState) {
  S().ErrorTexts[691] = "Access denied because username and/or password is invalid on the domain.";
  EXPECT_EQ(QI::StatusString(*Q, 8192, 691), S().ErrorTexts[691]);
  EXPECT_EQ(QI::StatusString(*Q, 8193, 691), S().ErrorTexts[691]);
  EXPECT_EQ(QI::StatusString(*Q, 3, 691), S().ErrorTexts[691]);
  EXPECT_TRUE(Log.Events.empty()) << "neither OnConnect nor OnDisconnect";
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_FALSE(QI::LookForWindow(*Q)->Enabled());
  ASSERT_EQ(S().ErrorStringSizes.size(), 3u);
  EXPECT_EQ(S().ErrorStringSizes[0], 100u) << "the buffer is announced as 100";
  EXPECT_TRUE(S().ErrorBufferWasZero) << "the buffer is zeroed before each call";
}

TEST_F(QuorTest, ErrorTextIsAtMostOneHundredCharacters) {
  S().ErrorTexts[650] = std::string(300, 'x');  // the fake writes at most 99 + zero
  EXPECT_EQ(QI::StatusString(*Q, 0, 650), std::string(99, 'x'));
}

TEST_F(QuorTest, MissingErrorTextFallsBackToTheNumber) {
  // Unknown number: RAS returns non-zero and leaves the buffer.
  EXPECT_EQ(QI::StatusString(*Q, 0, 691), "RAS error 691");
  // Wine's RasGetErrorStringA: returns 1 and leaves the buffer, always.
  S().ErrorStringFailsLikeWine = true;
  S().ErrorTexts[678] = "ignored";
  EXPECT_EQ(QI::StatusString(*Q, 0, 678), "RAS error 678");
  // Success with an empty text.
  S().ErrorStringFailsLikeWine = false;
  S().ErrorTexts[679] = "";
  EXPECT_EQ(QI::StatusString(*Q, 0, 679), "RAS error 679");
  // No entry point at all.
  RasGetErrorString = nullptr;
  EXPECT_EQ(QI::StatusString(*Q, 0, 629), "RAS error 629");
}

TEST_F(QuorTest, WithoutRasStatusTextsAreEmptyAndInert) {
  Q->RasInitialized = false;
  EXPECT_EQ(QI::StatusString(*Q, 8192, 0), "");
  EXPECT_EQ(QI::StatusString(*Q, 8193, 0), "");
  EXPECT_EQ(QI::StatusString(*Q, 0, 691), "");
  EXPECT_TRUE(Log.Events.empty());
  EXPECT_TRUE(S().ErrorStringSizes.empty());
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
}

TEST_F(QuorTest, ThrowingOnConnectLeavesTheWatchesOff) {
  Q->SetOnConnect([](TObject*) { throw Exception("handler failed"); });
  EXPECT_THROW(QI::StatusString(*Q, 8192, 0), Exception);
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_FALSE(QI::LookForWindow(*Q)->Enabled());
}
