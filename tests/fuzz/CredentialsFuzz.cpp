// Fuzz target of the credential file: any text in its place is either read
// or refused as corrupt (625) with nothing written; a file that reads takes a
// store, a rename and a delete, and stays readable, with the stored values
// read back as stored and nothing left under a name that is gone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Ras2/RasContract.h"
#include "RasSim/common/IniFile.h"
#include "RasSim/common/Stores.h"
#include "tests/fuzz/FuzzFolder.h"

namespace {

using namespace rassim;

const std::filesystem::path& Dir() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path d = fuzzsupport::Folder("credentials_fuzz");
    setenv("QUOR_RAS_PHONEBOOK", (d / "rasphone.pbk").c_str(), 1);
    setenv("QUOR_RAS_CREDENTIALS", (d / "credentials.dat").c_str(), 1);
    return d;
  }();
  return dir;
}

DWORD Rename(const PhonebookRef& ref, const std::string& from, const std::string& to) {
  CredentialsChange change(ref);
  IniDocument book;
  book.Add(from);
  const DWORD e = change.Prepare(book, from, to);
  if (e == 0) fuzzsupport::Write(Dir() / "rasphone.pbk", to.empty() ? "[Home]\n" : "[" + to + "]\n[Home]\n");
  change.Finish(e == 0);
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::filesystem::path creds = Dir() / "credentials.dat";
  fuzzsupport::Write(Dir() / "rasphone.pbk", "[Office]\n[Home]\n");
  fuzzsupport::Write(creds, text);
  std::filesystem::permissions(creds, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const PhonebookRef ref = ResolvePhonebook(nullptr);
  IniDocument parsed;
  const bool valid = parsed.Parse(text);
  StoredParams got;
  bool found = false;
  const DWORD read = LoadCredentials(ref, "Office", got, found);
  if (read != (valid ? 0u : ERROR_CORRUPT_PHONEBOOK)) std::abort();
  StoredParams stored;
  stored.userName = "u\n%=[x]";
  stored.password = SecretString("p\0w", 3);
  stored.hasPassword = true;
  const DWORD store = StoreCredentials(ref, "Office", stored);
  if (!valid) {
    // Refused, and nothing written.
    if (store != ERROR_CORRUPT_PHONEBOOK || Rename(ref, "Office", "Work") != ERROR_CORRUPT_PHONEBOOK) std::abort();
    if (fuzzsupport::Read(creds) != text) std::abort();
    return 0;
  }
  if (store != 0) std::abort();
  if (LoadCredentials(ref, "office", got, found) != 0 || !found || got.userName != stored.userName ||
      got.password != stored.password || !got.hasPassword)
    std::abort();
  if (Rename(ref, "Office", "Work") != 0) std::abort();
  if (LoadCredentials(ref, "Work", got, found) != 0 || !found || got.userName != stored.userName) std::abort();
  if (Rename(ref, "Work", std::string()) != 0) std::abort();
  IniDocument after;
  if (!after.Parse(fuzzsupport::Read(creds))) std::abort();
  for (const IniSection& s : after.Sections()) {
    // Only what the input held under other names (or other phonebooks) may stay.
    if (s.Find("Pending") && s.Get("Phonebook") == std::filesystem::absolute(Dir() / "rasphone.pbk").string())
      std::abort();
  }
  return 0;
}
