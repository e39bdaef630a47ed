// Dial parameters: the user name and password a profile keeps (where, depends
// on its kind: a VPN's data and secrets, a mobile or PPPoE setting, 802.1X),
// read and written with the profile's secrets. Every libnm call runs on the
// backend's thread (NmClient.cpp).
#include <cstring>

#include "RasSim/backends/networkmanager/NmInternal.h"

namespace rasnm {

namespace detail {

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

}  // namespace detail

using namespace detail;

namespace {

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

// Writes the user name (an empty one removes it) and, as asked, the password into the
// profile copy `c`. A password set is stored by NetworkManager itself (flags 0: not
// asked of an agent). A profile with no place for them takes only empty ones.
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

DWORD GetEntryDialParams(const PbArg&, const std::string& entry, DialParams& out, bool& passwordReturned) {
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

DWORD SetEntryDialParams(const PbArg&, const DialParams& params, bool removePassword) {
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

}  // namespace rasnm
