// The RAS library on a backend it cannot have: every call that needs the
// service fails with 711, while the edge's own answers (error texts,
// countries) and its argument checks go on working. A process of its own:
// the library reads QUOR_RAS_BACKEND once, when it loads.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Ras2/RasContract.h"
#include "tests/rassim/TestPlatform.h"

namespace {

template <class T>
T Bind(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(lib, name)));
}

}  // namespace

TEST(BackendChoice, AnUnknownBackendFailsEveryServiceCallWith711) {
  rassimtest::SetEnv("QUOR_RAS_BACKEND", "nosuch");
  HMODULE lib = LoadLibraryA("rasapi32.dll");
  ASSERT_TRUE(lib != 0) << "rasapi32.dll not found beside the test";

  TRasDialParamsA params{};
  params.dwSize = sizeof params;
  std::string("Office").copy(params.szEntryName, 6);
  TRasConnStatusA status{};
  status.dwSize = sizeof status;
  TRasCtryInfo country[64]{};
  country[0].dwSize = sizeof(TRasCtryInfo);
  country[0].dwCountryID = 1;
  char text[256] = {};
  DWORD cb = 0, count = 0, size = sizeof country;
  THRasConn h = 0;
  BOOL password = FALSE;

  using Row = std::pair<std::string, DWORD>;
  const std::vector<Row> got = {
      {"RasEnumEntriesA", Bind<TRasEnumEntriesA>(lib, "RasEnumEntriesA")(nullptr, nullptr, nullptr, &cb, &count)},
      {"RasDialA", Bind<TRasDialA>(lib, "RasDialA")(nullptr, nullptr, &params, 0, 0, &h)},
      {"RasDialA null params", Bind<TRasDialA>(lib, "RasDialA")(nullptr, nullptr, nullptr, 0, 0, &h)},
      {"RasEnumConnectionsA", Bind<TRasEnumConnectionsA>(lib, "RasEnumConnectionsA")(nullptr, &cb, &count)},
      {"RasGetConnectStatusA", Bind<TRasGetConnectStatusA>(lib, "RasGetConnectStatusA")(1, &status)},
      {"RasHangUpA", Bind<TRasHangUpA>(lib, "RasHangUpA")(1)},
      {"RasGetEntryDialParamsA",
       Bind<TRasGetEntryDialParamsA>(lib, "RasGetEntryDialParamsA")(nullptr, &params, &password)},
      {"RasDeleteEntryA", Bind<TRasDeleteEntryA>(lib, "RasDeleteEntryA")(nullptr, "Office")},
      {"RasEnumDevicesA", Bind<TRasEnumDevicesA>(lib, "RasEnumDevicesA")(nullptr, &cb, &count)},
      {"RasGetErrorStringA", Bind<TRasGetErrorStringA>(lib, "RasGetErrorStringA")(711, text, sizeof text)},
      {"RasGetCountryInfoA", Bind<TRasGetCountryInfoA>(lib, "RasGetCountryInfoA")(country, &size)},
  };
  const std::vector<Row> want = {
      {"RasEnumEntriesA", 711},        {"RasDialA", 711},
      {"RasDialA null params", 87},    {"RasEnumConnectionsA", 711},
      {"RasGetConnectStatusA", 711},   {"RasHangUpA", 711},
      {"RasGetEntryDialParamsA", 711}, {"RasDeleteEntryA", 711},
      {"RasEnumDevicesA", 711},        {"RasGetErrorStringA", 0},
      {"RasGetCountryInfoA", 0},
  };
  EXPECT_EQ(got, want);
  EXPECT_EQ(h, 0u) << "no handle for a dial that could not start";
  EXPECT_NE(std::string(text), "") << "the text of 711 is there to explain the failure";
  FreeLibrary(lib);
}
