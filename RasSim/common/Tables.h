// Fixed tables of the simulated RAS service: error texts, devices, countries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Win32/Win32.h"

namespace rassim {

// English text for a RAS error (600..750) or one of the few Windows errors
// RAS reports (6, 87, 123, 183, 1223...); null for an unknown number. Every
// text is shorter than 100 characters, so it fits the 100-character buffer
// applications commonly pass, with its zero.
const char* ErrorText(DWORD error);

// From later RAS headers than the classic ones the binding declares: a dial
// of an entry that is being dialled already.
constexpr DWORD ERROR_DIAL_ALREADY_IN_PROGRESS = 756;

struct Device {
  const char* type;  // "modem", "isdn", "vpn"
  const char* name;
};
const std::vector<Device>& Devices();
// By name (case-insensitive), else the first of the type, else null.
const Device* FindDevice(const std::string& name, const std::string& type);

struct Country {
  DWORD id;
  DWORD code;
  const char* name;
};
const std::vector<Country>& Countries();  // in chaining order
const Country* FindCountry(DWORD id);

}  // namespace rassim
