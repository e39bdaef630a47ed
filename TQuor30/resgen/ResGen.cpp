// Builds the resources of the package module TQuor30 from their one source:
// the texts and the package information below and the palette bitmap's pixel
// map (tquor.pixmap). It writes, into one output folder,
//   description.bin   RCDATA DESCRIPTION (UTF-16LE "TQuor" + zero)
//   packageinfo.bin   RCDATA PACKAGEINFO (layout in Vcl/ResourceLayout.h)
//   tquor.bmp         BITMAP TQUOR as a .bmp file (windres drops the file header)
//   TQuor30.rc        the Windows resource script naming the three files
//   resources.cpp     the same bytes as a resource table, for platforms
//                     without PE resources
// so every platform carries exactly the same bytes. It needs nothing but the
// C++ library, so a cross build compiles it for the build machine.
//
// usage: quor_resgen PIXMAP OUTDIR
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Vcl/ResourceLayout.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Error {
  std::string Msg;
};

// ---------------------------------------------------------------- the package's declarations
const char16_t kDescription[] = u"TQuor";

TPackageInfoData PackageInfo() {
  TPackageInfoData p;
  p.Flags = pfPackageModule | pfDesignOnly;
  p.Requires = {"vcl30"};
  p.Contains = {
      {ufMainUnit | ufPackageUnit, "TQuor30"},  // the package's own main unit
      {ufImplicitUnit, "Ras2"},                 // taken in because TQuorComponent uses it
      {ufWeakUnit, "SysInit"},                  // every module carries its own
      {ufPackageUnit, "TQuorComponent"},
  };
  return p;
}

// ---------------------------------------------------------------- bytes
Bytes Description() {
  Bytes b;
  for (char16_t c : kDescription) {  // includes the zero terminator
    b.push_back(static_cast<uint8_t>(c & 0xFF));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  return b;
}

void Put16(Bytes& B, uint32_t V) {
  B.push_back(static_cast<uint8_t>(V));
  B.push_back(static_cast<uint8_t>(V >> 8));
}
void Put32(Bytes& B, uint32_t V) {
  for (int i = 0; i < 4; ++i) B.push_back(static_cast<uint8_t>(V >> (8 * i)));
}

struct Pixmap {
  std::vector<std::array<uint8_t, 3>> Colors;  // in palette order
  std::vector<std::string> Rows;               // top row first
  std::map<char, uint8_t> Index;
};

Pixmap ReadPixmap(const std::string& Path) {
  std::ifstream f(Path);
  if (!f) throw Error{"cannot open " + Path};
  Pixmap pm;
  std::string line;
  int lineNo = 0;
  bool inPixels = false;
  while (std::getline(f, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = Path + ":" + std::to_string(lineNo) + ": ";
    if (inPixels) {
      if (line.empty()) continue;
      for (char c : line) {
        if (pm.Index.find(c) == pm.Index.end())
          throw Error{where + "colour key '" + std::string(1, c) + "' is not defined"};
      }
      pm.Rows.push_back(line);
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    if (line == "pixels") {
      inPixels = true;
      continue;
    }
    std::istringstream in(line);
    std::string word, key;
    int r = -1, g = -1, b = -1;
    in >> word >> key >> r >> g >> b;
    if (word != "colour" || key.size() != 1 || r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255)
      throw Error{where + "expected 'colour <key> <red> <green> <blue>'"};
    if (pm.Index.count(key[0]) != 0) throw Error{where + "colour key '" + key + "' is defined twice"};
    if (pm.Colors.size() >= 256) throw Error{where + "too many colours"};
    pm.Index[key[0]] = static_cast<uint8_t>(pm.Colors.size());
    pm.Colors.push_back({static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)});
  }
  if (pm.Rows.size() != 24)
    throw Error{Path + ": the bitmap must have 24 rows, it has " + std::to_string(pm.Rows.size())};
  for (size_t i = 0; i < pm.Rows.size(); ++i) {
    if (pm.Rows[i].size() != 24)
      throw Error{Path + ": pixel row " + std::to_string(i + 1) + " must be 24 pixels wide, it is " +
                  std::to_string(pm.Rows[i].size())};
  }
  return pm;
}

// A 256-colour DIB: BITMAPINFOHEADER, 256 palette entries, bottom-up rows
// of one byte per pixel, each padded to a multiple of 4 bytes.
constexpr uint32_t kDibPixelOffset = 40 + 256 * 4;  // header and colour table

Bytes Dib(const Pixmap& Pm) {
  const uint32_t width = 24, height = 24;
  const uint32_t stride = (width + 3) / 4 * 4;
  std::vector<std::array<uint8_t, 3>> palette = Pm.Colors;
  for (int r = 0; r < 6 && palette.size() < 256; ++r)
    for (int g = 0; g < 6 && palette.size() < 256; ++g)
      for (int b = 0; b < 6 && palette.size() < 256; ++b)
        palette.push_back({static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51)});
  for (int i = 0; palette.size() < 256; ++i) {
    const uint8_t v = static_cast<uint8_t>(8 + i * 10 > 255 ? 255 : 8 + i * 10);
    palette.push_back({v, v, v});
  }
  Bytes b;
  Put32(b, 40);                    // biSize
  Put32(b, width);                 // biWidth
  Put32(b, height);                // biHeight: positive, rows bottom-up
  Put16(b, 1);                     // biPlanes
  Put16(b, 8);                     // biBitCount
  Put32(b, 0);                     // biCompression: BI_RGB
  Put32(b, stride * height);       // biSizeImage
  Put32(b, 0);                     // biXPelsPerMeter
  Put32(b, 0);                     // biYPelsPerMeter
  Put32(b, 256);                   // biClrUsed
  Put32(b, 0);                     // biClrImportant: all
  for (const auto& c : palette) {  // RGBQUAD: blue, green, red, reserved
    b.push_back(c[2]);
    b.push_back(c[1]);
    b.push_back(c[0]);
    b.push_back(0);
  }
  for (uint32_t y = 0; y < height; ++y) {
    const std::string& row = Pm.Rows[height - 1 - y];
    for (uint32_t x = 0; x < width; ++x) b.push_back(Pm.Index.at(row[x]));
    for (uint32_t x = width; x < stride; ++x) b.push_back(0);
  }
  return b;
}

// ---------------------------------------------------------------- output
void WriteFile(const std::string& Path, const std::string& Data) {
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  if (!f) throw Error{"cannot create " + Path};
  f.write(Data.data(), static_cast<std::streamsize>(Data.size()));
  f.close();
  if (!f) throw Error{"cannot write " + Path};
}
void WriteFile(const std::string& Path, const Bytes& Data) {
  WriteFile(Path, std::string(Data.begin(), Data.end()));
}

std::string CArray(const std::string& Name, const Bytes& Data) {
  std::ostringstream o;
  o << "const uint8_t " << Name << "[" << Data.size() << "] = {";
  for (size_t i = 0; i < Data.size(); ++i) {
    if (i % 16 == 0) o << "\n   ";
    o << " " << static_cast<unsigned>(Data[i]) << ",";
  }
  o << "\n};\n";
  return o.str();
}

std::string ResourceSource(const Bytes& Desc, const Bytes& Info, const Bytes& Bitmap) {
  std::ostringstream o;
  o << "// Generated by quor_resgen from TQuor30/tquor.pixmap and its own declarations. Do not edit.\n"
       "#include <cstdint>\n\n#include \"Vcl/Resources.h\"\n\nnamespace {\n\n"
    << CArray("kDescription", Desc) << "\n"
    << CArray("kPackageInfo", Info) << "\n"
    << CArray("kBitmap", Bitmap) << "\n"
    << "const TModuleResource kEntries[] = {\n"
       "    {QUOR_RT_RCDATA, \"DESCRIPTION\", kDescription, sizeof kDescription},\n"
       "    {QUOR_RT_RCDATA, \"PACKAGEINFO\", kPackageInfo, sizeof kPackageInfo},\n"
       "    {QUOR_RT_BITMAP, \"TQUOR\", kBitmap, sizeof kBitmap},\n"
       "};\n"
       "const TModuleResourceTable kTable{sizeof kEntries / sizeof kEntries[0], kEntries};\n\n"
       "}  // namespace\n\n"
       "extern \"C\" __attribute__((visibility(\"default\"))) const TModuleResourceTable* QuorModuleResources(void) {\n"
       "  return &kTable;\n}\n";
  return o.str();
}

std::string RcPath(std::string P) {
  for (char& c : P) {
    if (c == '\\') c = '/';
  }
  return "\"" + P + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quor_resgen PIXMAP OUTDIR\n";
    return 2;
  }
  try {
    const std::string out = argv[2];
    const Pixmap pm = ReadPixmap(argv[1]);
    const Bytes desc = Description();
    const Bytes info = EncodePackageInfo(PackageInfo());
    const Bytes dib = Dib(pm);
    WriteFile(out + "/description.bin", desc);
    WriteFile(out + "/packageinfo.bin", info);
    WriteFile(out + "/tquor.bmp", BitmapFileOf(dib, kDibPixelOffset));
    WriteFile(out + "/TQuor30.rc",
              "// Generated by quor_resgen. Do not edit.\n"
              "DESCRIPTION RCDATA " +
                  RcPath(out + "/description.bin") +
                  "\n"
                  "PACKAGEINFO RCDATA " +
                  RcPath(out + "/packageinfo.bin") +
                  "\n"
                  "TQUOR BITMAP " +
                  RcPath(out + "/tquor.bmp") + "\n");
    WriteFile(out + "/resources.cpp", ResourceSource(desc, info, dib));
  } catch (const Error& e) {
    std::cerr << "quor_resgen: " << e.Msg << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "quor_resgen: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
