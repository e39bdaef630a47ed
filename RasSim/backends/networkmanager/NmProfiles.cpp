// The profiles as the phonebook: names, renames, deletes, the device of an
// entry, and how an edit of a profile is saved with its secrets. Every libnm
// call runs on the backend's thread (NmClient.cpp); the phonebook argument of
// the operations is not used (NetworkManager has one set of profiles).
#include <algorithm>

#include "RasSim/backends/networkmanager/NmInternal.h"
#include "RasSim/backends/networkmanager/NmMap.h"
#include "RasSim/common/Text.h"

namespace rasnm {

namespace detail {

NMRemoteConnection* FindProfile(const std::string& name) {
  const GPtrArray* all = nm_client_get_connections(B().client);
  for (guint i = 0; all && i < all->len; ++i) {
    auto* rc = static_cast<NMRemoteConnection*>(g_ptr_array_index(all, i));
    const char* id = nm_connection_get_id(NM_CONNECTION(rc));
    if (id && rassim::SameName(id, name)) return rc;
  }
  return nullptr;
}

// A VPN profile's plugin ("org.freedesktop.NetworkManager.openvpn"), "" for any other profile.
std::string VpnService(NMConnection* c) {
  NMSettingVpn* s = nm_connection_get_setting_vpn(c);
  const char* t = s ? nm_setting_vpn_get_service_type(s) : nullptr;
  return t ? t : "";
}

// The plugin's last name ("openvpn"): a VPN entry's device name.
std::string ShortVpnService(const std::string& service) {
  size_t dot = service.rfind('.');
  return dot == std::string::npos ? service : service.substr(dot + 1);
}

// A setting's text property by name, "" when the setting has no such property or it is unset.
std::string StringProperty(NMSetting* s, const char* name) {
  if (!s || !g_object_class_find_property(G_OBJECT_GET_CLASS(s), name)) return "";
  gchar* v = nullptr;
  g_object_get(s, name, &v, nullptr);
  std::string out = v ? v : "";
  g_free(v);
  return out;
}

Edit::~Edit() {
  if (saved) g_object_unref(saved);
}

void Edit::Finish(DWORD r) {
  if (then)
    then(r);
  else
    w->Finish(r);
}

// After a save, the client's copy of the profile changes when NetworkManager's
// notification arrives: answer once it has (bounded), so a caller's next request
// sees its own change.
void WhenSettled(std::function<bool()> settled, std::function<void()> then, int waitedMs) {
  if (settled() || waitedMs >= kRequestMs / 4) return then();
  After(10, [settled, then, waitedMs] { WhenSettled(settled, then, waitedMs + 10); });
}

namespace {

// NetworkManager has answered the save.
void EditSaved(GObject* source, GAsyncResult* res, gpointer data) {
  std::shared_ptr<Edit> e(static_cast<Edit*>(data));
  GError* err = nullptr;
  GVariant* out = nm_remote_connection_update2_finish(NM_REMOTE_CONNECTION(source), res, &err);
  if (out) g_variant_unref(out);
  DWORD r = ErrorOf(err);
  g_clear_error(&err);
  if (r) return e->Finish(r);
  WhenSettled(
      [e] {
        NMRemoteConnection* rc = nm_client_get_connection_by_uuid(B().client, e->uuid.c_str());
        return !rc || nm_connection_compare(NM_CONNECTION(rc), e->saved,
                                            NMSettingCompareFlags(NM_SETTING_COMPARE_FLAG_IGNORE_SECRETS |
                                                                  NM_SETTING_COMPARE_FLAG_IGNORE_TIMESTAMP));
      },
      [e] { e->Finish(0); });
}

// The profile's secrets are read (res null: it keeps none): change a copy that has them, and save it.
void EditWithSecrets(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Edit> e(static_cast<Edit*>(data));
  auto* rc = NM_REMOTE_CONNECTION(source);
  NMConnection* copy = nm_simple_connection_new_clone(NM_CONNECTION(rc));
  SecretPlace place = PlaceOf(copy);
  if (res) {
    GError* err = nullptr;
    GVariant* secrets = nm_remote_connection_get_secrets_finish(rc, res, &err);
    if (secrets) {
      nm_connection_update_secrets(copy, place.setting, secrets, nullptr);
      g_variant_unref(secrets);
    }
    g_clear_error(&err);  // no secrets stored: nothing to keep
  }
  if (DWORD r = e->change(copy, place)) {
    g_object_unref(copy);
    e->Finish(r);
    return;
  }
  GVariant* dict = nm_connection_to_dbus(copy, NM_CONNECTION_SERIALIZE_ALL);
  e->saved = copy;
  nm_remote_connection_update2(rc, dict, NM_SETTINGS_UPDATE2_FLAG_TO_DISK, nullptr, nullptr, EditSaved, e.release());
}

}  // namespace

// Reads the profile's secrets, applies the change to a copy with them and saves it
// (an update without them would lose them).
void EditProfile(std::unique_ptr<Edit> e) {
  NMRemoteConnection* rc = nm_client_get_connection_by_uuid(B().client, e->uuid.c_str());
  if (!rc) {
    e->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    return;
  }
  SecretPlace place = PlaceOf(NM_CONNECTION(rc));
  if (place.setting)
    nm_remote_connection_get_secrets_async(rc, place.setting, nullptr, EditWithSecrets, e.release());
  else
    EditWithSecrets(G_OBJECT(rc), nullptr, e.release());
}

DWORD GetEntryDevice(const std::string& entry, std::string& deviceType, std::string& deviceName) {
  auto result = std::make_shared<std::pair<std::string, std::string>>();
  DWORD r = Request([entry, result](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(entry);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    NMConnection* c = NM_CONNECTION(rc);
    const char* type = nm_connection_get_connection_type(c);
    result->first = DeviceTypeOf(type ? type : "", VpnService(c));
    const char* iface = nm_connection_get_interface_name(c);
    result->second = result->first == "vpn" ? ShortVpnService(VpnService(c)) : (iface ? iface : "");
    w->Finish(0);
  });
  if (r == 0) {
    deviceType = result->first;
    deviceName = result->second;
  }
  return r;
}

}  // namespace detail

using namespace detail;

DWORD EnumEntries(const PbArg&, std::vector<std::string>& names) {
  auto result = std::make_shared<std::vector<std::string>>();
  DWORD r = Request([result](std::shared_ptr<Waiter> w) {
    const GPtrArray* all = nm_client_get_connections(B().client);
    for (guint i = 0; all && i < all->len; ++i) {
      const char* id = nm_connection_get_id(NM_CONNECTION(g_ptr_array_index(all, i)));
      if (id) result->push_back(id);
    }
    std::sort(result->begin(), result->end(),
              [](const std::string& a, const std::string& b) { return rassim::FoldCase(a) < rassim::FoldCase(b); });
    w->Finish(0);
  });
  if (r == 0) names = *result;
  return r;
}

DWORD ValidateEntryName(const PbArg&, const std::string& name) {
  if (!rassim::ValidEntryName(name)) return ERROR_INVALID_NAME;
  return Request([name](std::shared_ptr<Waiter> w) { w->Finish(FindProfile(name) ? ERROR_ALREADY_EXISTS : 0); });
}

DWORD RenameEntry(const PbArg&, const std::string& oldName, const std::string& newName) {
  return Request([oldName, newName](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(oldName);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    if (!rassim::ValidEntryName(newName)) return w->Finish(ERROR_INVALID_NAME);
    NMRemoteConnection* other = FindProfile(newName);
    if (other && other != rc) return w->Finish(ERROR_ALREADY_EXISTS);
    auto e = std::make_unique<Edit>();
    e->uuid = nm_connection_get_uuid(NM_CONNECTION(rc));
    e->w = w;
    e->change = [newName](NMConnection* copy, const SecretPlace&) {
      g_object_set(nm_connection_get_setting_connection(copy), NM_SETTING_CONNECTION_ID, newName.c_str(), nullptr);
      return DWORD{0};
    };
    EditProfile(std::move(e));
  });
}

DWORD DeleteEntry(const PbArg&, const std::string& name) {
  return Request([name](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(name);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    nm_remote_connection_delete_async(
        rc, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
          std::unique_ptr<std::shared_ptr<Waiter>> ww(static_cast<std::shared_ptr<Waiter>*>(data));
          GError* err = nullptr;
          nm_remote_connection_delete_finish(NM_REMOTE_CONNECTION(source), res, &err);
          DWORD r = ErrorOf(err);
          g_clear_error(&err);
          if (r) return (*ww)->Finish(r);
          std::string uuid = nm_connection_get_uuid(NM_CONNECTION(source));
          std::shared_ptr<Waiter> w2 = *ww;
          WhenSettled([uuid] { return nm_client_get_connection_by_uuid(B().client, uuid.c_str()) == nullptr; },
                      [w2] { w2->Finish(0); });
        },
        new std::shared_ptr<Waiter>(w));
  });
}

DWORD GetEntryProperties(const PbArg&, const std::string& entry, EntryProps& out) {
  out = EntryProps();
  if (entry.empty()) return 0;
  return GetEntryDevice(entry, out.deviceType, out.deviceName);
}

DWORD SetEntryProperties(const PbArg&, const std::string& entry, const EntryProps&) {
  // Profiles are changed through NetworkManager's own tools or the entry dialogs.
  std::string type, name;
  if (DWORD e = GetEntryDevice(entry, type, name)) return e;
  return ERROR_CANNOT_WRITE_PHONEBOOK;
}

DWORD EnumDevices(std::vector<DeviceInfo>& out) {
  out = {{"vpn", "openvpn"}, {"GENERIC", "ethernet"}, {"modem", "gsm"}, {"PPPoE", "pppoe"}};
  return 0;
}

}  // namespace rasnm
