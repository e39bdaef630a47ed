// A rasapi32.dll that is not Quor's: it has the RAS functions quor needs to
// list entries and connections (both empty) but none of the simulated
// service's control exports, as the system's RAS would.
#include <cstdint>
#include <cstring>

#define SYSTEM_RAS_EXPORT extern "C" __attribute__((visibility("default")))

SYSTEM_RAS_EXPORT uint32_t RasEnumEntriesA(const char*, const char*, void*, uint32_t* size, uint32_t* count) {
  if (size == nullptr || count == nullptr) return 87;
  *count = 0;
  return 0;
}

SYSTEM_RAS_EXPORT uint32_t RasEnumConnectionsA(void*, uint32_t* size, uint32_t* count) {
  if (size == nullptr || count == nullptr) return 87;
  *count = 0;
  return 0;
}

SYSTEM_RAS_EXPORT uint32_t RasGetErrorStringA(uint32_t, char* text, uint32_t size) {
  if (text == nullptr || size == 0) return 87;
  std::strncpy(text, "system error", size - 1);
  text[size - 1] = 0;
  return 0;
}
