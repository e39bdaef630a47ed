#include "RasSim/edge/Inspect.h"

#include <map>
#include <mutex>

namespace rassim::inspect {

namespace {

struct State {
  std::mutex mutex;
  std::map<std::string, CallRecord> calls;
  std::map<std::string, uint64_t> order;  // export -> sequence number of its last call
  uint64_t seq = 0;
  bool haveDial = false;
  DialParams dial;
};

State& S() {
  static State s;
  return s;
}

}  // namespace

void Record(const char* exportName, const PbArg* pb, const std::string& name, const std::string& name2) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  CallRecord& r = s.calls[exportName];
  ++r.count;
  r.kind = !pb || pb->isNull ? PhonebookKind::Null : pb->text.empty() ? PhonebookKind::Empty : PhonebookKind::Path;
  r.phonebook = pb ? pb->text : std::string();
  r.name = name;
  r.name2 = name2;
  s.order[exportName] = ++s.seq;
}

void RecordDial(const char* exportName, const PbArg& pb, const DialParams& params, DWORD notifierType,
                UINT_PTR notifier, bool extensions) {
  Record(exportName, &pb, params.entry);
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  CallRecord& r = s.calls[exportName];
  r.notifierType = notifierType;
  r.notifier = notifier;
  r.extensions = extensions;
  s.dial = params;
  s.haveDial = true;
}

bool Lookup(const std::string& name, CallRecord& out) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.calls.find(name);
  if (it != s.calls.end()) {
    out = it->second;
    return true;
  }
  // A family: the A and W exports together.
  auto a = s.calls.find(name + "A"), w = s.calls.find(name + "W");
  if (a == s.calls.end() && w == s.calls.end()) {
    out = CallRecord();
    return false;
  }
  const CallRecord* last = nullptr;
  if (a != s.calls.end()) last = &a->second;
  if (w != s.calls.end() && (!last || s.order[name + "W"] > s.order[name + "A"])) last = &w->second;
  out = *last;
  out.count = (a != s.calls.end() ? a->second.count : 0) + (w != s.calls.end() ? w->second.count : 0);
  return true;
}

bool LastDialParams(DialParams& out) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  out = s.dial;
  return s.haveDial;
}

void Clear() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.clear();
  s.order.clear();
  s.haveDial = false;
  s.dial = DialParams();
}

}  // namespace rassim::inspect
