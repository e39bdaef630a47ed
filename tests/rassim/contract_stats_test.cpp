// RasGetConnectionStatistics: the record's checks, the simulated line's
// counters moving on the clock (a 32-bit wrap included) and the reason a
// dropped line gives.
#include "Ras2/RasOptionalContract.h"
#include "tests/rassim/ContractFixture.h"

namespace rassimtest {
namespace {

class RasStatisticsContract : public RasContract {
 protected:
  void SetUp() override {
    RasContract::SetUp();
    if (Target() == "wine") GTEST_SKIP() << "Wine's RasGetConnectionStatistics is not part of this suite";
    stats_ = reinterpret_cast<TRasGetConnectionStatistics>(
        reinterpret_cast<void (*)()>(GetProcAddress(lib_, "RasGetConnectionStatistics")));
    ASSERT_NE(stats_, nullptr) << "the library exports RasGetConnectionStatistics";
  }
  DWORD Stats(THRasConn h, TRasStats& s, DWORD size = sizeof(TRasStats)) {
    std::memset(&s, 0, sizeof s);
    s.dwSize = size;
    return stats_(h, &s);
  }
  // Dials Office (connected 100 ms later) and runs until it is up.
  THRasConn Connected(const std::string& keys) {
    Phonebook({{"Office", "QuorStepDelay=10\n" + keys}});
    THRasConn h = 0;
    EXPECT_EQ(StartDial("Office", h), 0u);
    RunFor(100);
    EXPECT_TRUE(!Events().empty() && Events().back().state == RASCS_Connected) << "Office is up";
    return h;
  }
  TRasGetConnectionStatistics stats_ = nullptr;
};

TEST_F(RasStatisticsContract, ChecksItsRecordAndHandle) {
  TRasStats s;
  EXPECT_EQ(stats_(0x1234567u, nullptr), 87u);
  for (DWORD size : {0u, 59u, 61u, 64u}) EXPECT_EQ(Stats(0x1234567u, s, size), 632u) << "dwSize " << size;
  EXPECT_ON_TARGET("statistics of an unknown handle", Stats(0x1234567u, s), 6u);
}

// Counters at moments of the call: bytes each way at their rates, the burst
// received at once when its time comes, CRC errors per minute, frames of
// 1500 bytes, the speed, the time connected; 10^9 bytes a second wrap the
// 32-bit counter after 4.29 s.
TEST_F(RasStatisticsContract, CountersMoveOnTheClockAndWrapAt32Bits) {
  RAS_CONTRACT("control");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  THRasConn h = Connected(
      "QuorSendRate=1000\nQuorReceiveRate=1000000000\nQuorBurst=7000@2s\nQuorLineErrors=120\nQuorSpeed=33600");
  struct Row {
    uint64_t atMs;  // after the connection came up
    DWORD sent, received, framesSent, crc;
  };
  const Row rows[] = {
      {0, 0, 0, 0, 0},
      {1500, 1500, 1500000000u, 1, 3},
      {2000, 2000, 2000007000u, 2, 4},
      {5000, 5000, static_cast<DWORD>((5000000000ull + 7000) & 0xFFFFFFFFu), 4, 10},
  };
  uint64_t now = 0;
  for (const Row& r : rows) {
    RunFor(r.atMs - now);
    now = r.atMs;
    TRasStats s;
    ASSERT_EQ(Stats(h, s), 0u) << r.atMs << " ms";
    EXPECT_EQ(s.dwBytesXmited, r.sent) << r.atMs << " ms";
    EXPECT_EQ(s.dwBytesRcved, r.received) << r.atMs << " ms";
    EXPECT_EQ(s.dwFramesXmited, r.framesSent) << r.atMs << " ms";
    EXPECT_EQ(s.dwCrcErr, r.crc) << r.atMs << " ms";
    EXPECT_EQ(s.dwBps, 33600u);
    EXPECT_EQ(s.dwConnectDuration, r.atMs);
  }
  HangUp(h);
  TRasStats s;
  EXPECT_EQ(Stats(h, s), ERROR_INVALID_HANDLE) << "a hung-up call has no figures";
}

// While dialling every figure is 0; a lost line with a reason reports it as
// the status call's error until it is hung up (6 without one, as before).
TEST_F(RasStatisticsContract, DiallingReadsZeroAndADroppedLineGivesItsReason) {
  RAS_CONTRACT("control");
  RAS_SIMULATION_ONLY("script (its phonebook keys and virtual clock)");
  const struct {
    const char* keys;
    DWORD status;
  } cases[] = {{"", ERROR_INVALID_HANDLE}, {"QuorDropReason=remote", 629}, {"QuorDropReason=715", 715}};
  for (const auto& c : cases) {
    Phonebook({{"Office", std::string("QuorStepDelay=10\nQuorSendRate=500\nQuorDropAfter=1\n") + c.keys}});
    ClearEvents();
    THRasConn h = 0;
    ASSERT_EQ(StartDial("Office", h), 0u);
    RunFor(50);
    TRasStats s;
    ASSERT_EQ(Stats(h, s), 0u);
    EXPECT_EQ(s.dwBytesXmited + s.dwBps + s.dwConnectDuration, 0u) << "nothing while dialling";
    RunFor(1050);  // connected at 100 ms, lost 1 s later
    TRasConnStatusA st;
    EXPECT_EQ(Status(h, st), c.status) << c.keys;
    EXPECT_EQ(st.rasconnstate, 0u) << "the record stays unfilled, so a poll sees the loss as before";
    EXPECT_EQ(Stats(h, s), ERROR_INVALID_HANDLE);
    EXPECT_EQ(api_.HangUpA(h), 0u);
  }
}

}  // namespace
}  // namespace rassimtest
