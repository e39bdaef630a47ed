// New profiles, of the settings given or of the entry dialog's answers, and
// the entry dialogs (shown through the edge's presenter, common/Dialogs.h).
#include <cstdlib>

#include "RasSim/backends/networkmanager/NmInternal.h"
#include "RasSim/common/Dialogs.h"
#include "RasSim/common/Text.h"

namespace rasnm {

using namespace detail;

namespace {

// Sets a setting's property from its text (strings, numbers, yes/no, lists).
bool SetFromText(NMSetting* s, const std::string& prop, const std::string& value) {
  GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(s), prop.c_str());
  if (!spec || !(spec->flags & G_PARAM_WRITABLE)) return false;
  GType t = G_PARAM_SPEC_VALUE_TYPE(spec);
  char* end = nullptr;
  if (t == G_TYPE_STRING) {
    g_object_set(s, prop.c_str(), value.c_str(), nullptr);
  } else if (t == G_TYPE_BOOLEAN) {
    if (value != "yes" && value != "no" && value != "true" && value != "false") return false;
    g_object_set(s, prop.c_str(), gboolean(value == "yes" || value == "true"), nullptr);
  } else if (t == G_TYPE_INT || t == G_TYPE_UINT || G_TYPE_IS_ENUM(t) || G_TYPE_IS_FLAGS(t)) {
    long long n = std::strtoll(value.c_str(), &end, 0);
    if (value.empty() || *end) return false;
    GValue v = G_VALUE_INIT;
    g_value_init(&v, t);
    if (t == G_TYPE_INT)
      g_value_set_int(&v, static_cast<int>(n));
    else if (t == G_TYPE_UINT)
      g_value_set_uint(&v, static_cast<guint>(n));
    else if (G_TYPE_IS_ENUM(t))
      g_value_set_enum(&v, static_cast<int>(n));
    else
      g_value_set_flags(&v, static_cast<guint>(n));
    g_object_set_property(G_OBJECT(s), prop.c_str(), &v);
    g_value_unset(&v);
  } else if (t == G_TYPE_STRV) {
    gchar** parts = g_strsplit(value.c_str(), ",", -1);
    g_object_set(s, prop.c_str(), parts, nullptr);
    g_strfreev(parts);
  } else {
    return false;
  }
  return true;
}

}  // namespace

DWORD CreateEntry(const NewEntry& entry) {
  return Request([entry](std::shared_ptr<Waiter> w) {
    if (!rassim::ValidEntryName(entry.name)) return w->Finish(ERROR_INVALID_NAME);
    if (FindProfile(entry.name)) return w->Finish(ERROR_ALREADY_EXISTS);
    NMConnection* c = nm_simple_connection_new();
    NMSetting* con = nm_setting_connection_new();
    gchar* uuid = nm_utils_uuid_generate();
    std::string type = entry.kind == "vpn"        ? NM_SETTING_VPN_SETTING_NAME
                       : entry.kind == "ethernet" ? NM_SETTING_WIRED_SETTING_NAME
                       : entry.kind == "gsm"      ? NM_SETTING_GSM_SETTING_NAME
                       : entry.kind == "pppoe"    ? NM_SETTING_PPPOE_SETTING_NAME
                                                  : "";
    if (type.empty()) {
      g_free(uuid);
      g_object_unref(con);
      g_object_unref(c);
      return w->Finish(ERROR_INVALID_PARAMETER);
    }
    g_object_set(con, NM_SETTING_CONNECTION_ID, entry.name.c_str(), NM_SETTING_CONNECTION_UUID, uuid,
                 NM_SETTING_CONNECTION_TYPE, type.c_str(), NM_SETTING_CONNECTION_AUTOCONNECT, FALSE, nullptr);
    g_free(uuid);
    nm_connection_add_setting(c, con);
    if (entry.kind == "vpn") {
      NMSetting* vpn = nm_setting_vpn_new();
      g_object_set(vpn, NM_SETTING_VPN_SERVICE_TYPE, NM_DBUS_INTERFACE ".openvpn", nullptr);
      nm_connection_add_setting(c, vpn);
    } else if (entry.kind == "ethernet") {
      nm_connection_add_setting(c, nm_setting_wired_new());
    } else if (entry.kind == "gsm") {
      nm_connection_add_setting(c, nm_setting_gsm_new());
    } else {
      nm_connection_add_setting(c, nm_setting_wired_new());
      nm_connection_add_setting(c, nm_setting_pppoe_new());
    }
    DWORD bad = 0;
    for (const auto& [key, value] : entry.settings) {
      size_t dot = key.find('.');
      if (dot == std::string::npos) {
        bad = ERROR_INVALID_PARAMETER;
        break;
      }
      std::string setting = key.substr(0, dot), prop = key.substr(dot + 1);
      if (setting == "vpn" && prop.rfind("data.", 0) == 0) {
        nm_setting_vpn_add_data_item(nm_connection_get_setting_vpn(c), prop.substr(5).c_str(), value.c_str());
        continue;
      }
      NMSetting* s = nm_connection_get_setting_by_name(c, setting.c_str());
      if (!s) {
        GType t = nm_setting_lookup_type(setting.c_str());
        if (t == G_TYPE_INVALID) {
          bad = ERROR_INVALID_PARAMETER;
          break;
        }
        s = NM_SETTING(g_object_new(t, nullptr));
        nm_connection_add_setting(c, s);
      }
      if (!SetFromText(s, prop, value)) {
        bad = ERROR_INVALID_PARAMETER;
        break;
      }
    }
    if (bad) {
      g_object_unref(c);
      return w->Finish(bad);
    }
    nm_client_add_connection_async(
        B().client, c, TRUE, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
          std::unique_ptr<std::shared_ptr<Waiter>> ww(static_cast<std::shared_ptr<Waiter>*>(data));
          GError* err = nullptr;
          NMRemoteConnection* added = nm_client_add_connection_finish(NM_CLIENT(source), res, &err);
          DWORD r = added ? 0 : ErrorOf(err);
          if (added) g_object_unref(added);
          g_clear_error(&err);
          (*ww)->Finish(r);
        },
        new std::shared_ptr<Waiter>(w));
    g_object_unref(c);
  });
}

// The dialog's device answer chooses the kind of a new profile: "vpn" (OpenVPN, the
// phone number is the server), "modem" (mobile broadband, the number dialled),
// "PPPoE", or an interface name or "GENERIC" for a wired profile.
DWORD CreatePhonebookEntry(HWND, const PbArg&) {
  rassim::dialogs::Request req;
  req.create = true;
  rassim::dialogs::Answers ans;
  if (!rassim::dialogs::Show(req, ans)) return ERROR_CANCELLED;
  NewEntry e;
  e.name = ans.entry.value_or("");
  std::string device = ans.device.value_or("GENERIC"), phone = ans.phone.value_or("");
  if (device == "vpn" || device == "openvpn") {
    e.kind = "vpn";
    if (!phone.empty()) e.settings["vpn.data.remote"] = phone;
    e.settings["vpn.data.connection-type"] = "password";
  } else if (device == "modem" || device == "gsm") {
    e.kind = "gsm";
    if (!phone.empty()) e.settings["gsm.number"] = phone;
  } else if (device == "PPPoE" || device == "pppoe") {
    e.kind = "pppoe";
  } else {
    e.kind = "ethernet";
    if (device != "GENERIC" && device != "ethernet") e.settings["connection.interface-name"] = device;
  }
  return CreateEntry(e);
}

// The dialog shows the entry's name and device type; of its answers only a new
// name is kept (a rename): the rest of a profile is NetworkManager's to edit.
DWORD EditPhonebookEntry(HWND, const PbArg& pb, const std::string& entry) {
  rassim::dialogs::Request req;
  req.create = false;
  req.entry = entry;
  std::string deviceName;
  if (DWORD e = GetEntryDevice(entry, req.device, deviceName)) return e;
  rassim::dialogs::Answers ans;
  if (!rassim::dialogs::Show(req, ans)) return ERROR_CANCELLED;
  if (ans.entry && !ans.entry->empty() && *ans.entry != entry) return RenameEntry(pb, entry, *ans.entry);
  return 0;
}

}  // namespace rasnm
