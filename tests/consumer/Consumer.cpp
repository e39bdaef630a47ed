// Dials the entry named on the command line through an installed Quor and
// hangs up again. Exits 0 only when the dial connected and the hang-up
// returned 0; the phonebook is whatever the RAS service is told to use.
// --system-ras: load the system's RAS only (never a copy beside the program).
// Prints the path of the rasapi32.dll in use.
#include <cstdio>
#include <string>

#include "QuorVersion.h"
#include "Ras2/Ras2.h"
#include "TQuorComponent/TQuorComponent.h"

int main(int argc, char** argv) {
  const bool systemRas = argc == 3 && std::string(argv[1]) == "--system-ras";
  if (argc != 2 && !systemRas) {
    std::fprintf(stderr, "usage: quor_consumer [--system-ras] ENTRY\n");
    return 2;
  }
  std::printf("Quor %s\n", QUOR_VERSION);
  SetRasSystemFolderOnly(systemRas);
  TQuor quor(nullptr);
  if (!quor.RasInitialized) {
    std::fprintf(stderr, "the RAS client library could not be loaded\n");
    return 1;
  }
  char path[1024];
  const DWORD length = GetModuleFileNameA(GetModuleHandleA("rasapi32.dll"), path, sizeof path);
  std::printf("rasapi32.dll: %s\n", length > 0 && length < sizeof path ? path : "(unknown)");
  bool connected = false, failed = false;
  quor.SetOnNotify([](Integer error, String text) { std::printf("%d %s\n", static_cast<int>(error), text.c_str()); });
  quor.SetOnConnect([&](TObject*) { connected = true; });
  quor.SetOnConnectFail([&](Integer, String) { failed = true; });
  quor.SetEntryName(argv[argc - 1]);
  quor.SetRedialAttempts(0);
  if (quor.Connect() == 0) return 1;
  Application->RunUntil([&] { return connected || failed; }, 10000);
  if (!connected) return 1;
  return quor.Disconnect() == 0 ? 0 : 1;
}
