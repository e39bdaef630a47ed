// Byte layouts of a package module's resources, and their encoders. Nothing
// here needs the Win32 subset or the framework library, so the resource
// generator (TQuor30/resgen) builds from this header alone, also for the build
// machine of a cross build.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// ---------------------------------------------------------------- PACKAGEINFO
// RCDATA "PACKAGEINFO", all numbers little-endian:
//   uint32  Flags                  pf... below
//   uint32  RequiresCount
//   RequiresCount times:           a required package
//     uint8   NameLength (1..255)
//     char    Name[NameLength]     ASCII
//     uint8   0
//   uint32  ContainsCount
//   ContainsCount times:           a contained unit, in link order
//     uint8   UnitFlags            uf... below
//     uint8   NameLength (1..255)
//     char    Name[NameLength]
//     uint8   0
// and nothing after the last unit.
constexpr uint32_t pfNeverBuild = 0x00000001;
constexpr uint32_t pfDesignOnly = 0x00000002;
constexpr uint32_t pfRunOnly = 0x00000004;
constexpr uint32_t pfIgnoreDupUnits = 0x00000008;
constexpr uint32_t pfModuleTypeMask = 0xC0000000;
constexpr uint32_t pfExeModule = 0x00000000;
constexpr uint32_t pfPackageModule = 0x40000000;
constexpr uint32_t pfLibraryModule = 0x80000000;

constexpr uint8_t ufMainUnit = 0x01;      // the package's own main unit
constexpr uint8_t ufPackageUnit = 0x02;   // named in the package's contains list
constexpr uint8_t ufWeakUnit = 0x04;      // linked into every module that uses it
constexpr uint8_t ufImplicitUnit = 0x10;  // taken in because a contained unit uses it

struct TPackageUnitInfo {
  uint8_t Flags = 0;
  std::string Name;
};
struct TPackageInfoData {
  uint32_t Flags = 0;
  std::vector<std::string> Requires;
  std::vector<TPackageUnitInfo> Contains;
};

// Encodes package information in the layout above. Names must be 1 to 255
// characters; throws std::invalid_argument otherwise.
inline std::vector<uint8_t> EncodePackageInfo(const TPackageInfoData& Info) {
  std::vector<uint8_t> out;
  auto u32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto name = [&out](const std::string& s) {
    if (s.empty() || s.size() > 255) throw std::invalid_argument("package info name must be 1 to 255 characters");
    out.push_back(static_cast<uint8_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
  };
  u32(Info.Flags);
  u32(static_cast<uint32_t>(Info.Requires.size()));
  for (const std::string& r : Info.Requires) name(r);
  u32(static_cast<uint32_t>(Info.Contains.size()));
  for (const TPackageUnitInfo& u : Info.Contains) {
    out.push_back(u.Flags);
    name(u.Name);
  }
  return out;
}

// ---------------------------------------------------------------- bitmaps
// The .bmp file of a DIB whose pixels start PixelOffset bytes into it: the
// 14-byte BITMAPFILEHEADER, then the DIB. The caller vouches for the DIB.
inline std::vector<uint8_t> BitmapFileOf(const std::vector<uint8_t>& Dib, uint32_t PixelOffset) {
  const uint32_t fileSize = static_cast<uint32_t>(14 + Dib.size());
  std::vector<uint8_t> out;
  out.reserve(fileSize);
  auto u32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  out.push_back('B');
  out.push_back('M');
  u32(fileSize);
  u32(0);  // two reserved 16-bit words
  u32(14 + PixelOffset);
  out.insert(out.end(), Dib.begin(), Dib.end());
  return out;
}
