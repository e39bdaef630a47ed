// NetworkManager's objects, as GetManagedObjects gives them, read as the
// active connections and then as the RAS list and status the networkmanager
// backend gives for connections of other processes.
#include <nm-dbus-interface.h>

#include <map>

#include "RasSim/backends/networkmanager/NmBrief.h"
#include "RasSim/backends/networkmanager/NmMap.h"

namespace rasnm::brief {

namespace {

using Interfaces = std::map<std::string, GVariant*>;  // interface -> its a{sv}, held

std::string StringOf(GVariant* props, const char* name) {
  const char* s = nullptr;
  if (props && g_variant_lookup(props, name, "&s", &s) && s) return s;
  return "";
}

std::string PathOf(GVariant* props, const char* name) {
  const char* s = nullptr;
  if (props && g_variant_lookup(props, name, "&o", &s) && s) return s;
  return "";
}

std::vector<std::string> PathsOf(GVariant* props, const char* name) {
  std::vector<std::string> paths;
  GVariantIter* it = nullptr;
  if (!props || !g_variant_lookup(props, name, "ao", &it)) return paths;
  const char* p = nullptr;
  while (g_variant_iter_next(it, "&o", &p)) paths.emplace_back(p);
  g_variant_iter_free(it);
  return paths;
}

GVariant* Find(const std::map<std::string, Interfaces>& objects, const std::string& path, const char* iface) {
  auto o = objects.find(path);
  if (o == objects.end()) return nullptr;
  auto i = o->second.find(iface);
  return i == o->second.end() ? nullptr : i->second;
}

}  // namespace

std::vector<Active> ActivesOf(GVariant* managedObjects) {
  std::vector<Active> actives;
  if (!managedObjects || !g_variant_is_of_type(managedObjects, G_VARIANT_TYPE("(a{oa{sa{sv}}})"))) return actives;
  std::map<std::string, Interfaces> objects;
  GVariantIter* it = nullptr;
  g_variant_get(managedObjects, "(a{oa{sa{sv}}})", &it);
  const char* path = nullptr;
  GVariantIter* ifaces = nullptr;
  while (g_variant_iter_next(it, "{&oa{sa{sv}}}", &path, &ifaces)) {
    Interfaces& held = objects[path];
    const char* iface = nullptr;
    GVariant* props = nullptr;
    while (g_variant_iter_next(ifaces, "{&s@a{sv}}", &iface, &props)) {
      if (GVariant*& slot = held[iface]) g_variant_unref(slot);
      held[iface] = props;
    }
    g_variant_iter_free(ifaces);
  }
  g_variant_iter_free(it);

  for (const std::string& p : PathsOf(Find(objects, NM_DBUS_PATH, NM_DBUS_INTERFACE), "ActiveConnections")) {
    GVariant* ac = Find(objects, p, NM_DBUS_INTERFACE_ACTIVE_CONNECTION);
    if (!ac) continue;  // not one of the objects given: nothing to tell of it
    Active a;
    a.path = p;
    a.id = StringOf(ac, "Id");
    a.type = StringOf(ac, "Type");
    const std::string profile = PathOf(ac, "Connection");
    a.hasProfile = Find(objects, profile, NM_DBUS_INTERFACE_SETTINGS_CONNECTION) != nullptr;
    const std::vector<std::string> devices = PathsOf(ac, "Devices");
    if (!devices.empty()) a.device = StringOf(Find(objects, devices.front(), NM_DBUS_INTERFACE_DEVICE), "Interface");
    guint32 state = 0;
    if (g_variant_lookup(ac, "State", "u", &state)) a.state = state;
    actives.push_back(a);
  }
  for (auto& [p, held] : objects)
    for (auto& [i, props] : held) g_variant_unref(props);
  return actives;
}

// Listed: those being activated or active, that have a profile and a name.
std::vector<rassim::ConnInfo> ListedOf(const std::vector<Active>& actives) {
  std::vector<rassim::ConnInfo> out;
  for (const Active& a : actives) {
    if (a.state != NM_ACTIVE_CONNECTION_STATE_ACTIVATING && a.state != NM_ACTIVE_CONNECTION_STATE_ACTIVATED) continue;
    const THRasConn handle = HandleOfActivePath(a.path);
    if (!handle || a.id.empty() || !a.hasProfile) continue;
    out.push_back(rassim::ConnInfo{handle, a.id, DeviceTypeOf(a.type), a.device, std::string()});
  }
  return out;
}

const Active* ActiveOf(const std::vector<Active>& actives, THRasConn h) {
  const std::string path = ActivePathOfHandle(h);
  if (path.empty()) return nullptr;
  for (const Active& a : actives)
    if (a.path == path) return &a;
  return nullptr;
}

DWORD StatusOf(const std::vector<Active>& actives, THRasConn h, rassim::ConnStatus& out) {
  const Active* a = ActiveOf(actives, h);
  if (!a) return ERROR_INVALID_HANDLE;
  switch (a->state) {
    case NM_ACTIVE_CONNECTION_STATE_ACTIVATED:
      out.state = RASCS_Connected;
      break;
    case NM_ACTIVE_CONNECTION_STATE_ACTIVATING:
      out.state = RASCS_ConnectDevice;
      break;
    case NM_ACTIVE_CONNECTION_STATE_DEACTIVATING:
      out.state = RASCS_Disconnected;
      break;
    default:
      return ERROR_INVALID_HANDLE;
  }
  out.error = 0;
  out.deviceType = DeviceTypeOf(a->type);
  out.deviceName = a->device;
  return 0;
}

}  // namespace rasnm::brief
