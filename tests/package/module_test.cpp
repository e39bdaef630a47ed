// The real TQuor30.dpl, loaded the way a host loads it: its exports, its
// resources byte for byte, and a load, registration, use and unload. This
// program does not link the component: everything comes from the module.
#include <gtest/gtest.h>

#include <set>

#include "Vcl/FrameworkUnits.h"
#include "Vcl/Resources.h"
#include "Vcl/Streaming.h"

namespace {

typedef const PackageInfoTable*(WINAPI* TGetTable)(void);
typedef void(WINAPI* TProc)(void);

template <typename T>
T Export(HMODULE M, const char* Name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(M, Name)));
}

uint32_t U32(const std::vector<uint8_t>& D, size_t At) {
  return D[At] | (D[At + 1] << 8) | (D[At + 2] << 16) | (static_cast<uint32_t>(D[At + 3]) << 24);
}

class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryA("TQuor30.dpl");
    ASSERT_NE(module, HMODULE{}) << "TQuor30.dpl beside the tests, error " << GetLastError();
  }
  void TearDown() override {
    if (module != 0) FreeLibrary(module);
  }
  std::vector<uint8_t> Resource(const char* Type, const char* Name) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(LoadModuleResource(module, Type, Name, out)) << Name;
    return out;
  }
  HMODULE module = 0;
};

TEST_F(Module, ExportsTheFourPackageEntryPoints) {
  for (const char* name : {"GetPackageInfoTable", "Initialize", "Finalize", "Register"})
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  // The component unit's C++ names stay inside.
  EXPECT_EQ(GetProcAddress(module, "InitRas"), nullptr);
  EXPECT_EQ(GetProcAddress(module, "TQuor30Register"), nullptr);
}

TEST_F(Module, DescriptionIsTQuorInUtf16WithTerminator) {
  const std::vector<uint8_t> d = Resource(QUOR_RT_RCDATA, "DESCRIPTION");
  EXPECT_EQ(d, (std::vector<uint8_t>{'T', 0, 'Q', 0, 'u', 0, 'o', 0, 'r', 0, 0, 0}));
  String text;
  EXPECT_TRUE(DecodePackageDescription(d, text));
  EXPECT_EQ(text, "TQuor");
  EXPECT_EQ(Resource("rcdata", "description"), d);  // names and types ignore case
}

TEST_F(Module, PackageInfoDeclaresADesignTimePackageNeedingVcl30) {
  TPackageInfoData info;
  String why;
  ASSERT_TRUE(DecodePackageInfo(Resource(QUOR_RT_RCDATA, "PACKAGEINFO"), info, &why)) << why;
  EXPECT_EQ(info.Flags, pfPackageModule | pfDesignOnly);
  EXPECT_EQ(info.Requires, (std::vector<String>{"vcl30"}));
  ASSERT_EQ(info.Contains.size(), 4u);
  EXPECT_EQ(info.Contains[0].Name, "TQuor30");
  EXPECT_EQ(info.Contains[0].Flags, ufMainUnit | ufPackageUnit);
  EXPECT_EQ(info.Contains[1].Name, "Ras2");
  EXPECT_EQ(info.Contains[1].Flags, ufImplicitUnit);
  EXPECT_EQ(info.Contains[2].Name, "SysInit");
  EXPECT_EQ(info.Contains[2].Flags, ufWeakUnit);
  EXPECT_EQ(info.Contains[3].Name, "TQuorComponent");
  EXPECT_EQ(info.Contains[3].Flags, ufPackageUnit);
  EXPECT_EQ(EncodePackageInfo(info), Resource(QUOR_RT_RCDATA, "PACKAGEINFO"));
}

TEST_F(Module, PaletteBitmapIsA24By24BitmapWith256Colours) {
  const std::vector<uint8_t> dib = Resource(QUOR_RT_BITMAP, "TQUOR");
  ASSERT_EQ(dib.size(), 40u + 256 * 4 + 24 * 24);
  EXPECT_EQ(U32(dib, 0), 40u);             // BITMAPINFOHEADER
  EXPECT_EQ(U32(dib, 4), 24u);             // width
  EXPECT_EQ(U32(dib, 8), 24u);             // height, bottom-up
  EXPECT_EQ(dib[12] | (dib[13] << 8), 1);  // planes
  EXPECT_EQ(dib[14] | (dib[15] << 8), 8);  // bits per pixel
  EXPECT_EQ(U32(dib, 16), 0u);             // BI_RGB
  EXPECT_EQ(U32(dib, 20), 24u * 24);       // image size
  EXPECT_EQ(U32(dib, 32), 256u);           // colours used
  TDibInfo d;
  ASSERT_TRUE(DescribeDib(dib, d));
  EXPECT_EQ(d.RowStride, 24u);
  EXPECT_EQ(d.Colors, 256u);
  EXPECT_EQ(d.PixelOffset, 40u + 1024);
  // A drawing, not a blank: several colours, a transparent-colour frame.
  std::set<uint8_t> used(dib.begin() + d.PixelOffset, dib.end());
  EXPECT_GE(used.size(), 5u);
  const uint8_t bottomLeft = dib[d.PixelOffset];
  const uint8_t topLeft = dib[d.PixelOffset + 23 * d.RowStride];
  EXPECT_EQ(bottomLeft, topLeft);

  const std::vector<uint8_t> bmp = DibToBitmapFile(dib);
  ASSERT_EQ(bmp.size(), 14 + dib.size());
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(U32(bmp, 2), bmp.size());
  EXPECT_EQ(U32(bmp, 10), 14u + 40 + 1024);
  EXPECT_TRUE(std::equal(dib.begin(), dib.end(), bmp.begin() + 14));
}

TEST_F(Module, MissingResourcesAreReportedNotInvented) {
  std::vector<uint8_t> out{1, 2, 3};
  EXPECT_FALSE(LoadModuleResource(module, QUOR_RT_RCDATA, "NOSUCH", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(LoadModuleResource(module, QUOR_RT_BITMAP, "DESCRIPTION", out));
  EXPECT_FALSE(LoadModuleResource(0, QUOR_RT_RCDATA, "DESCRIPTION", out));
  EXPECT_FALSE(LoadModuleResource(module, nullptr, "DESCRIPTION", out));
  EXPECT_FALSE(LoadModuleResource(module, QUOR_RT_RCDATA, nullptr, out));
}

TEST_F(Module, LoadRegisterUseAndUnload) {
  auto getTable = Export<TGetTable>(module, "GetPackageInfoTable");
  auto initialize = Export<TProc>(module, "Initialize");
  auto finalize = Export<TProc>(module, "Finalize");
  auto reg = Export<TProc>(module, "Register");
  ASSERT_TRUE(getTable && initialize && finalize && reg);

  const PackageInfoTable* table = getTable();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->UnitCount, 24);
  for (int i = 0; i < FrameworkUnitCount; ++i)
    EXPECT_EQ(table->UnitInfo[i].Init, FrameworkPackageTable()->UnitInfo[i].Init);

  std::vector<String> trace;
  SetUnitTraceHook([&](const String& U, bool Init) { trace.push_back((Init ? "+" : "-") + U); });
  initialize();
  ASSERT_EQ(trace.size(), 22u);
  EXPECT_EQ(trace.front(), "+System");
  EXPECT_EQ(trace.back(), "+Clipbrd");

  std::vector<std::pair<String, std::vector<TComponentClass>>> calls;
  SetRegisterComponentsHook(
      [&](const String& Page, const std::vector<TComponentClass>& C) { calls.emplace_back(Page, C); });
  reg();
  SetRegisterComponentsHook(nullptr);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].first, "RAS");
  ASSERT_EQ(calls[0].second.size(), 1u);
  TComponentClass quor = calls[0].second[0];
  EXPECT_EQ(quor->ClassName, "TQuor");
  EXPECT_EQ(FindClass("TQuor"), quor);

  {
    std::unique_ptr<TComponent> form(new TComponent(nullptr));
    TComponent* c =
        TextToComponent("object Quor1: TQuor\n  EntryName = 'Office'\n  RedialPause = 200\nend\n", form.get());
    EXPECT_EQ(c->ClassInfo(), quor);
    EXPECT_NE(ComponentToText(*c).find("  EntryName = 'Office'\n"), String::npos);
    EXPECT_NE(ComponentToText(*c).find("  RedialPause = 60\n"), String::npos);
  }  // the component goes before its module

  ClearPalette();
  trace.clear();
  finalize();
  SetUnitTraceHook(nullptr);
  ASSERT_EQ(trace.size(), 22u);
  EXPECT_EQ(trace.front(), "-Clipbrd");
  EXPECT_EQ(trace.back(), "-System");
  EXPECT_EQ(FindClass("TQuor"), nullptr);  // the registry no longer hands out the module's class
}

// ---------------------------------------------------------------- decoding robustness
TEST(ResourceDecoding, TruncatedOrLyingPackageInfoIsRejected) {
  TPackageInfoData good;
  good.Flags = pfPackageModule;
  good.Requires = {"vcl30", "rtl"};
  good.Contains = {{ufMainUnit, "A"}, {0, "Bee"}};
  const std::vector<uint8_t> bytes = EncodePackageInfo(good);
  TPackageInfoData out;
  ASSERT_TRUE(DecodePackageInfo(bytes, out));
  EXPECT_EQ(out.Requires, good.Requires);
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    String why;
    EXPECT_FALSE(DecodePackageInfo(cut, out, &why)) << n;
    EXPECT_FALSE(why.empty());
  }
  std::vector<uint8_t> extra = bytes;
  extra.push_back(0);
  EXPECT_FALSE(DecodePackageInfo(extra, out));
  std::vector<uint8_t> lying = bytes;
  lying[4] = 0xFF;  // requires count far beyond the data
  lying[7] = 0x7F;
  EXPECT_FALSE(DecodePackageInfo(lying, out));
  std::vector<uint8_t> unterminated = bytes;
  unterminated[8 + 1 + 5] = 'x';  // the zero after "vcl30"
  EXPECT_FALSE(DecodePackageInfo(unterminated, out));
  EXPECT_THROW(EncodePackageInfo(TPackageInfoData{0, {""}, {}}), std::invalid_argument);
  EXPECT_THROW(EncodePackageInfo(TPackageInfoData{0, {String(256, 'a')}, {}}), std::invalid_argument);
}

TEST(ResourceDecoding, BrokenBitmapsAndDescriptionsAreRejected) {
  std::vector<uint8_t> dib(40 + 16 * 4 + 4 * 2, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, 3);  // 3 pixels of 4 bits: a row of 2 bytes, padded to 4
  put32(8, 2);
  dib[12] = 1;
  dib[14] = 4;
  TDibInfo d;
  ASSERT_TRUE(DescribeDib(dib, d));
  EXPECT_EQ(d.RowStride, 4u);
  EXPECT_EQ(d.Colors, 16u);
  for (size_t n = 0; n < dib.size(); ++n) {
    std::vector<uint8_t> cut(dib.begin(), dib.begin() + static_cast<long>(n));
    EXPECT_FALSE(DescribeDib(cut, d)) << n;
    EXPECT_THROW(DibToBitmapFile(cut), Exception);
  }
  std::vector<uint8_t> bad = dib;
  put32(32, 17);  // more colours than 4 bits can index
  EXPECT_FALSE(DescribeDib(dib, d));
  dib = bad;
  put32(16, 1);  // compressed
  EXPECT_FALSE(DescribeDib(dib, d));

  String text;
  EXPECT_FALSE(DecodePackageDescription({'T', 0, 'Q'}, text));
  EXPECT_FALSE(DecodePackageDescription({'T', 0, 'Q', 0}, text));        // no terminator
  EXPECT_FALSE(DecodePackageDescription({'T', 0, 0, 0, 'Q', 0}, text));  // data after it
  EXPECT_TRUE(DecodePackageDescription({0x3A, 0x26, 0, 0}, text));
  EXPECT_EQ(text, "?");
}

}  // namespace
