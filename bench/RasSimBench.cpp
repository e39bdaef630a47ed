// The simulated RAS service's phonebook handling, called directly in its
// core library: parsing and writing back the rasphone.pbk format, reading a
// phonebook file, listing its entries, and the locked read-modify-write that
// every phonebook change makes (atomic replace, flushed to disk).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RasSim/backends/sim/Service.h"
#include "RasSim/common/IniFile.h"
#include "RasSim/common/Stores.h"
#include "bench/BenchSupport.h"

namespace {

std::filesystem::path ScratchPhonebook(int Count) {
  std::filesystem::path path = quorbench::BenchDir() / ("scratch-" + std::to_string(Count) + ".pbk");
  quorbench::WriteTextFile(path, quorbench::PhonebookText(Count));
  return path;
}

}  // namespace

// Parse of a phonebook text of range(0) entries (every line kept).
static void BM_RasSim_PhonebookParse(benchmark::State& State) {
  const std::string text = quorbench::PhonebookText(static_cast<int>(State.range(0)));
  size_t sections = 0;
  for (auto _ : State) {
    rassim::IniDocument doc;
    if (!doc.Parse(text)) return State.SkipWithError("the phonebook did not parse");
    sections = doc.Sections().size();
    benchmark::DoNotOptimize(sections);
  }
  if (sections != static_cast<size_t>(State.range(0))) return State.SkipWithError("entries were lost");
  State.SetItemsProcessed(State.iterations() * State.range(0));
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_RasSim_PhonebookParse)->Arg(10)->Arg(100)->Arg(1000);

// Writing a parsed phonebook back to text (unchanged lines as they were read).
static void BM_RasSim_PhonebookSerialize(benchmark::State& State) {
  const std::string text = quorbench::PhonebookText(static_cast<int>(State.range(0)));
  rassim::IniDocument doc;
  if (!doc.Parse(text)) return State.SkipWithError("the phonebook did not parse");
  std::string out;
  for (auto _ : State) {
    out = doc.Serialize();
    benchmark::DoNotOptimize(out.data());
  }
  if (out != text) return State.SkipWithError("the text did not survive the round trip");
  State.SetItemsProcessed(State.iterations() * State.range(0));
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_RasSim_PhonebookSerialize)->Arg(10)->Arg(100)->Arg(1000);

// RasEnumEntries' work in the service on a phonebook that has not changed
// since the last call: look at the file's stamp, list the names of the
// cached document (PhonebookParse gives the cost of a changed file).
static void BM_RasSim_EnumEntries(benchmark::State& State) {
  const std::filesystem::path path = ScratchPhonebook(static_cast<int>(State.range(0)));
  rassim::PbArg pb;
  pb.isNull = false;
  pb.text = path.string();
  std::vector<std::string> names;
  for (auto _ : State) {
    if (rassim::EnumEntries(pb, names) != 0) return State.SkipWithError("RasEnumEntries failed");
  }
  if (names.size() != static_cast<size_t>(State.range(0))) return State.SkipWithError("entries were lost");
  State.SetItemsProcessed(State.iterations() * State.range(0));
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_RasSim_EnumEntries)->Arg(10)->Arg(100)->Arg(1000);

// One phonebook change (a key of the last entry set to a new value) as the
// service makes it: lock, read, parse, change, serialise, write a temporary
// file, flush it to disk, rename it over the phonebook. Disk-bound.
static void BM_RasSim_PhonebookRewrite(benchmark::State& State) {
  const int count = static_cast<int>(State.range(0));
  const std::filesystem::path path = ScratchPhonebook(count);
  const rassim::PhonebookRef ref = rassim::ResolvePhonebook(path.string().c_str());
  const std::string last = quorbench::EntryName(count - 1);
  uint64_t serial = 0;
  for (auto _ : State) {
    const std::string value = std::to_string(++serial);
    const DWORD r = rassim::ModifyPhonebook(ref, false, [&](rassim::IniDocument& doc, bool& changed) -> DWORD {
      rassim::IniSection* s = doc.Find(last);
      if (s == nullptr) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
      s->Set("QuorBenchSerial", value);
      changed = true;
      return 0;
    });
    if (r != 0) return State.SkipWithError("the rewrite failed");
  }
  rassim::IniDocument check;
  if (rassim::LoadPhonebook(ref, check) != 0 || check.Sections().size() != static_cast<size_t>(count) ||
      check.Find(last) == nullptr || check.Find(last)->Get("QuorBenchSerial") != std::to_string(serial))
    return State.SkipWithError("the rewritten phonebook is not what was written");
  State.SetItemsProcessed(State.iterations());
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_RasSim_PhonebookRewrite)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
