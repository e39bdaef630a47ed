// Shared fixture of the component tests: virtual time, a recording message
// box presenter, a recorder of every event the component raises (with the
// clock reading and the timers' states at that moment), and the component
// itself, with the purpose-built RAS of FakeRas.h in place of the RAS
// entry points it calls.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "FakeRas.h"
#include "TQuorComponent/TQuorComponent.h"
#include "TQuorInspector.h"
#include "Win32/Clock.h"
#include "tests/support/TestPresenter.h"

using QI = TQuorInspector;

// One raised event: N = OnNotify, C = OnConnect, D = OnDisconnect,
// F = OnConnectFail.
struct Ev {
  char Kind;
  Integer Err;
  String Text;
  bool operator==(const Ev& O) const { return Kind == O.Kind && Err == O.Err && Text == O.Text; }
};
inline void PrintTo(const Ev& E, std::ostream* Os) {
  *Os << E.Kind << "(" << E.Err << ",\"" << E.Text << "\")";
}

// What the component held when an event was raised.
struct Snap {
  uint64_t Time;
  bool Look, Redial, Check;
  THRasConn hRas;
  bool Window;
};

// Attaches recording handlers to a component.
class TEventLog {
 public:
  std::vector<Ev> Events;
  std::vector<Snap> Snaps;

  void Attach(TQuor& Q) {
    fQ = &Q;
    Q.SetOnNotify([this](Integer E, String T) { Add('N', E, T); });
    Q.SetOnConnect([this](TObject* Sender) {
      SenderSeen = Sender;
      Add('C', 0, "");
    });
    Q.SetOnDisconnect([this](Integer E, String T) { Add('D', E, T); });
    Q.SetOnConnectFail([this](Integer E, String T) { Add('F', E, T); });
  }
  void Add(char Kind, Integer Err, const String& Text) {
    Events.push_back(Ev{Kind, Err, Text});
    Snaps.push_back(Snap{QuorClockNow(), QI::LookForWindow(*fQ)->Enabled(), QI::Redial(*fQ)->Enabled(),
                         QI::CheckStatus(*fQ)->Enabled(), QI::hRas(*fQ), fQ->fWindowHandle != 0});
  }
  void Clear() {
    Events.clear();
    Snaps.clear();
  }
  // Index of the first event equal to E, or -1.
  int Find(const Ev& E, size_t From = 0) const {
    for (size_t i = From; i < Events.size(); ++i)
      if (Events[i] == E) return static_cast<int>(i);
    return -1;
  }
  TObject* SenderSeen = nullptr;

 private:
  TQuor* fQ = nullptr;
};

class QuorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QuorClockUseVirtual(1);
    fPresenterGuard = std::make_unique<TPresenterGuard>(&Boxes);
    Application->OnException = [this](const std::exception& E) { Exceptions.push_back(E.what()); };
    Q = new TQuor(nullptr);
    fakeras::Install();
    BindFakes(*Q);
    Log.Attach(*Q);
    Q->SetEntryName("Office");
  }

  void TearDown() override {
    delete Q;
    Q = nullptr;
    Application->ProcessMessages();
    fakeras::Restore();
    Application->OnException = nullptr;
    fPresenterGuard.reset();
  }

  // Every further component binds the library's entry points again in its
  // constructor: the fakes go back in place. Without a RAS library beside
  // the test the component could not bind; the fakes stand in for it.
  static void BindFakes(TQuor& C) {
    fakeras::Reapply();
    if (!C.RasInitialized) {
      C.RasInitialized = true;
      QI::RASEvent(C) = static_cast<Word>(fakeras::DialEventMessage());
    }
  }

  // A started dial brought to the connected state by its dial events.
  void ConnectNow(uint32_t ConnectAfterMs = 10) {
    fakeras::S().Script = {{ConnectAfterMs, RASCS_Connected, 0}};
    ASSERT_NE(Q->Connect(), 0);
    Application->RunFor(ConnectAfterMs);
    THRasConn h = QI::hRas(*Q);
    ASSERT_NE(h, 0u);
    fakeras::S().Status[h] = fakeras::ConnStatus{};
    ASSERT_TRUE(QI::CheckStatus(*Q)->Enabled());
  }

  void PostDialEvent(uint32_t WParam, uint32_t LParam) {
    PostMessageA(Q->fWindowHandle, fakeras::DialEventMessage(), WParam, static_cast<LPARAM>(LParam));
  }
  LRESULT SendDialEvent(uint32_t WParam, uint32_t LParam) {
    return SendMessageA(Q->fWindowHandle, fakeras::DialEventMessage(), WParam, static_cast<LPARAM>(LParam));
  }

  TQuor* Q = nullptr;
  TEventLog Log;
  TRecordingPresenter Boxes;
  std::vector<std::string> Exceptions;

 private:
  std::unique_ptr<TPresenterGuard> fPresenterGuard;
};
