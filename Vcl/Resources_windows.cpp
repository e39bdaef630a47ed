// Module resources on Windows: the module's PE resources.
#include "Vcl/Resources.h"

namespace {

LPCSTR ResourceType(const char* type) {
  if (lstrcmpiA(type, QUOR_RT_RCDATA) == 0) return MAKEINTRESOURCEA(10);  // RT_RCDATA
  if (lstrcmpiA(type, QUOR_RT_BITMAP) == 0) return MAKEINTRESOURCEA(2);   // RT_BITMAP
  return type;
}

}  // namespace

bool LoadModuleResource(HMODULE module, const char* type, const char* name, std::vector<uint8_t>& out) {
  out.clear();
  if (module == nullptr || type == nullptr || name == nullptr) return false;
  HRSRC info = FindResourceA(module, name, ResourceType(type));
  if (info == nullptr) return false;
  const DWORD size = SizeofResource(module, info);
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) return false;
  const void* data = LockResource(loaded);
  if (data == nullptr && size > 0) return false;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (size > 0) out.assign(bytes, bytes + size);
  return true;
}
