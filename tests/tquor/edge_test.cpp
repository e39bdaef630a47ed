// Edge cases: texts too long for the record, entry points the library
// lacks, exceptions from handlers, handlers that dial or hang up from
// inside an event, and components destroyed while a dial or a redial is
// under way.
#include <cstring>

#include "QuorTest.h"

using fakeras::S;

// ---------------------------------------------------------------- over-long texts

TEST_F(QuorTest, OverLongDialTextsAreRefusedLikeAFailedDial) {
  struct Case {
    const char* What;
    std::function<void(TQuor&)> Set;
    Integer Error;
  };
  const Case cases[] = {
      {"entry name", [](TQuor& q) { q.SetEntryName(std::string(257, 'E')); }, 87},
      {"phone number", [](TQuor& q) { q.SetPhoneNumber(std::string(129, '5')); }, 723},
      {"user name", [](TQuor& q) { q.SetUserName(std::string(257, 'u')); }, 87},
      {"password", [](TQuor& q) { q.SetPassword(std::string(257, 'p')); }, 87},
      {"entry name with a zero", [](TQuor& q) { q.SetEntryName(std::string("Office\0Evil", 11)); }, 87},
      {"phone number with a zero",
       [](TQuor& q) {
         q.SetPhoneNumber(
             std::string("555\0"
                         "1",
                         5));
       },
       87},
      {"user name with a zero", [](TQuor& q) { q.SetUserName(std::string("joe\0x", 5)); }, 87},
      {"password with a zero", [](TQuor& q) { q.SetPassword(std::string("sec\0ret", 7)); }, 87},
  };
  S().ErrorTexts[87] = "The parameter is incorrect.";
  S().ErrorTexts[723] = "The phone number is too long.";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TQuor q(nullptr);
    BindFakes(q);
    q.SetEntryName("Office");
    q.SetRedialAttempts(0);
    TEventLog log;
    log.Attach(q);
    c.Set(q);
    S().Dials.clear();
    EXPECT_EQ(q.Connect(), 0);
    EXPECT_TRUE(S().Dials.empty()) << "RasDial is not called";
    const String text = S().ErrorTexts[static_cast<UINT>(c.Error)];
    EXPECT_EQ(log.Events, (std::vector<Ev>{{'N', 0, "Dialing " + q.EntryName() + "..."},
                                           {'N', c.Error, "ERROR: " + text},
                                           {'N', 0, "Disconnecting..."},
                                           {'N', 0, "Disconnecting..."},
                                           {'F', c.Error, "Error connecting: " + text}}));
  }
}

TEST_F(QuorTest, LongestTextsThatFitAreDialledWhole) {
  Q->SetEntryName(std::string(256, 'E'));
  Q->SetPhoneNumber(std::string(128, '5'));
  Q->SetUserName(std::string(256, 'u'));
  Q->SetPassword(std::string(256, 'p'));
  EXPECT_NE(Q->Connect(), 0);
  const fakeras::DialCall& d = S().Dials.at(0);
  EXPECT_EQ(d.Entry, std::string(256, 'E'));
  EXPECT_EQ(d.Phone, std::string(128, '5'));
  EXPECT_EQ(d.User, std::string(256, 'u'));
  EXPECT_EQ(d.Password, std::string(256, 'p'));
}

TEST_F(QuorTest, SetDialParamsRefusesOverLongTextsAndKeepsTheRecord) {
  Q->SetUserName("joe");
  ASSERT_TRUE(Q->SetDialParams());
  const TRasDialParams before = QI::DialParams(*Q);
  const std::function<void(TQuor&)> setters[] = {
      [](TQuor& q) { q.SetEntryName(std::string(257, 'E')); },
      [](TQuor& q) { q.SetUserName(std::string(257, 'u')); },
      [](TQuor& q) { q.SetPassword(std::string(257, 'p')); },
      [](TQuor& q) { q.SetPhoneNumber(std::string(129, '5')); },
      [](TQuor& q) { q.SetCallbackNumber(std::string(129, '6')); },
      [](TQuor& q) { q.SetDomain(std::string(16, 'D')); },
      [](TQuor& q) { q.SetEntryName(std::string("Office\0Evil", 11)); },
      [](TQuor& q) { q.SetPassword(std::string("sec\0ret", 7)); },
      [](TQuor& q) {
        q.SetPhoneNumber(
            std::string("555\0"
                        "1",
                        5));
      },
      [](TQuor& q) { q.SetDomain(std::string("D\0x", 3)); },
  };
  for (size_t i = 0; i < std::size(setters); ++i) {
    SCOPED_TRACE(i);
    Q->SetEntryName("Office");
    Q->SetUserName("joe");
    Q->SetPassword("");
    Q->SetPhoneNumber("");
    Q->SetCallbackNumber("");
    Q->SetDomain("");
    setters[i](*Q);
    const size_t calls = S().PbCalls.size();
    EXPECT_FALSE(Q->SetDialParams());
    EXPECT_EQ(S().PbCalls.size(), calls) << "RAS is not called";
    EXPECT_EQ(std::memcmp(&QI::DialParams(*Q), &before, sizeof(before)), 0) << "the record is unchanged";
  }
  Q->SetEntryName("Office");
  Q->SetDomain(std::string(15, 'D'));
  EXPECT_TRUE(Q->SetDialParams()) << "15 characters fit the domain";
  EXPECT_EQ(std::string(S().PbCalls.back().Params.szDomain), std::string(15, 'D'));
}

TEST_F(QuorTest, GetDialParamsWithOverLongNameStoresItButAsksNothing) {
  const std::string longName(257, 'N');
  EXPECT_FALSE(Q->GetDialParams(longName));
  EXPECT_EQ(Q->EntryName(), longName);
  EXPECT_TRUE(S().PbCalls.empty());
}

TEST_F(QuorTest, NamesWithAZeroByteAreRefusedBeforeRas) {
  const std::string evil("Office\0Evil", 11);
  S().PbResult = 0;
  const std::vector<bool> results = {Q->DeleteEntry(evil), Q->EditEntry(0, evil), Q->RenameEntry(evil, "Home"),
                                     Q->RenameEntry("Home", evil), Q->GetDialParams(evil)};
  EXPECT_EQ(results, std::vector<bool>(5, false));
  EXPECT_TRUE(S().PbCalls.empty()) << "RAS would have read the name as Office";
}

TEST_F(QuorTest, FieldsFilledToTheBrimAreReadBackWithinTheirWidth) {
  // RAS leaves no zero in completely filled fields.
  std::memset(S().Stored.szUserName, 'u', sizeof(S().Stored.szUserName));
  std::memset(S().Stored.szPassword, 'p', sizeof(S().Stored.szPassword));
  std::memset(S().Stored.szPhoneNumber, '5', sizeof(S().Stored.szPhoneNumber));
  std::memset(S().Stored.szCallbackNumber, '6', sizeof(S().Stored.szCallbackNumber));
  std::memset(S().Stored.szDomain, 'D', sizeof(S().Stored.szDomain));
  ASSERT_TRUE(Q->GetDialParams(""));
  EXPECT_EQ(Q->UserName(), std::string(257, 'u'));
  EXPECT_EQ(Q->Password(), std::string(257, 'p'));
  EXPECT_EQ(Q->PhoneNumber(), std::string(129, '5'));
  EXPECT_EQ(Q->CallbackNumber(), std::string(129, '6'));
  EXPECT_EQ(Q->Domain(), std::string(16, 'D'));
}

// ---------------------------------------------------------------- missing entry points

TEST_F(QuorTest, MissingRasDialFailsTheDialAtOnce) {
  RasDial = nullptr;
  Q->SetRedialAttempts(0);
  EXPECT_EQ(Q->Connect(), 0);
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Dialing Office..."},
                                         {'N', 127, "ERROR: RAS error 127"},
                                         {'N', 0, "Disconnecting..."},
                                         {'N', 0, "Disconnecting..."},
                                         {'F', 127, "Error connecting: RAS error 127"}}));
}

TEST_F(QuorTest, MissingRasHangUpIsNotReportedAsSuccess) {
  ConnectNow();
  RasHangUp = nullptr;
  Log.Clear();
  const uint64_t t0 = QuorClockNow();
  EXPECT_EQ(Q->Disconnect(), 127);
  EXPECT_EQ(QuorClockNow(), t0) << "no pause for a hang-up that did not happen";
  EXPECT_EQ(Log.Events, (std::vector<Ev>{{'N', 0, "Disconnecting..."}}));
  EXPECT_EQ(QI::hRas(*Q), 0u);
  EXPECT_EQ(Q->fWindowHandle, HWND{});
  EXPECT_TRUE(S().HangUps.empty());

  // A Connect over a held call cannot hang it up either; it still dials.
  fakeras::Reapply();
  ConnectNow();
  const THRasConn held = QI::hRas(*Q);
  RasHangUp = nullptr;
  const THRasConn h = Q->Connect();
  EXPECT_NE(h, 0);
  EXPECT_NE(static_cast<THRasConn>(h), held);
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(S().HangUps.empty());
  fakeras::Reapply();  // so that the component's destruction hangs up
}

TEST_F(QuorTest, MissingRasGetConnectStatusEndsTheWatchWithoutALoss) {
  ConnectNow();
  QI::ConnectState(*Q) = 8192;
  RasGetConnectStatus = nullptr;
  Log.Clear();
  EXPECT_EQ(Q->GetConnectStatus(), 0);
  EXPECT_EQ(QI::ConnectState(*Q), 8192) << "nothing changed";
  Application->RunFor(2000);
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_TRUE(Log.Events.empty()) << "the line is not declared lost";
  EXPECT_NE(QI::hRas(*Q), 0u);
}

TEST_F(QuorTest, MissingRasGetConnectStatusStillGivesTheDeviceNotice) {
  RasGetConnectStatus = nullptr;
  S().Script = {{5, RASCS_ConnectDevice, 0}};
  Q->Connect();
  Application->RunFor(5);
  EXPECT_EQ(Log.Events.back(), (Ev{'N', 0, "Using : "}));
}

TEST_F(QuorTest, MissingRasEnumConnections) {
  RasEnumConnections = nullptr;
  Q->Connections->Add("kept");
  EXPECT_FALSE(Q->EnumConnections());
  EXPECT_EQ(Q->Connections->Count(), 1);
  EXPECT_EQ(Q->GetHandleByName("Office"), 0);
}

TEST_F(QuorTest, MissingRasEnumEntriesIsReportedAsAFailedEnumeration) {
  TRecordingPresenterGuard boxes;
  RasEnumEntries = nullptr;
  Q->PhoneBookEntries->Add("old");
  Q->GetPhoneBookEntries();
  EXPECT_EQ(Q->PhoneBookEntries->Count(), 0);
  EXPECT_EQ(boxes->Texts(), std::vector<String>{"RasEnumEntries failed (127)."});
}

TEST_F(QuorTest, EachMissingPhonebookEntryPointFailsOnlyItsOwnOperations) {
  struct Case {
    const char* Name;
    void (*Remove)();
    const char* Op;  // the operation that needs it, as the fake records it
  };
  const Case cases[] = {
      {"RasCreatePhonebookEntry", [] { RasCreatePhonebookEntry = nullptr; }, "create"},
      {"RasEditPhonebookEntry", [] { RasEditPhonebookEntry = nullptr; }, "edit"},
      {"RasDeleteEntryA", [] { RasDeleteEntryA = nullptr; }, "delete"},
      {"RasRenameEntryA", [] { RasRenameEntryA = nullptr; }, "rename"},
      {"RasGetEntryDialParams", [] { RasGetEntryDialParams = nullptr; }, "getparams"},
      {"RasSetEntryDialParams", [] { RasSetEntryDialParams = nullptr; }, "setparams"},
  };
  const std::vector<std::string> all = {"create", "create", "edit", "delete", "rename", "getparams", "setparams"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fakeras::Reapply();
    c.Remove();
    S().PbCalls.clear();
    const std::string missing = c.Op;
    Q->SetEntryName("Office");
    Q->SetUserName("kept");

    EXPECT_EQ(Q->CreateEntry(HWND{}), missing != "create");
    DWORD ret = 55;
    Q->RasCreateEntry(HWND{}, ret);
    EXPECT_EQ(ret, missing == "create" ? 127u : 0u);
    EXPECT_EQ(Q->EditEntry(HWND{}, "Office"), missing != "edit");
    EXPECT_EQ(Q->DeleteEntry("Office"), missing != "delete");
    EXPECT_EQ(Q->RenameEntry("Office", "Work"), missing != "rename");
    EXPECT_EQ(Q->GetDialParams("Home"), missing != "getparams");
    EXPECT_EQ(Q->EntryName(), "Home") << "stored whatever happens next";
    if (missing == "getparams") {
      EXPECT_EQ(Q->UserName(), "kept");
    }
    Q->SetUserName("to store");
    const TRasDialParams before = QI::DialParams(*Q);
    EXPECT_EQ(Q->SetDialParams(), missing != "setparams");
    if (missing == "setparams") {
      EXPECT_EQ(std::memcmp(&before, &QI::DialParams(*Q), sizeof(before)), 0) << "the record is unchanged";
    }

    std::vector<std::string> want, seen;
    for (const std::string& op : all)
      if (op != missing) want.push_back(op);
    for (const fakeras::PbCall& call : S().PbCalls) seen.push_back(call.Op);
    EXPECT_EQ(seen, want) << "every other operation still reaches RAS";
  }
}

// ---------------------------------------------------------------- exceptions from handlers

TEST_F(QuorTest, ThrowingDialingNoticeStopsTheDialBeforeRas) {
  Q->SetOnNotify([](Integer, String T) {
    if (T.rfind("Dialing", 0) == 0) throw Exception("no dialling today");
  });
  EXPECT_THROW(Q->Connect(), Exception);
  EXPECT_TRUE(S().Dials.empty());
  EXPECT_NE(Q->fWindowHandle, HWND{}) << "the window stays, with no call";
  Q->SetOnNotify(nullptr);
  EXPECT_NE(Q->Connect(), 0) << "still usable";
}

TEST_F(QuorTest, ThrowingConnectFailHandlerLeavesTheComponentIdle) {
  S().DialResult = 676;
  Q->SetRedialAttempts(0);
  Q->SetOnConnectFail([](Integer, String) { throw Exception("fail handler failed"); });
  EXPECT_THROW(Q->Connect(), Exception);
  EXPECT_EQ(QI::hRas(*Q), 0u);
  EXPECT_EQ(Q->fWindowHandle, HWND{});
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
}

TEST_F(QuorTest, ExceptionsFromDialEventsReachTheApplication) {
  S().Script = {{5, RASCS_Connected, 0}};
  Q->SetOnConnect([](TObject*) { throw Exception("connect handler failed"); });
  Q->Connect();
  Application->RunFor(10);
  EXPECT_EQ(Exceptions, std::vector<std::string>{"connect handler failed"});
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled()) << "the steps after the handler did not happen";
  EXPECT_FALSE(QI::LookForWindow(*Q)->Enabled());
  EXPECT_EQ(Log.Find(Ev{'N', 0, "Connected"}), -1);
}

TEST_F(QuorTest, ExceptionFromTheRedialTickReachesTheApplication) {
  S().DialResult = 676;
  Q->Connect();
  Q->SetOnNotify([](Integer, String T) {
    if (T.rfind("Dialing", 0) == 0) throw Exception("redial handler failed");
  });
  Application->RunFor(10000);
  EXPECT_EQ(Exceptions, std::vector<std::string>{"redial handler failed"});
  EXPECT_FALSE(QI::Redial(*Q)->Enabled());
  EXPECT_EQ(S().Dials.size(), 1u);
}

TEST_F(QuorTest, WindowLeftByAFailedHandlerIsReleasedAtDestruction) {
  Q->SetOnNotify([](Integer, String) { throw Exception("x"); });
  EXPECT_THROW(Q->Connect(), Exception);
  const HWND w = Q->fWindowHandle;
  ASSERT_NE(w, HWND{});
  ASSERT_EQ(QI::hRas(*Q), 0u);
  PostMessageA(w, fakeras::DialEventMessage(), RASCS_Connected, 0);
  delete Q;
  Q = nullptr;
  EXPECT_FALSE(IsWindow(w));
  Application->RunFor(100);  // the queued event reaches nobody (ASan)
}

// ---------------------------------------------------------------- nested calls

TEST_F(QuorTest, HandlerMayHangUpFromInsideTheConnectedNotice) {
  S().Script = {{5, RASCS_Connected, 0}, {10, RASCS_Authenticated, 0}};
  const THRasConn first = 0x101;
  Q->SetOnNotify([&](Integer E, String T) {
    Log.Add('N', E, T);
    if (T == "Connected") Q->Disconnect();
  });
  Q->Connect();
  Application->RunFor(3000);
  EXPECT_EQ(Log.Events,
            (std::vector<Ev>{
                {'N', 0, "Dialing Office..."}, {'C', 0, ""}, {'N', 0, "Connected"}, {'N', 0, "Disconnecting..."}}));
  EXPECT_EQ(S().HangUps, std::vector<THRasConn>{first});
  EXPECT_FALSE(QI::CheckStatus(*Q)->Enabled());
  EXPECT_EQ(Q->fWindowHandle, HWND{});
}

TEST_F(QuorTest, ConnectFailHandlerMayDialAgain) {
  S().DialResult = 676;
  Q->SetRedialAttempts(0);
  int fails = 0;
  Q->SetOnConnectFail([&](Integer E, String T) {
    Log.Add('F', E, T);
    if (++fails == 1) {
      S().DialResult = 0;
      Q->Connect();
    }
  });
  EXPECT_NE(Q->Connect(), 0) << "the nested dial's handle";
  EXPECT_EQ(fails, 1);
  EXPECT_EQ(S().Dials.size(), 2u);
  EXPECT_EQ(Log.Events.back(), (Ev{'N', 0, "Dialing Office..."}));
  EXPECT_NE(Q->fWindowHandle, HWND{});
}

// ---------------------------------------------------------------- destruction while busy

TEST_F(QuorTest, DestroyDuringADialDropsItsPendingEvents) {
  S().Script = {{5, 0, 0}, {10, 1, 0}, {50, RASCS_Connected, 0}};
  Q->Connect();
  Application->RunFor(7);
  const HWND w = Q->fWindowHandle;
  PostMessageA(w, fakeras::DialEventMessage(), 2, 0);  // already queued at destruction
  delete Q;
  Q = nullptr;
  EXPECT_EQ(S().HangUps, std::vector<THRasConn>{0x101});
  EXPECT_FALSE(IsWindow(w));
  Application->RunFor(1000);  // nothing reaches the freed component (ASan)
}

TEST_F(QuorTest, DestroyWhileWaitingToRedial) {
  S().DialResult = 676;
  Q->Connect();
  ASSERT_TRUE(QI::Redial(*Q)->Enabled());
  delete Q;
  Q = nullptr;
  Application->RunFor(20000);  // no tick reaches the freed component (ASan)
  EXPECT_EQ(S().Dials.size(), 1u);
}

TEST_F(QuorTest, DestroyWhileConnectedStopsTheWatches) {
  ConnectNow();
  delete Q;
  Q = nullptr;
  const size_t polls = S().StatusCalls.size();
  Application->RunFor(5000);
  EXPECT_EQ(S().StatusCalls.size(), polls);
}

TEST_F(QuorTest, DestroyHangsUpADialItsOwnHangUpNoticeStarted) {
  ConnectNow();
  const THRasConn first = QI::hRas(*Q);
  Q->SetOnNotify([this](Integer, String T) {
    if (T == "Disconnecting...") Q->Connect();
  });
  delete Q;
  Q = nullptr;
  ASSERT_EQ(S().Dials.size(), 2u);
  EXPECT_EQ(S().HangUps, (std::vector<THRasConn>{first, S().Dials.back().Handle})) << "no call is left up";
  Application->RunFor(60000);  // nothing reaches the freed component (ASan)
  EXPECT_EQ(S().Dials.size(), 2u);
}
