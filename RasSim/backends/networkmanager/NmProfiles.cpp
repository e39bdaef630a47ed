// The profiles as the phonebook: names, dial parameters (the profile's user and
// secrets), renames, deletes, new profiles. Every libnm call runs on the
// backend's thread (NmClient.cpp).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "RasSim/backends/networkmanager/NmInternal.h"
#include "RasSim/backends/networkmanager/NmMap.h"
#include "RasSim/common/Text.h"

namespace rasnm {

using namespace detail;

namespace {

// Where a profile keeps the user name and password of its dial parameters.
struct SecretPlace {
  const char* setting = nullptr;  // secret setting
  const char* userKey = nullptr;  // property (or vpn data key)
  const char* passwordKey = nullptr;
  bool vpn = false;
};

SecretPlace PlaceOf(NMConnection* c) {
  const char* type = nm_connection_get_connection_type(c);
  std::string t = type ? type : "";
  if (t == NM_SETTING_VPN_SETTING_NAME) return {NM_SETTING_VPN_SETTING_NAME, "username", "password", true};
  if (t == NM_SETTING_GSM_SETTING_NAME) return {NM_SETTING_GSM_SETTING_NAME, "username", "password", false};
  if (t == NM_SETTING_CDMA_SETTING_NAME) return {NM_SETTING_CDMA_SETTING_NAME, "username", "password", false};
  if (t == NM_SETTING_PPPOE_SETTING_NAME) return {NM_SETTING_PPPOE_SETTING_NAME, "username", "password", false};
  if (nm_connection_get_setting_802_1x(c)) return {NM_SETTING_802_1X_SETTING_NAME, "identity", "password", false};
  return {};
}

// ---------------------------------------------------------------- profile edits (loop thread)

struct Edit {
  std::string uuid;
  std::function<DWORD(NMConnection*, const SecretPlace&)> change;  // applied to a copy with its secrets
  std::shared_ptr<Waiter> w;
  std::function<void(DWORD)> then;  // instead of finishing the waiter
  NMConnection* saved = nullptr;    // what was saved
  ~Edit() {
    if (saved) g_object_unref(saved);
  }
  void Finish(DWORD r) {
    if (then)
      then(r);
    else
      w->Finish(r);
  }
};

// After a save, the client's copy of the profile changes when NetworkManager's
// notification arrives: answer once it has (bounded), so a caller's next request
// sees its own change.
void WhenSettled(std::function<bool()> settled, std::function<void()> then, int waitedMs = 0) {
  if (settled() || waitedMs >= kRequestMs / 4) return then();
  After(10, [settled, then, waitedMs] { WhenSettled(settled, then, waitedMs + 10); });
}

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

// A secret property's text, with the copy GObject made for us wiped before it is freed.
void SecretProperty(NMSetting* s, const char* name, rassim::SecretString& out) {
  out.clear();
  if (!g_object_class_find_property(G_OBJECT_GET_CLASS(s), name)) return;
  gchar* v = nullptr;
  g_object_get(s, name, &v, nullptr);
  if (!v) return;
  const size_t size = std::strlen(v);
  out.Assign(v, size);
  rassim::WipeMemory(v, size);
  g_free(v);
}

DWORD ApplyParams(NMConnection* c, const SecretPlace& place, const DialParams& p, bool setPassword,
                  bool removePassword) {
  if (!place.setting) return (p.user.empty() && p.password.empty()) ? 0 : ERROR_INVALID_PARAMETER;
  NMSetting* s = nm_connection_get_setting_by_name(c, place.setting);
  if (!s) return ERROR_INVALID_PARAMETER;
  if (place.vpn) {
    auto* vpn = NM_SETTING_VPN(s);
    if (p.user.empty())
      nm_setting_vpn_remove_data_item(vpn, place.userKey);
    else
      nm_setting_vpn_add_data_item(vpn, place.userKey, p.user.c_str());
    if (removePassword) {
      nm_setting_vpn_remove_secret(vpn, place.passwordKey);
    } else if (setPassword) {
      nm_setting_vpn_add_secret(vpn, place.passwordKey, p.password.c_str());
      nm_setting_vpn_add_data_item(vpn, (std::string(place.passwordKey) + "-flags").c_str(), "0");
    }
  } else {
    g_object_set(s, place.userKey, p.user.empty() ? nullptr : p.user.c_str(), nullptr);
    if (removePassword) {
      g_object_set(s, place.passwordKey, nullptr, nullptr);
    } else if (setPassword) {
      g_object_set(s, place.passwordKey, p.password.c_str(), nullptr);
      g_object_set(s, (std::string(place.passwordKey) + "-flags").c_str(), NM_SETTING_SECRET_FLAG_NONE, nullptr);
    }
  }
  return 0;
}

bool ValidName(const std::string& name) {
  return rassim::ValidEntryName(name);
}

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

void detail::StoreDialParams(const std::string& uuid, const DialParams& params, std::function<void(DWORD)> then) {
  auto e = std::make_unique<Edit>();
  e->uuid = uuid;
  e->change = [params](NMConnection* copy, const SecretPlace& place) {
    return ApplyParams(copy, place, params, !params.password.empty(), false);
  };
  e->then = std::move(then);
  EditProfile(std::move(e));
}

DWORD EnumEntries(std::vector<std::string>& names) {
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

DWORD GetEntryDialParams(const std::string& entry, DialParams& out, bool& passwordReturned) {
  struct Answer {
    DialParams p;
    bool password = false;
  };
  auto result = std::make_shared<Answer>();
  passwordReturned = false;
  DWORD r = Request([entry, result](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(entry);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    result->p.entry = nm_connection_get_id(NM_CONNECTION(rc));
    SecretPlace place = PlaceOf(NM_CONNECTION(rc));
    if (!place.setting) return w->Finish(0);
    struct Ctx {
      std::shared_ptr<Answer> a;
      std::shared_ptr<Waiter> w;
      SecretPlace place;
    };
    nm_remote_connection_get_secrets_async(
        rc, place.setting, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
          std::unique_ptr<Ctx> x(static_cast<Ctx*>(data));
          auto* rc2 = NM_REMOTE_CONNECTION(source);
          NMConnection* copy = nm_simple_connection_new_clone(NM_CONNECTION(rc2));
          GError* err = nullptr;
          GVariant* secrets = nm_remote_connection_get_secrets_finish(rc2, res, &err);
          DWORD e = 0;
          if (secrets) {
            nm_connection_update_secrets(copy, x->place.setting, secrets, nullptr);
            g_variant_unref(secrets);
          } else {
            e = ErrorOf(err) == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : 0;
          }
          g_clear_error(&err);
          NMSetting* s = nm_connection_get_setting_by_name(copy, x->place.setting);
          rassim::SecretString& password = x->a->p.password;
          if (x->place.vpn && s) {
            const char* u = nm_setting_vpn_get_data_item(NM_SETTING_VPN(s), x->place.userKey);
            const char* p = nm_setting_vpn_get_secret(NM_SETTING_VPN(s), x->place.passwordKey);
            x->a->p.user = u ? u : "";
            if (p) password.Assign(p, std::strlen(p));
          } else if (s) {
            x->a->p.user = StringProperty(s, x->place.userKey);
            SecretProperty(s, x->place.passwordKey, password);
            if (std::string(x->place.setting) == NM_SETTING_GSM_SETTING_NAME ||
                std::string(x->place.setting) == NM_SETTING_CDMA_SETTING_NAME)
              x->a->p.phone = StringProperty(s, "number");
          }
          g_object_unref(copy);
          x->a->password = !password.empty();
          x->w->Finish(e);
        },
        new Ctx{result, w, place});
  });
  if (r == 0) {
    out = result->p;
    passwordReturned = result->password;
  }
  return r;
}

DWORD SetEntryDialParams(const DialParams& params, bool removePassword) {
  return Request([params, removePassword](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(params.entry);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    auto e = std::make_unique<Edit>();
    e->uuid = nm_connection_get_uuid(NM_CONNECTION(rc));
    e->change = [params, removePassword](NMConnection* copy, const SecretPlace& place) {
      return ApplyParams(copy, place, params, true, removePassword);
    };
    std::string path = nm_connection_get_path(NM_CONNECTION(rc));
    e->then = [w, removePassword, path](DWORD r) {
      if (r || !removePassword) return w->Finish(r);
      // An update keeps the secrets it does not name: clearing them is a request of its own.
      g_dbus_connection_call(
          nm_client_get_dbus_connection(B().client), NM_DBUS_SERVICE, path.c_str(),
          NM_DBUS_INTERFACE_SETTINGS_CONNECTION, "ClearSecrets", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
          kRequestMs / 2, nullptr,
          [](GObject* source, GAsyncResult* res, gpointer data) {
            std::unique_ptr<std::shared_ptr<Waiter>> ww(static_cast<std::shared_ptr<Waiter>*>(data));
            GError* err = nullptr;
            GVariant* out = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &err);
            if (out) g_variant_unref(out);
            DWORD code = ErrorOf(err);
            g_clear_error(&err);
            (*ww)->Finish(code);
          },
          new std::shared_ptr<Waiter>(w));
    };
    EditProfile(std::move(e));
  });
}

DWORD ValidateEntryName(const std::string& name) {
  if (!ValidName(name)) return ERROR_INVALID_NAME;
  return Request([name](std::shared_ptr<Waiter> w) { w->Finish(FindProfile(name) ? ERROR_ALREADY_EXISTS : 0); });
}

DWORD RenameEntry(const std::string& oldName, const std::string& newName) {
  return Request([oldName, newName](std::shared_ptr<Waiter> w) {
    NMRemoteConnection* rc = FindProfile(oldName);
    if (!rc) return w->Finish(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    if (!ValidName(newName)) return w->Finish(ERROR_INVALID_NAME);
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

DWORD DeleteEntry(const std::string& name) {
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

DWORD CreateEntry(const NewEntry& entry) {
  return Request([entry](std::shared_ptr<Waiter> w) {
    if (!ValidName(entry.name)) return w->Finish(ERROR_INVALID_NAME);
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

}  // namespace rasnm
