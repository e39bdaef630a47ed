// The brief backend's D-Bus calls to NetworkManager: the system bus is had
// once and kept; every call is bounded and runs on the caller's thread (GIO's
// own thread carries the messages).
#include <nm-dbus-interface.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "RasSim/backends/networkmanager/NmBrief.h"
#include "RasSim/common/Text.h"

namespace rasnm::brief {

namespace {

constexpr int kCallMs = 5000;  // one call and its answer, as long as the full backend waits for its start

std::mutex g_lock;
GDBusConnection* g_bus = nullptr;

// NetworkManager's signals seen on the connection: each tells that something
// changed, so an answer fetched before it may be out of date (as libnm's own
// objects follow these signals).
std::atomic<uint64_t> g_changes{0};

// What was fetched, with the count of signals before the call was made: it
// stands while no signal has come since.
template <class T>
struct Cached {
  bool valid = false;
  uint64_t changes = 0;
  T value;
};
Cached<std::vector<Active>> g_actives;
Cached<std::vector<std::string>> g_names;

template <class T>
bool FromCache(const Cached<T>& cached, T& out) {
  std::lock_guard<std::mutex> held(g_lock);
  if (!cached.valid || cached.changes != g_changes.load()) return false;
  out = cached.value;
  return true;
}

template <class T>
void Keep(Cached<T>& cached, uint64_t changesBefore, const T& value) {
  std::lock_guard<std::mutex> held(g_lock);
  cached = Cached<T>{true, changesBefore, value};
}

GDBusMessage* CountChanges(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
  if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_SIGNAL) {
    const char* sender = g_dbus_message_get_sender(message);
    if (!sender || std::strcmp(sender, "org.freedesktop.DBus") != 0) g_changes.fetch_add(1);
  }
  return message;
}

// The RAS error of a failed call: no NetworkManager (or no bus) is a service
// that cannot start, as the full backend says it.
DWORD ErrorOf(const GError* err) {
  if (!err) return 0;
  if (g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
      g_error_matches(err, G_IO_ERROR, G_IO_ERROR_NOT_FOUND) || g_error_matches(err, G_IO_ERROR, G_IO_ERROR_CLOSED))
    return ERROR_RASMAN_CANNOT_INITIALIZE;
  if (g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED) ||
      g_error_matches(err, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED))
    return ERROR_ACCESS_DENIED;
  if (g_error_matches(err, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY))
    return ERROR_REQUEST_TIMEOUT;
  // NetworkManager's own errors arrive as remote errors named by D-Bus.
  gchar* remote = g_dbus_error_get_remote_error(err);
  const std::string name = remote ? remote : "";
  g_free(remote);
  if (name == "org.freedesktop.NetworkManager.PermissionDenied") return ERROR_ACCESS_DENIED;
  return ERROR_UNKNOWN;
}

// A connection of the backend's own to the system bus (its filter and its
// match rule go with it), made on first need and again after the bus went.
DWORD Bus(GDBusConnection*& out) {
  std::lock_guard<std::mutex> held(g_lock);
  if (g_bus && g_dbus_connection_is_closed(g_bus)) {
    g_clear_object(&g_bus);
    g_actives.valid = g_names.valid = false;
  }
  if (!g_bus) {
    GError* err = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
    if (address) {
      g_bus = g_dbus_connection_new_for_address_sync(
          address,
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, &err);
      g_free(address);
    }
    g_clear_error(&err);
    if (!g_bus) return ERROR_RASMAN_CANNOT_INITIALIZE;
    g_dbus_connection_set_exit_on_close(g_bus, FALSE);
    g_dbus_connection_add_filter(g_bus, CountChanges, nullptr, nullptr);
    // Sent ahead of every call (the bus takes a connection's messages in order), so a
    // change after any answer is signalled; no answer is waited for.
    g_dbus_connection_call(g_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "AddMatch",
                           g_variant_new("(s)", "type='signal',sender='" NM_DBUS_SERVICE "'"), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
  }
  out = G_DBUS_CONNECTION(g_object_ref(g_bus));
  return 0;
}

// One call; *reply is the answer (to be unreffed) when 0 is returned, null
// when NetworkManager answered with the error named `harmless`.
DWORD Call(const char* path, const char* iface, const char* method, GVariant* args, const char* replyType,
           GVariant** reply, const char* harmless = nullptr) {
  GDBusConnection* bus = nullptr;
  if (DWORD e = Bus(bus)) {
    if (args) g_variant_unref(g_variant_ref_sink(args));
    return e;
  }
  GError* err = nullptr;
  GVariant* r = g_dbus_connection_call_sync(bus, NM_DBUS_SERVICE, path, iface, method, args, G_VARIANT_TYPE(replyType),
                                            G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMs, nullptr, &err);
  g_object_unref(bus);
  DWORD e = r ? 0 : ErrorOf(err);
  if (!r && harmless) {
    gchar* remote = g_dbus_error_get_remote_error(err);
    if (remote && std::string(remote) == harmless) e = 0;
    g_free(remote);
  }
  g_clear_error(&err);
  if (r) *reply = r;
  return e;
}

// The settings of several profiles asked for at once, on a context of the caller's own.
struct Pending {
  size_t open = 0;
  std::vector<std::string> names;
};

void SettingsDone(GObject* source, GAsyncResult* res, gpointer data) {
  auto* p = static_cast<Pending*>(data);
  --p->open;
  GVariant* r = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr);
  if (!r) return;  // a profile this user may not see has no name to list, as in libnm's list
  GVariant* settings = g_variant_get_child_value(r, 0);
  GVariant* connection = g_variant_lookup_value(settings, "connection", G_VARIANT_TYPE("a{sv}"));
  const char* id = nullptr;
  if (connection && g_variant_lookup(connection, "id", "&s", &id) && id) p->names.emplace_back(id);
  if (connection) g_variant_unref(connection);
  g_variant_unref(settings);
  g_variant_unref(r);
}

}  // namespace

DWORD FetchActives(std::vector<Active>& out) {
  if (FromCache(g_actives, out)) return 0;
  const uint64_t before = g_changes.load();
  GVariant* objects = nullptr;
  if (DWORD e = Call("/org/freedesktop", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr,
                     "(a{oa{sa{sv}}})", &objects))
    return e;
  out = ActivesOf(objects);
  g_variant_unref(objects);
  Keep(g_actives, before, out);
  return 0;
}

DWORD Deactivate(const std::string& activePath) {
  GVariant* reply = nullptr;
  DWORD e = Call(NM_DBUS_PATH, NM_DBUS_INTERFACE, "DeactivateConnection", g_variant_new("(o)", activePath.c_str()),
                 "()", &reply, "org.freedesktop.NetworkManager.ConnectionNotActive");  // it went meanwhile
  if (reply) g_variant_unref(reply);
  std::lock_guard<std::mutex> held(g_lock);
  g_actives.valid = false;  // asked to change: the next look asks again whether or not a signal came yet
  return e;
}

DWORD FetchEntryNames(std::vector<std::string>& out) {
  if (FromCache(g_names, out)) return 0;
  const uint64_t before = g_changes.load();
  GVariant* listed = nullptr;
  if (DWORD e = Call(NM_DBUS_PATH_SETTINGS, NM_DBUS_INTERFACE_SETTINGS, "ListConnections", nullptr, "(ao)", &listed))
    return e;
  GDBusConnection* bus = nullptr;
  if (DWORD e = Bus(bus)) {
    g_variant_unref(listed);
    return e;
  }
  GMainContext* ctx = g_main_context_new();
  g_main_context_push_thread_default(ctx);
  Pending p;
  GVariantIter* it = nullptr;
  g_variant_get(listed, "(ao)", &it);
  const char* path = nullptr;
  while (g_variant_iter_next(it, "&o", &path)) {
    ++p.open;
    g_dbus_connection_call(bus, NM_DBUS_SERVICE, path, NM_DBUS_INTERFACE_SETTINGS_CONNECTION, "GetSettings", nullptr,
                           G_VARIANT_TYPE("(a{sa{sv}})"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMs, nullptr,
                           SettingsDone, &p);
  }
  g_variant_iter_free(it);
  g_variant_unref(listed);
  // Each call ends by its answer or by its own time-out.
  while (p.open > 0) g_main_context_iteration(ctx, TRUE);
  g_main_context_pop_thread_default(ctx);
  g_main_context_unref(ctx);
  g_object_unref(bus);
  std::sort(p.names.begin(), p.names.end(),
            [](const std::string& a, const std::string& b) { return rassim::FoldCase(a) < rassim::FoldCase(b); });
  out = p.names;
  Keep(g_names, before, p.names);
  return 0;
}

void DropBus() {
  GDBusConnection* bus = nullptr;
  {
    std::lock_guard<std::mutex> held(g_lock);
    bus = g_bus;
    g_bus = nullptr;
    g_actives.valid = g_names.valid = false;
  }
  if (!bus) return;
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
}

}  // namespace rasnm::brief
