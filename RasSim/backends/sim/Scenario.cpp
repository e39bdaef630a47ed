#include "RasSim/backends/sim/Scenario.h"

#include <cmath>
#include <cstdlib>

#include "RasSim/common/Platform.h"
#include "RasSim/common/Text.h"

namespace rassim {

namespace {

struct StateInfo {
  TRasConnState state;
  const char* name;
};

const StateInfo kStates[] = {
    {RASCS_OpenPort, "OpenPort"},
    {RASCS_PortOpened, "PortOpened"},
    {RASCS_ConnectDevice, "ConnectDevice"},
    {RASCS_DeviceConnected, "DeviceConnected"},
    {RASCS_AllDevicesConnected, "AllDevicesConnected"},
    {RASCS_Authenticate, "Authenticate"},
    {RASCS_AuthNotify, "AuthNotify"},
    {RASCS_AuthRetry, "AuthRetry"},
    {RASCS_AuthCallback, "AuthCallback"},
    {RASCS_AuthChangePassword, "AuthChangePassword"},
    {RASCS_AuthProject, "AuthProject"},
    {RASCS_AuthLinkSpeed, "AuthLinkSpeed"},
    {RASCS_AuthAck, "AuthAck"},
    {RASCS_ReAuthenticate, "ReAuthenticate"},
    {RASCS_Authenticated, "Authenticated"},
    {RASCS_PrepareForCallback, "PrepareForCallback"},
    {RASCS_WaitForModemReset, "WaitForModemReset"},
    {RASCS_WaitForCallback, "WaitForCallback"},
    {RASCS_Projected, "Projected"},
    {RASCS_StartAuthentication, "StartAuthentication"},
    {RASCS_CallbackComplete, "CallbackComplete"},
    {RASCS_LogonNetwork, "LogonNetwork"},
    {RASCS_Interactive, "Interactive"},
    {RASCS_RetryAuthentication, "RetryAuthentication"},
    {RASCS_CallbackSetByCaller, "CallbackSetByCaller"},
    {RASCS_PasswordExpired, "PasswordExpired"},
    {RASCS_Connected, "Connected"},
    {RASCS_Disconnected, "Disconnected"},
};

// The states of a dial, in order, and their default delays per device type.
const TRasConnState kSequence[] = {
    RASCS_OpenPort,     RASCS_PortOpened, RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_AllDevicesConnected,
    RASCS_Authenticate, RASCS_AuthNotify, RASCS_AuthProject,   RASCS_Authenticated,   RASCS_Connected};
const uint32_t kModemDelays[] = {200, 300, 600, 500, 200, 300, 300, 300, 200, 200};
const uint32_t kIsdnDelays[] = {200, 200, 300, 200, 200, 300, 300, 300, 200, 200};
const uint32_t kVpnDelays[] = {100, 100, 300, 200, 200, 300, 300, 300, 200, 200};

struct OutcomeInfo {
  const char* name;
  DWORD error;
  TRasConnState state;
};
const OutcomeInfo kOutcomes[] = {
    {"busy", ERROR_LINE_BUSY, RASCS_ConnectDevice},
    {"noanswer", ERROR_NO_ANSWER, RASCS_ConnectDevice},
    {"nocarrier", ERROR_NO_CARRIER, RASCS_ConnectDevice},
    {"nodialtone", ERROR_NO_DIALTONE, RASCS_ConnectDevice},
    {"voice", ERROR_VOICE_ANSWER, RASCS_ConnectDevice},
    {"authfail", ERROR_AUTHENTICATION_FAILURE, RASCS_Authenticate},
    {"portunavailable", ERROR_PORT_NOT_AVAILABLE, RASCS_OpenPort},
    {"hardware", ERROR_HARDWARE_FAILURE, RASCS_DeviceConnected},
    {"timeout", ERROR_PPP_TIMEOUT, RASCS_AuthProject},
};

TRasConnState DefaultStateFor(DWORD error) {
  switch (error) {
    case ERROR_PORT_NOT_AVAILABLE:
    case ERROR_PORT_ALREADY_OPEN:
    case ERROR_DEVICE_DOES_NOT_EXIST:
    case ERROR_PORT_NOT_FOUND:
      return RASCS_OpenPort;
    case ERROR_AUTHENTICATION_FAILURE:
    case ERROR_RESTRICTED_LOGON_HOURS:
    case ERROR_ACCT_DISABLED:
    case ERROR_PASSWD_EXPIRED:
    case ERROR_NO_DIALIN_PERMISSION:
    case ERROR_ACCT_EXPIRED:
    case ERROR_AUTH_INTERNAL:
      return RASCS_Authenticate;
    default:
      return RASCS_ConnectDevice;
  }
}

bool ParseBool(const std::string& v, bool fallback) {
  std::string s = ToLowerAscii(Trim(v));
  if (s == "1" || s == "yes" || s == "on" || s == "true") return true;
  if (s == "0" || s == "no" || s == "off" || s == "false") return false;
  return fallback;
}

const std::string* Get(const Settings& s, const std::string& key) {
  auto it = s.find(key);
  return it == s.end() ? nullptr : &it->second;
}

}  // namespace

std::map<TRasConnState, uint32_t>& DelayOverrides() {
  static std::map<TRasConnState, uint32_t> overrides;
  return overrides;
}

bool ParseState(const std::string& text, TRasConnState& state) {
  std::string name = Trim(text);
  if (name.rfind("RASCS_", 0) == 0) name = name.substr(6);
  for (const StateInfo& s : kStates)
    if (ToLowerAscii(name) == ToLowerAscii(s.name)) {
      state = s.state;
      return true;
    }
  uint64_t v;
  if (ParseUInt(name, v) && v <= 0xFFFFFFFFu) {
    state = static_cast<TRasConnState>(v);
    return true;
  }
  return false;
}

const char* StateName(TRasConnState state) {
  for (const StateInfo& s : kStates)
    if (s.state == state) return s.name;
  return "Unknown";
}

bool ParseDuration(const std::string& text, uint64_t bareUnitMs, uint64_t& ms) {
  std::string s = ToLowerAscii(Trim(text));
  uint64_t unit = bareUnitMs;
  auto ends = [&](const char* suf) {
    size_t n = std::char_traits<char>::length(suf);
    return s.size() > n && s.compare(s.size() - n, n, suf) == 0;
  };
  if (ends("ms")) {
    unit = 1;
    s.resize(s.size() - 2);
  } else if (ends("s")) {
    unit = 1000;
    s.pop_back();
  } else if (ends("m")) {
    unit = 60000;
    s.pop_back();
  }
  s = Trim(s);
  if (s.empty()) return false;
  size_t dot = s.find('.');
  uint64_t whole = 0, frac = 0, fracScale = 1;
  if (!ParseUInt(dot == std::string::npos ? s : s.substr(0, dot), whole)) return false;
  if (dot != std::string::npos) {
    std::string f = s.substr(dot + 1);
    if (f.empty() || f.size() > 6 || !ParseUInt(f, frac) || f.find_first_not_of("0123456789") != std::string::npos)
      return false;
    for (size_t i = 0; i < f.size(); ++i) fracScale *= 10;
  }
  if (whole > UINT32_MAX) return false;
  ms = whole * unit + frac * unit / fracScale;
  return true;
}

bool ParseOutcome(const std::string& text, DWORD& error, TRasConnState& defaultState) {
  std::string s = ToLowerAscii(Trim(text));
  if (s == "connect" || s == "connected" || s == "ok") {
    error = 0;
    defaultState = RASCS_Connected;
    return true;
  }
  for (const OutcomeInfo& o : kOutcomes)
    if (s == o.name) {
      error = o.error;
      defaultState = o.state;
      return true;
    }
  uint64_t v;
  if (ParseUInt(s, v) && v > 0 && v <= 0xFFFF) {
    error = static_cast<DWORD>(v);
    defaultState = DefaultStateFor(error);
    return true;
  }
  return false;
}

std::string CheckSetting(const std::string& key, const std::string& value) {
  uint64_t v = 0;
  TRasConnState state;
  DWORD error;
  const char* const kDuration = "not a duration (250ms, 1.5s, 2m; never negative)";
  if (key == "StepDelay" || key == "ErrorDelay" || key == "Teardown") {
    return ParseDuration(value, 1, v) && v <= UINT32_MAX ? "" : kDuration;
  }
  if (key.rfind("Delay.", 0) == 0) {
    if (!ParseState(key.substr(6), state)) return "unknown state '" + key.substr(6) + "'";
    return ParseDuration(value, 1, v) && v <= UINT32_MAX ? "" : kDuration;
  }
  if (key == "DropAfter") return ParseDuration(value, 1000, v) ? "" : kDuration;
  if (key == "Outcome")
    return ParseOutcome(value, error, state) ? "" : "not an outcome (connect, busy, ... or a number)";
  if (key == "FailState") return ParseState(value, state) ? "" : "not a connection state";
  if (key == "FailFirst") return ParseUInt(Trim(value), v) ? "" : "not a whole number";
  if (key == "DialError") return ParseUInt(Trim(value), v) && v > 0 && v <= 0xFFFF ? "" : "not an error number";
  if (key == "RepeatStateOnError" || key == "ConnectionWindow") {
    const std::string b = ToLowerAscii(Trim(value));
    return b == "1" || b == "yes" || b == "on" || b == "true" || b == "0" || b == "no" || b == "off" || b == "false"
               ? ""
               : "not yes or no";
  }
  if (key == "RequireUser" || key == "RequirePassword" || key == "IpAddress" || key == "ServerIpAddress") return "";
  std::string why;
  if (CheckLineSetting(key, value, why)) return why;
  return "unknown key";
}

Settings GatherSettings(const IniSection* entry, const std::string& entryName, std::string* problem) {
  Settings out;
  std::string found;  // the first mistake
  const auto check = [&](const std::string& where, const std::string& key, const std::string& value) {
    if (!found.empty()) return;
    const std::string why = CheckSetting(key, value);
    if (!why.empty()) found = where + ": " + key + "=" + value + ": " + why;
  };
  if (entry)
    for (const IniLine& l : entry->lines)
      if (l.kind == IniLine::Key && l.key.size() > 4 && l.key.compare(0, 4, "Quor") == 0) {
        out[l.key.substr(4)] = Trim(l.value);
        check("the phonebook entry [" + entry->name + "]", l.key.substr(4), Trim(l.value));
      }
  std::string path = platform::GetEnv("QUOR_RAS_SCENARIO");
  if (!path.empty()) {
    std::string text, why;
    IniDocument doc;
    const platform::ReadResult read = platform::ReadFile(path, text);
    if (read == platform::ReadResult::NotFound) {
      if (found.empty()) found = "the scenario " + path + " does not exist";
    } else if (read != platform::ReadResult::Ok) {
      if (found.empty()) found = "the scenario " + path + " cannot be read";
    } else if (!doc.Parse(text, &why)) {
      if (found.empty()) found = "the scenario " + path + ": " + why;
    } else {
      for (const IniSection& s : doc.Sections())
        if (s.name == "*")
          for (const IniLine& l : s.lines)
            if (l.kind == IniLine::Key) out[l.key] = Trim(l.value);
      if (const IniSection* s = doc.Find(entryName))
        if (s->name != "*")
          for (const IniLine& l : s->lines)
            if (l.kind == IniLine::Key) out[l.key] = Trim(l.value);
      // The keys of the sections that apply, with their line numbers (the
      // file parsed, so every line is blank, a comment, a header or a key).
      bool applies = false;
      size_t lineNo = 0, pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
      while (pos < text.size() && found.empty()) {
        const size_t nl = text.find('\n', pos);
        const std::string line = Trim(text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
        pos = nl == std::string::npos ? text.size() : nl + 1;
        ++lineNo;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
          const std::string name = Trim(line.substr(1, line.size() - 2));
          applies = name == "*" || SameName(name, entryName);
          continue;
        }
        const size_t eq = line.find('=');
        if (applies && eq != std::string::npos) {
          check("the scenario " + path + ": line " + std::to_string(lineNo), Trim(line.substr(0, eq)),
                Trim(line.substr(eq + 1)));
        }
      }
    }
  }
  if (problem) *problem = found;
  return out;
}

DialPlan BuildPlan(const Settings& settings, const std::string& deviceType, uint64_t attempt, const std::string& user,
                   std::string_view password, const QueuedFailure* queued) {
  DialPlan plan;
  const uint32_t* defaults = kModemDelays;
  if (SameName(deviceType, "isdn")) defaults = kIsdnDelays;
  if (SameName(deviceType, "vpn")) defaults = kVpnDelays;
  const size_t n = sizeof kSequence / sizeof kSequence[0];

  uint32_t delays[n];
  const auto& over = DelayOverrides();
  uint64_t v;
  const std::string* every = Get(settings, "StepDelay");
  for (size_t i = 0; i < n; ++i) {
    delays[i] = defaults[i];
    if (auto it = over.find(0xFFFFFFFFu); it != over.end()) delays[i] = it->second;
    if (auto it = over.find(kSequence[i]); it != over.end()) delays[i] = it->second;
    if (every && ParseDuration(*every, 1, v) && v <= UINT32_MAX) delays[i] = static_cast<uint32_t>(v);
    if (const std::string* d = Get(settings, std::string("Delay.") + StateName(kSequence[i])))
      if (ParseDuration(*d, 1, v) && v <= UINT32_MAX) delays[i] = static_cast<uint32_t>(v);
  }
  uint32_t errorDelay = 500;
  if (const std::string* d = Get(settings, "ErrorDelay"))
    if (ParseDuration(*d, 1, v) && v <= UINT32_MAX) errorDelay = static_cast<uint32_t>(v);
  bool repeat = true;
  if (const std::string* r = Get(settings, "RepeatStateOnError")) repeat = ParseBool(*r, true);
  if (const std::string* w = Get(settings, "ConnectionWindow")) plan.connectionWindow = ParseBool(*w, true);
  if (const std::string* t = Get(settings, "Teardown"))
    if (ParseDuration(*t, 1, v) && v <= UINT32_MAX) plan.teardownMs = static_cast<uint32_t>(v);
  if (const std::string* d = Get(settings, "DropAfter"))
    if (ParseDuration(*d, 1000, v)) plan.dropAfterMs = v;
  if (const std::string* ip = Get(settings, "IpAddress")) plan.ipAddress = *ip;
  if (const std::string* ip = Get(settings, "ServerIpAddress")) plan.serverIpAddress = *ip;
  plan.line = ReadLine(settings, deviceType);

  // Does this attempt fail, and how?
  bool failing = true;
  if (const std::string* k = Get(settings, "FailFirst")) {
    uint64_t kk;
    if (ParseUInt(*k, kk)) failing = attempt <= kk;
  }
  DWORD error = 0;
  TRasConnState failState = RASCS_Connected;
  if (failing) {
    if (const std::string* e = Get(settings, "DialError")) {
      uint64_t ev;
      if (ParseUInt(*e, ev) && ev > 0 && ev <= 0xFFFF) {
        plan.failAtOnce = static_cast<DWORD>(ev);
        return plan;
      }
    }
    if (const std::string* o = Get(settings, "Outcome")) ParseOutcome(*o, error, failState);
    if (error)
      if (const std::string* fs = Get(settings, "FailState")) ParseState(*fs, failState);
  }
  const std::string* needUser = Get(settings, "RequireUser");
  const std::string* needPassword = Get(settings, "RequirePassword");
  if (!error && ((needUser && *needUser != user) || (needPassword && *needPassword != password))) {
    error = ERROR_AUTHENTICATION_FAILURE;
    failState = RASCS_Authenticate;
  }
  if (queued) {
    if (queued->state == 0xFFFFFFFFu) {
      plan.failAtOnce = queued->error;
      return plan;
    }
    error = queued->error;
    failState = queued->state;
  }

  for (size_t i = 0; i < n; ++i) {
    TRasConnState s = kSequence[i];
    if (error && s == failState) {
      if (repeat) {
        plan.steps.push_back({s, delays[i], 0});
        plan.steps.push_back({s, errorDelay, error});
      } else {
        plan.steps.push_back({s, delays[i], error});
      }
      return plan;
    }
    if (error && s == RASCS_Connected) {
      // The failing state is not one of the dial's own: report it where the dial would have ended.
      plan.steps.push_back({failState, delays[i], error});
      return plan;
    }
    plan.steps.push_back({s, delays[i], 0});
  }
  plan.connects = true;
  return plan;
}

}  // namespace rassim
