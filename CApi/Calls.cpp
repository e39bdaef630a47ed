// Dial, hang-up and status; the machine's connections and the phonebook;
// errors and the version.
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CApi/CApiInternal.h"
#include "QuorVersion.h"
#include "TQuorComponent/TQuorFields.h"

namespace quorc {
namespace {

// Converts each name argument; the first refusal wins.
int NameArg(const char* Utf8, String& Out) {
  if (Utf8 == nullptr) return QUOR_E_NULL_ARGUMENT;
  const int r = ToRas(Utf8, std::strlen(Utf8), Out);
  if (r != QUOR_OK) return r;
  if (Out.size() >= sizeof(TRasDialParams{}.szEntryName)) return QUOR_E_TOO_LONG;
  return QUOR_OK;
}

const char* OwnErrorText(int Error) {
  switch (Error) {
    case QUOR_OK:
      return "";
    case QUOR_E_NULL_ARGUMENT:
      return "A required argument is null.";
    case QUOR_E_INVALID_DIALER:
      return "The dialler handle is not valid (freed, or never created).";
    case QUOR_E_WRONG_THREAD:
      return "The dialler belongs to another thread.";
    case QUOR_E_TOO_LONG:
      return "The text is longer than RAS takes.";
    case QUOR_E_EMBEDDED_NUL:
      return "The text holds a zero byte.";
    case QUOR_E_NOT_REPRESENTABLE:
      return "The text is not UTF-8 or cannot be held in RAS's code page.";
    case QUOR_E_IN_CALLBACK:
      return "The message loop cannot run inside a callback.";
    case QUOR_E_BUFFER_TOO_SMALL:
      return "The buffer is too small.";
    case QUOR_E_OUT_OF_RANGE:
      return "The value is outside the setting's range.";
    case QUOR_E_NO_MEMORY:
      return "Out of memory.";
    case QUOR_E_NO_RAS:
      return "No RAS library could be loaded.";
    case QUOR_E_NO_ENTRY:
      return "Entry name not specified!";
    case QUOR_E_FAILED:
      return "RAS refused the operation.";
    case QUOR_E_UNKNOWN_SETTING:
      return "Unknown setting.";
    case QUOR_E_READ_ONLY:
      return "The setting can only be read.";
    default:
      return nullptr;
  }
}

thread_local std::string tErrorText;

}  // namespace
}  // namespace quorc

using quorc::Dialer;

extern "C" {

const char* quor_version(void) {
  return QUOR_VERSION;
}

int quor_api_version(void) {
  return QUOR_API_VERSION_MAJOR * 1000 + QUOR_API_VERSION_MINOR;
}

const char* quor_error_text(int error) {
  if (const char* own = quorc::OwnErrorText(error)) return own;
  try {
    if (error <= 0) {
      quorc::tErrorText = "Unknown error " + std::to_string(error) + ".";
    } else if (quorc::LiveDialers() > 0) {
      quorc::tErrorText = quorc::FromRas(tquor_detail::RasErrorText(error));
    } else {
      // No dialler holds the library: the entry points may name a library that
      // was unloaded with the last one, so bind it for this one text.
      static std::mutex binding;
      std::lock_guard<std::mutex> held(binding);
      if (InitRas()) {
        quorc::tErrorText = quorc::FromRas(tquor_detail::RasErrorText(error));
      } else {
        quorc::tErrorText = "RAS error " + std::to_string(error);
      }
      CloseRas();
    }
    return quorc::tErrorText.c_str();
  } catch (...) {
    return "Out of memory.";
  }
}

int quor_connect(quor_dialer* dialer, uint64_t* handle) {
  if (handle != nullptr) *handle = 0;
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (d.Q->EntryName().empty()) return QUOR_E_NO_ENTRY;
    // Nothing of d is read after the dial: a callback it runs may free it.
    const THRasConn h = d.Q->Connect();
    if (handle != nullptr) *handle = static_cast<uint64_t>(h);
    return QUOR_OK;
  });
}

int quor_hang_up(quor_dialer* dialer) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int { return static_cast<int>(d.Q->Disconnect()); });
}

int quor_get_status(quor_dialer* dialer, quor_status* status) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (status == nullptr) return QUOR_E_NULL_ARGUMENT;
    const uint32_t size = status->size;
    if (size < sizeof(uint32_t)) return QUOR_E_OUT_OF_RANGE;
    quor_status s;
    std::memset(&s, 0, sizeof(s));
    TQuor& q = *d.Q;
    if (q.CallHandle() != 0) {
      const Integer error = q.GetConnectStatus();
      s.state = q.RasState();
      s.error = error;
      s.connected = q.Connected() && error == 0 ? 1 : 0;
      s.connected_ms = s.connected ? q.ConnectedMs() : 0;
      const String text = quorc::FromRas(TQuor::StateText(static_cast<Integer>(s.state), error));
      std::strncpy(s.state_text, text.c_str(), sizeof(s.state_text) - 1);
      if (s.connected) {
        const String ip = q.IPAddress();
        std::strncpy(s.ip_address, ip.c_str(), sizeof(s.ip_address) - 1);
      }
    }
    s.size = size;
    std::memcpy(status, &s, size < sizeof(s) ? size : sizeof(s));
    return QUOR_OK;
  });
}

int quor_enum_connections(quor_dialer* dialer, quor_connection_fn fn, void* user) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (fn == nullptr) return QUOR_E_NULL_ARGUMENT;
    if (!d.Q->EnumConnections()) return QUOR_E_FAILED;
    // Everything is read before the first callback: a callback may free the dialler.
    std::vector<std::pair<String, uint64_t>> found;
    for (const String& name : d.Q->Connections->Items())
      found.emplace_back(quorc::FromRas(name), static_cast<uint64_t>(d.Q->GetHandleByName(name)));
    quorc::CallbackScope scope;
    for (const auto& c : found) {
      if (fn(user, c.first.c_str(), c.second) != 0) break;
    }
    return QUOR_OK;
  });
}

int quor_enum_entries(quor_dialer* dialer, quor_entry_fn fn, void* user) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (fn == nullptr) return QUOR_E_NULL_ARGUMENT;
    d.Q->GetPhoneBookEntries();
    std::vector<String> names;
    for (const String& name : d.Q->PhoneBookEntries->Items()) names.push_back(quorc::FromRas(name));
    quorc::CallbackScope scope;
    for (const String& name : names) {
      if (fn(user, name.c_str()) != 0) break;
    }
    return QUOR_OK;
  });
}

int quor_connection_handle(quor_dialer* dialer, const char* entry_utf8, uint64_t* handle) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (handle == nullptr) return QUOR_E_NULL_ARGUMENT;
    *handle = 0;
    String name;
    const int r = quorc::NameArg(entry_utf8, name);
    if (r != QUOR_OK) return r;
    *handle = static_cast<uint64_t>(d.Q->GetHandleByName(name));
    return QUOR_OK;
  });
}

int quor_rename_entry(quor_dialer* dialer, const char* old_utf8, const char* new_utf8) {
  return quorc::WithDialer(dialer, [&](Dialer&) -> int {
    String from, to;
    int r = quorc::NameArg(old_utf8, from);
    if (r == QUOR_OK) r = quorc::NameArg(new_utf8, to);
    if (r != QUOR_OK) return r;
    if (RasRenameEntryA == nullptr) return static_cast<int>(ERROR_PROC_NOT_FOUND);
    return static_cast<int>(RasRenameEntryA("", from.c_str(), to.c_str()));
  });
}

int quor_delete_entry(quor_dialer* dialer, const char* entry_utf8) {
  return quorc::WithDialer(dialer, [&](Dialer&) -> int {
    String name;
    const int r = quorc::NameArg(entry_utf8, name);
    if (r != QUOR_OK) return r;
    if (RasDeleteEntryA == nullptr) return static_cast<int>(ERROR_PROC_NOT_FOUND);
    return static_cast<int>(RasDeleteEntryA("", name.c_str()));
  });
}

int quor_load_dial_params(quor_dialer* dialer, const char* entry_utf8) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    String name;
    if (entry_utf8 != nullptr && entry_utf8[0] != '\0') {
      const int r = quorc::NameArg(entry_utf8, name);
      if (r != QUOR_OK) return r;
    }
    if (name.empty() && d.Q->EntryName().empty()) return QUOR_E_NO_ENTRY;
    return d.Q->GetDialParams(name) ? QUOR_OK : QUOR_E_FAILED;
  });
}

int quor_save_dial_params(quor_dialer* dialer) {
  return quorc::WithDialer(dialer, [&](Dialer& d) -> int {
    if (d.Q->EntryName().empty()) return QUOR_E_NO_ENTRY;
    return d.Q->SetDialParams() ? QUOR_OK : QUOR_E_FAILED;
  });
}

}  // extern "C"
