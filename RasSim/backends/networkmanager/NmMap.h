// How NetworkManager's states and reasons read as RAS connection states and
// RAS error numbers, which device type a profile has, and the connection
// handles. Pure tables: no D-Bus, no libnm objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Ras2/RasContract.h"
#include "RasSim/common/Handles.h"

namespace rasnm {

// The RAS states a dial passes when NetworkManager's device enters `deviceState`
// (NMDeviceState), in order. Empty for states that add no step.
std::vector<TRasConnState> DeviceSteps(uint32_t deviceState);
// The same for a VPN connection's state (NMVpnConnectionState).
std::vector<TRasConnState> VpnSteps(uint32_t vpnState);

// The RAS error that means what NetworkManager's reason means.
DWORD DeviceReasonError(uint32_t reason);  // NMDeviceStateReason
DWORD VpnReasonError(uint32_t reason);     // NMVpnConnectionStateReason
DWORD ActiveReasonError(uint32_t reason);  // NMActiveConnectionStateReason

// RAS device type of a profile of NetworkManager's connection type
// ("vpn", "gsm", "pppoe", "802-3-ethernet", ...).
std::string DeviceTypeOf(const std::string& connectionType, const std::string& vpnServiceType = "");

// Connection handles: an active connection's D-Bus object number gives the same
// handle in every process; a dial that has no active connection yet has a
// handle of its own process. Both carry the upper-half tag on 64-bit targets.
constexpr THRasConn kActiveHandleBase = rassim::kHandleUpperTag | 0x4E4D0000u;  // + object number (1..0xFFFF)
constexpr THRasConn kPendingHandleBase = rassim::kHandleUpperTag | 0x4E500000u;
THRasConn HandleOfActivePath(const std::string& path);  // 0 when the path is not one
bool IsActiveHandle(THRasConn h);
std::string ActivePathOfHandle(THRasConn h);

}  // namespace rasnm
