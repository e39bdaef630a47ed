// Fuzz target of the connection records in the state folder: any text as the
// record of a connection is either listed as that connection or skipped, and
// the folder serves the next reader and writer.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "RasSim/common/Registry.h"
#include "tests/fuzz/FuzzFolder.h"

namespace {

const std::filesystem::path& StateDir() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path d = fuzzsupport::Folder("records_fuzz") / "state";
    std::filesystem::create_directories(d);
    std::filesystem::permissions(d, std::filesystem::perms::owner_all);
    setenv("QUOR_RAS_STATE_DIR", d.c_str(), 1);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace reg = rassim::registry;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::filesystem::path file = StateDir() / "conn-0000abcd";
  fuzzsupport::Write(file, text);
  std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::vector<reg::ConnRecord> listed;
  if (reg::List(listed) != 0) std::abort();
  for (const reg::ConnRecord& r : listed)
    if (r.handle != 0xabcd) std::abort();  // a record is listed under its own file's handle only
  reg::ConnRecord one;
  if (reg::Read(0xabcd, one) && one.handle != 0xabcd) std::abort();
  // The folder still takes a record of ours and gives it back.
  reg::ConnRecord mine;
  mine.handle = 0x7777;
  mine.entry = "Fuzz";
  mine.ownerPid = static_cast<uint32_t>(getpid());
  DWORD error = 0;
  reg::Publish(mine, &error);
  if (error != 0) std::abort();
  reg::ConnRecord back;
  if (!reg::Read(0x7777, back) || back.entry != "Fuzz") std::abort();
  reg::Remove(0x7777);
  reg::Remove(0xabcd);
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return 0;
}
