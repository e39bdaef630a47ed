// The brief backend's reading of NetworkManager's objects (GetManagedObjects'
// answer) as the list and status the full backend gives for other processes'
// connections: which are listed, in which order, with which device.
#include <gtest/gtest.h>
#include <nm-dbus-interface.h>

#include <string>
#include <vector>

#include "RasSim/backends/networkmanager/NmBrief.h"
#include "RasSim/backends/networkmanager/NmMap.h"

namespace {

using rasnm::brief::Active;

const std::string kAc = "/org/freedesktop/NetworkManager/ActiveConnection/";

// One active connection object as NetworkManager exports it.
struct AcObject {
  int number;
  std::string id, type;
  uint32_t state;
  std::string profile;  // "known" (a settings object), "unknown" (no such object) or "/"
  std::string device;   // "eth" (a device object with interface veth0), "missing" (no object), "" (none)
};

// GetManagedObjects' answer: the manager listing `listed` (in that order), the objects of `acs`,
// one settings connection and one device.
GVariant* Objects(const std::vector<int>& listed, const std::vector<AcObject>& acs) {
  std::string text = "({";
  text += "objectpath '" NM_DBUS_PATH "': {'" NM_DBUS_INTERFACE "': {'ActiveConnections': <@ao [";
  for (size_t i = 0; i < listed.size(); ++i)
    text += (i ? ", " : "") + std::string("objectpath '") + kAc + std::to_string(listed[i]) + "'";
  text += "]>}}, objectpath '/org/freedesktop/NetworkManager/Settings/1': {'" NM_DBUS_INTERFACE_SETTINGS_CONNECTION
          "': @a{sv} {}}";
  text += ", objectpath '/org/freedesktop/NetworkManager/Devices/2': {'" NM_DBUS_INTERFACE_DEVICE
          "': {'Interface': <'veth0'>}}";
  for (const AcObject& a : acs) {
    const std::string profile = a.profile == "known"     ? "/org/freedesktop/NetworkManager/Settings/1"
                                : a.profile == "unknown" ? "/org/freedesktop/NetworkManager/Settings/9"
                                                         : "/";
    const std::string devices = a.device == "eth"       ? "[objectpath '/org/freedesktop/NetworkManager/Devices/2']"
                                : a.device == "missing" ? "[objectpath '/org/freedesktop/NetworkManager/Devices/7']"
                                                        : "@ao []";
    text += ", objectpath '" + kAc + std::to_string(a.number) + "': {'" NM_DBUS_INTERFACE_ACTIVE_CONNECTION "': {";
    text += "'Id': <'" + a.id + "'>, 'Type': <'" + a.type + "'>, 'State': <uint32 " + std::to_string(a.state) +
            ">, 'Connection': <objectpath '" + profile + "'>, 'Devices': <" + devices + ">}}";
  }
  text += "},)";
  GError* err = nullptr;
  GVariant* v = g_variant_parse(G_VARIANT_TYPE("(a{oa{sa{sv}}})"), text.c_str(), nullptr, nullptr, &err);
  EXPECT_NE(v, nullptr) << (err ? err->message : "") << "\n" << text;
  g_clear_error(&err);
  return v;
}

THRasConn Handle(int n) {
  return rasnm::kActiveHandleBase + static_cast<THRasConn>(n);
}

TEST(NmBrief, ObjectsReadAsTheFullBackendsListAndStatus) {
  constexpr uint32_t kActivating = NM_ACTIVE_CONNECTION_STATE_ACTIVATING;
  constexpr uint32_t kActivated = NM_ACTIVE_CONNECTION_STATE_ACTIVATED;
  constexpr uint32_t kDeactivating = NM_ACTIVE_CONNECTION_STATE_DEACTIVATING;
  constexpr uint32_t kDeactivated = NM_ACTIVE_CONNECTION_STATE_DEACTIVATED;
  struct Row {
    AcObject ac;
    bool listed;
    DWORD status;  // GetConnectStatus's result
    TRasConnState state;
    std::string deviceType, deviceName;
  };
  const std::vector<Row> rows = {
      {{4, "Office", "802-3-ethernet", kActivated, "known", "eth"}, true, 0, RASCS_Connected, "GENERIC", "veth0"},
      {{5, "Tunnel", "vpn", kActivating, "known", ""}, true, 0, RASCS_ConnectDevice, "vpn", ""},
      {{6, "Mobile", "gsm", kDeactivating, "known", "eth"}, false, 0, RASCS_Disconnected, RASDT_Modem, "veth0"},
      {{7, "Gone", "pppoe", kDeactivated, "known", "eth"}, false, ERROR_INVALID_HANDLE, 0, "", ""},
      {{8, "NoProfile", "802-3-ethernet", kActivated, "unknown", "eth"}, false, 0, RASCS_Connected, "GENERIC", "veth0"},
      {{9, "Root", "802-3-ethernet", kActivated, "/", "eth"}, false, 0, RASCS_Connected, "GENERIC", "veth0"},
      {{10, "", "pppoe", kActivated, "known", "eth"}, false, 0, RASCS_Connected, "PPPoE", "veth0"},
      {{11, "Lost device", "802-3-ethernet", kActivated, "known", "missing"}, true, 0, RASCS_Connected, "GENERIC", ""},
  };
  // Listed in the manager's order, the reverse of the objects' own.
  std::vector<int> order;
  std::vector<AcObject> acs;
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) order.push_back(r->ac.number);
  for (const Row& r : rows) acs.push_back(r.ac);
  GVariant* objects = Objects(order, acs);
  ASSERT_NE(objects, nullptr);
  const std::vector<Active> actives = rasnm::brief::ActivesOf(objects);
  g_variant_unref(objects);
  ASSERT_EQ(actives.size(), rows.size());

  std::vector<THRasConn> expected;
  for (auto r = rows.rbegin(); r != rows.rend(); ++r)
    if (r->listed) expected.push_back(Handle(r->ac.number));
  std::vector<THRasConn> listed;
  for (const rassim::ConnInfo& c : rasnm::brief::ListedOf(actives)) {
    listed.push_back(c.handle);
    EXPECT_TRUE(c.phonebook.empty()) << c.entry;
  }
  EXPECT_EQ(listed, expected);

  for (const Row& r : rows) {
    rassim::ConnStatus st;
    EXPECT_EQ(rasnm::brief::StatusOf(actives, Handle(r.ac.number), st), r.status) << r.ac.id;
    if (r.status != 0) continue;
    EXPECT_EQ(st.state, r.state) << r.ac.id;
    EXPECT_EQ(st.deviceType, r.deviceType) << r.ac.id;
    EXPECT_EQ(st.deviceName, r.deviceName) << r.ac.id;
  }
}

TEST(NmBrief, WhatIsNotAnActiveConnectionOfTheManagerIsNotFound) {
  // An object the manager does not list, a listed path without an object, handles of no active connection.
  GVariant* objects =
      Objects({3, 12}, {{4, "Office", "802-3-ethernet", NM_ACTIVE_CONNECTION_STATE_ACTIVATED, "known", "eth"},
                        {12, "Home", "802-3-ethernet", NM_ACTIVE_CONNECTION_STATE_ACTIVATED, "known", "eth"}});
  ASSERT_NE(objects, nullptr);
  const std::vector<Active> actives = rasnm::brief::ActivesOf(objects);
  g_variant_unref(objects);
  ASSERT_EQ(actives.size(), 1u);
  EXPECT_EQ(actives[0].id, "Home");
  rassim::ConnStatus st;
  for (THRasConn h : {Handle(4), Handle(3), rasnm::kPendingHandleBase + 1, THRasConn{0}})
    EXPECT_EQ(rasnm::brief::StatusOf(actives, h, st), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << h;
  // An answer of another shape reads as no connections.
  GVariant* other = g_variant_ref_sink(g_variant_new("(s)", "x"));
  EXPECT_TRUE(rasnm::brief::ActivesOf(other).empty());
  g_variant_unref(other);
}

}  // namespace
