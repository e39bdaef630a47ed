// Module resources: how the framework reads a package module's DESCRIPTION,
// PACKAGEINFO and palette bitmap, and the layouts of those resources.
//
// On Windows a module's resources are real PE resources (FindResourceA,
// LoadResource). Elsewhere a module carries the very same bytes in a table it
// hands out through its exported function "QuorModuleResources". Callers see
// one function, LoadModuleResource, either way.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "Vcl/ResourceLayout.h"
#include "Vcl/Vcl.h"

// ---------------------------------------------------------------- loading
// Resource types as LoadModuleResource takes them: "RCDATA" and "BITMAP" stand
// for the predefined Windows types RT_RCDATA and RT_BITMAP; any other text is
// a named type.
#define QUOR_RT_RCDATA "RCDATA"
#define QUOR_RT_BITMAP "BITMAP"

// Copies the resource (type, name) of module into out. False, with out
// emptied, when the module is 0, type or name is null, or the module has no
// such resource. A BITMAP resource is a DIB: a BITMAPINFOHEADER, the colour
// table and the pixels, without the BITMAPFILEHEADER of a .bmp file.
VCL_API bool LoadModuleResource(HMODULE module, const char* type, const char* name, std::vector<uint8_t>& out);

// The table a module carries where there are no PE resources.
struct TModuleResource {
  const char* Type;
  const char* Name;
  const uint8_t* Data;
  uint32_t Size;
};
struct TModuleResourceTable {
  uint32_t Count;
  const TModuleResource* Entries;
};
typedef const TModuleResourceTable* (*TModuleResourcesProc)(void);
#define QUOR_MODULE_RESOURCES_EXPORT "QuorModuleResources"

// ---------------------------------------------------------------- DESCRIPTION
// RCDATA "DESCRIPTION": the package's description as UTF-16LE text followed by
// a zero character. Decodes it to 8-bit text (characters above 255 become
// '?'); false when the data is not an even number of bytes or has no zero
// terminator.
VCL_API bool DecodePackageDescription(const std::vector<uint8_t>& Data, String& Out);

// ---------------------------------------------------------------- PACKAGEINFO
// Layout and encoder in Vcl/ResourceLayout.h.
// Decodes package information; false (with a reason in Error when given)
// when the data is truncated, malformed or has bytes left over. Never reads
// outside Data.
VCL_API bool DecodePackageInfo(const std::vector<uint8_t>& Data, TPackageInfoData& Out, String* Error = nullptr);

// ---------------------------------------------------------------- bitmaps
struct TDibInfo {
  int32_t Width = 0;
  int32_t Height = 0;  // as stored: positive for bottom-up rows
  uint16_t BitCount = 0;
  uint32_t HeaderSize = 0;   // 40 for a BITMAPINFOHEADER
  uint32_t Colors = 0;       // entries in the colour table
  uint32_t RowStride = 0;    // bytes per row, padded to 4
  uint32_t PixelOffset = 0;  // from the start of the DIB
  uint32_t PixelBytes = 0;
};
// Checks a DIB (BITMAP resource) and describes it: an uncompressed
// BITMAPINFOHEADER bitmap of 1, 4, 8, 24 or 32 bits per pixel whose colour
// table and pixels lie within Data. False, with a reason, otherwise.
VCL_API bool DescribeDib(const std::vector<uint8_t>& Dib, TDibInfo& Out, String* Error = nullptr);
// The .bmp file of a DIB: the 14-byte BITMAPFILEHEADER, then the DIB.
// Throws Exception when the DIB is not valid (DescribeDib).
VCL_API std::vector<uint8_t> DibToBitmapFile(const std::vector<uint8_t>& Dib);
