// Dials the entry named on the command line through an installed Quor and
// hangs up again. Exits 0 only when the dial connected and the hang-up
// returned 0; the phonebook is whatever the RAS service is told to use.
#include <cstdio>
#include <string>

#include "QuorVersion.h"
#include "TQuorComponent/TQuorComponent.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quor_consumer ENTRY\n");
    return 2;
  }
  std::printf("Quor %s\n", QUOR_VERSION);
  TQuor quor(nullptr);
  if (!quor.RasInitialized) {
    std::fprintf(stderr, "the RAS client library could not be loaded\n");
    return 1;
  }
  bool connected = false, failed = false;
  quor.SetOnNotify([](Integer error, String text) { std::printf("%d %s\n", static_cast<int>(error), text.c_str()); });
  quor.SetOnConnect([&](TObject*) { connected = true; });
  quor.SetOnConnectFail([&](Integer, String) { failed = true; });
  quor.SetEntryName(argv[1]);
  quor.SetRedialAttempts(0);
  if (quor.Connect() == 0) return 1;
  Application->RunUntil([&] { return connected || failed; }, 10000);
  if (!connected) return 1;
  return quor.Disconnect() == 0 ? 0 : 1;
}
