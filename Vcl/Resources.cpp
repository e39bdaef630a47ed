// Decoding of the package resources, the same on every platform.
#include "Vcl/Resources.h"

namespace {

uint32_t U32(const std::vector<uint8_t>& D, size_t At) {
  return static_cast<uint32_t>(D[At]) | (static_cast<uint32_t>(D[At + 1]) << 8) |
         (static_cast<uint32_t>(D[At + 2]) << 16) | (static_cast<uint32_t>(D[At + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& D, size_t At) {
  return static_cast<uint16_t>(D[At] | (D[At + 1] << 8));
}

bool Fail(String* Error, const String& Why) {
  if (Error != nullptr) *Error = Why;
  return false;
}

// Reads one length-prefixed, zero-terminated name at Pos.
bool ReadName(const std::vector<uint8_t>& D, size_t& Pos, String& Name, String* Error) {
  if (Pos >= D.size()) return Fail(Error, "package info is truncated");
  const size_t len = D[Pos++];
  if (len == 0) return Fail(Error, "package info holds an empty name");
  if (D.size() - Pos < len + 1) return Fail(Error, "package info is truncated");
  Name.assign(reinterpret_cast<const char*>(D.data() + Pos), len);
  Pos += len;
  if (D[Pos++] != 0) return Fail(Error, "package info name " + Name + " is not terminated");
  if (Name.find('\0') != String::npos) return Fail(Error, "package info name holds a zero byte");
  return true;
}

}  // namespace

bool DecodePackageDescription(const std::vector<uint8_t>& Data, String& Out) {
  Out.clear();
  if (Data.size() < 2 || Data.size() % 2 != 0) return false;
  for (size_t i = 0; i + 1 < Data.size(); i += 2) {
    const uint16_t ch = U16(Data, i);
    if (ch == 0) return i + 2 == Data.size();  // exactly one terminator, at the end
    Out += ch < 256 ? static_cast<char>(ch) : '?';
  }
  Out.clear();
  return false;
}

bool DecodePackageInfo(const std::vector<uint8_t>& Data, TPackageInfoData& Out, String* Error) {
  TPackageInfoData info;
  size_t pos = 0;
  if (Data.size() < 8) return Fail(Error, "package info is truncated");
  info.Flags = U32(Data, 0);
  const uint32_t requiredCount = U32(Data, 4);
  pos = 8;
  // Each entry takes at least 3 bytes: a count beyond that is a lie.
  if (requiredCount > (Data.size() - pos) / 3) return Fail(Error, "package info is truncated");
  for (uint32_t i = 0; i < requiredCount; ++i) {
    String name;
    if (!ReadName(Data, pos, name, Error)) return false;
    info.Requires.push_back(name);
  }
  if (Data.size() - pos < 4) return Fail(Error, "package info is truncated");
  const uint32_t contains = U32(Data, pos);
  pos += 4;
  if (contains > (Data.size() - pos) / 4) return Fail(Error, "package info is truncated");
  for (uint32_t i = 0; i < contains; ++i) {
    TPackageUnitInfo unit;
    if (pos >= Data.size()) return Fail(Error, "package info is truncated");
    unit.Flags = Data[pos++];
    if (!ReadName(Data, pos, unit.Name, Error)) return false;
    info.Contains.push_back(unit);
  }
  if (pos != Data.size())
    return Fail(Error, "package info has " + std::to_string(Data.size() - pos) + " bytes left over");
  Out = std::move(info);
  return true;
}

bool DescribeDib(const std::vector<uint8_t>& Dib, TDibInfo& Out, String* Error) {
  TDibInfo d;
  if (Dib.size() < 40) return Fail(Error, "bitmap is too short for its header");
  d.HeaderSize = U32(Dib, 0);
  if (d.HeaderSize < 40 || d.HeaderSize > Dib.size()) return Fail(Error, "bitmap header size is not valid");
  d.Width = static_cast<int32_t>(U32(Dib, 4));
  d.Height = static_cast<int32_t>(U32(Dib, 8));
  const uint16_t planes = U16(Dib, 12);
  d.BitCount = U16(Dib, 14);
  const uint32_t compression = U32(Dib, 16);
  const uint32_t clrUsed = U32(Dib, 32);
  if (planes != 1) return Fail(Error, "bitmap must have one plane");
  if (compression != 0) return Fail(Error, "bitmap must be uncompressed");
  if (d.BitCount != 1 && d.BitCount != 4 && d.BitCount != 8 && d.BitCount != 24 && d.BitCount != 32)
    return Fail(Error, "bitmap has an unsupported depth of " + std::to_string(d.BitCount) + " bits");
  // Bitmaps of this kind are icons: a sane bound keeps every product below small.
  if (d.Width <= 0 || d.Width > 4096 || d.Height == 0 || d.Height > 4096 || d.Height < -4096)
    return Fail(Error, "bitmap dimensions are not valid");
  if (d.BitCount <= 8) {
    const uint32_t maxColors = 1u << d.BitCount;
    d.Colors = clrUsed == 0 ? maxColors : clrUsed;
    if (d.Colors > maxColors) return Fail(Error, "bitmap colour table is too large");
  } else {
    d.Colors = clrUsed;
    if (d.Colors > 256) return Fail(Error, "bitmap colour table is too large");
  }
  const uint64_t rows = static_cast<uint64_t>(d.Height < 0 ? -static_cast<int64_t>(d.Height) : d.Height);
  d.RowStride = static_cast<uint32_t>(((static_cast<uint64_t>(d.Width) * d.BitCount + 31) / 32) * 4);
  d.PixelOffset = d.HeaderSize + d.Colors * 4;
  const uint64_t pixels = rows * d.RowStride;
  d.PixelBytes = static_cast<uint32_t>(pixels);
  if (d.PixelOffset > Dib.size() || pixels > Dib.size() - d.PixelOffset) return Fail(Error, "bitmap data is truncated");
  Out = d;
  return true;
}

std::vector<uint8_t> DibToBitmapFile(const std::vector<uint8_t>& Dib) {
  TDibInfo d;
  String why;
  if (!DescribeDib(Dib, d, &why)) throw Exception(why);
  return BitmapFileOf(Dib, d.PixelOffset);
}
