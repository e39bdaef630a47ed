// rnaph.dll: the four plain-named functions that old systems kept outside
// rasapi32.dll, on the same implementation as rasapi32's A exports.
#include "RasSim/Edge.h"
#include "RasSim/RasSimExport.h"

RASSIM_EXPORT DWORD WINAPI RasGetEntryProperties(LPCSTR pb, LPCSTR entry, void* buf, DWORD* size, void* dev,
                                                 DWORD* devSize) {
  return rassim::edge::GetEntryPropertiesA("RasGetEntryProperties", pb, entry, buf, size, dev, devSize);
}

RASSIM_EXPORT DWORD WINAPI RasSetEntryProperties(LPCSTR pb, LPCSTR entry, void* buf, DWORD size, void* dev,
                                                 DWORD devSize) {
  return rassim::edge::SetEntryPropertiesA("RasSetEntryProperties", pb, entry, buf, size, dev, devSize);
}

RASSIM_EXPORT DWORD WINAPI RasGetCountryInfo(void* info, DWORD* size) {
  return rassim::edge::GetCountryInfoA("RasGetCountryInfo", info, size);
}

RASSIM_EXPORT DWORD WINAPI RasEnumDevices(void* devs, DWORD* lpcb, DWORD* count) {
  return rassim::edge::EnumDevicesA("RasEnumDevices", devs, lpcb, count);
}
