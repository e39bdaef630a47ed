// Dials one phonebook entry with TQuor in the real-time message loop,
// prints every event, stays connected a moment and hangs up again.
//
// The example runs against Quor's simulated RAS service (the rasapi32.dll
// beside it) with a phonebook of its own in a temporary folder, so it leaves
// the user's phonebook alone.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "TQuorComponent/TQuorComponent.h"
#include "examples/ExampleEnv.h"

namespace fs = std::filesystem;

namespace {

fs::path MakePrivateFolder() {
  std::random_device rd;
  for (int i = 0; i < 100; ++i) {
    fs::path p = fs::temp_directory_path() / ("quor-dial-example-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) return p;
  }
  return {};
}

void Print(const char* Event, Integer Error, const String& Text) {
  std::printf("%-14s %4d  %s\n", Event, static_cast<int>(Error), Text.c_str());
  std::fflush(stdout);
}

}  // namespace

int main() {
  const fs::path folder = MakePrivateFolder();
  if (folder.empty()) {
    std::fprintf(stderr, "cannot create a temporary folder\n");
    return 1;
  }
  const fs::path phonebook = folder / "rasphone.pbk";
  {
    std::ofstream pbk(phonebook);
    pbk << "[Office]\nDEVICE=modem\nDevice=Example Modem\nPhoneNumber=555-0100\n";
  }
  SetExampleEnv("QUOR_RAS_PHONEBOOK", phonebook.string());
  SetExampleEnv("QUOR_RAS_CREDENTIALS", (folder / "credentials.dat").string());
  SetExampleEnv("QUOR_RAS_STATE_DIR", (folder / "state").string());

  int status = 1;
  {
    TQuor quor(nullptr);
    if (!quor.RasInitialized) {
      std::fprintf(stderr, "the RAS client library could not be loaded\n");
    } else {
      bool connected = false, failed = false;
      quor.SetOnNotify([](Integer E, String T) { Print("OnNotify", E, T); });
      quor.SetOnConnect([&](TObject*) {
        connected = true;
        Print("OnConnect", 0, "");
      });
      quor.SetOnDisconnect([](Integer E, String T) { Print("OnDisconnect", E, T); });
      quor.SetOnConnectFail([&](Integer E, String T) {
        failed = true;
        Print("OnConnectFail", E, T);
      });
      quor.SetEntryName("Office");
      quor.SetRedialAttempts(0);

      std::printf("phonebook entries: %d\n", quor.PhoneBookEntries->Count());
      const THRasConn handle = quor.Connect();
      std::printf("Connect returned handle %llu\n", static_cast<unsigned long long>(handle));
      if (handle != 0) Application->RunUntil([&] { return connected || failed; }, 8000);
      if (connected) {
        Application->RunFor(500);  // stay connected a moment
        const Integer r = quor.Disconnect();
        std::printf("Disconnect returned %d\n", static_cast<int>(r));
        status = 0;
      } else {
        std::printf("no connection\n");
      }
    }
  }

  std::error_code ec;
  fs::remove_all(folder, ec);
  return status;
}
