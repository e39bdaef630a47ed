// Module resources where there are no PE resources: the module hands out a
// table of its resources through its exported "QuorModuleResources".
#include <cstring>

#include "Vcl/Resources.h"

namespace {

// Windows resource names and types compare without regard to ASCII case.
bool SameName(const char* A, const char* B) {
  return LowerCase(A) == LowerCase(B);
}

}  // namespace

bool LoadModuleResource(HMODULE module, const char* type, const char* name, std::vector<uint8_t>& out) {
  out.clear();
  if (module == 0 || type == nullptr || name == nullptr) return false;
  FARPROC proc = GetProcAddress(module, QUOR_MODULE_RESOURCES_EXPORT);
  if (proc == nullptr) return false;
  const TModuleResourceTable* table = reinterpret_cast<TModuleResourcesProc>(reinterpret_cast<void*>(proc))();
  if (table == nullptr || table->Entries == nullptr) return false;
  for (uint32_t i = 0; i < table->Count; ++i) {
    const TModuleResource& r = table->Entries[i];
    if (r.Type == nullptr || r.Name == nullptr) continue;
    if (!SameName(r.Type, type) || !SameName(r.Name, name)) continue;
    if (r.Size > 0 && r.Data == nullptr) return false;
    if (r.Size > 0) out.assign(r.Data, r.Data + r.Size);
    return true;
  }
  return false;
}
