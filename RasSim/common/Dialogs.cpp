#include "RasSim/common/Dialogs.h"

#include <mutex>

#include "RasSim/common/Platform.h"
#include "RasSim/common/Stores.h"
#include "RasSim/common/Text.h"

namespace rassim::dialogs {

namespace {

std::mutex g_mutex;
bool g_haveScript = false;
std::string g_script;

bool Prompt(const std::string& label, const std::string& current, std::string& out) {
  std::string text = current.empty() ? label + ": " : label + " [" + current + "]: ";
  std::string line;
  if (!platform::PromptLine(text, line)) return false;
  line = Trim(line);
  out = line.empty() ? current : line;
  return true;
}

// Asks until the answer passes the check (or the terminal ends: cancel).
bool PromptChecked(const std::string& label, const std::string& current,
                   const std::function<std::string(const std::string&)>& check, std::string& out) {
  std::string reason;
  for (;;) {
    if (!Prompt(reason.empty() ? label : reason + "\n" + label, current, out)) return false;
    if (out.empty() || !check) return true;
    reason = check(out);
    if (reason.empty()) return true;
  }
}

bool AskTerminal(const Request& r, Answers& a) {
  std::string entry, phone, device;
  if (!PromptChecked(r.create ? "New entry name" : "Entry name", r.entry, r.checkName, entry) || entry.empty())
    return false;
  if (!Prompt("Phone number or host", r.phone, phone)) return false;
  if (!PromptChecked("Device (modem, isdn, vpn)", r.device.empty() ? std::string("modem") : r.device, r.checkDevice,
                     device))
    return false;
  a.entry = entry;
  a.phone = phone;
  a.device = device;
  return true;
}

bool FromText(const std::string& text, Answers& a) {
  bool cancel = false;
  if (!ParseAnswers(text, a, cancel)) return false;
  return !cancel;
}

}  // namespace

bool ParseAnswers(const std::string& text, Answers& a, bool& cancel) {
  a = Answers();
  cancel = false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = Trim(text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string key = ToLowerAscii(Trim(line.substr(0, eq)));
    std::string value = Trim(line.substr(eq + 1));
    if (key == "entryname" || key == "entry")
      a.entry = value;
    else if (key == "phonenumber" || key == "phone")
      a.phone = value;
    else if (key == "device")
      a.device = value;
    else if (key == "cancel")
      cancel = ToLowerAscii(value) != "no" && value != "0";
    else
      return false;
  }
  return true;
}

bool SetScript(const char* text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!text) {
    g_haveScript = false;
    g_script.clear();
    return true;
  }
  Answers probe;
  bool cancel;
  if (!ParseAnswers(text, probe, cancel)) return false;
  g_haveScript = true;
  g_script = text;
  return true;
}

bool Show(const Request& request, Answers& answers) {
  answers = Answers();
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_haveScript) return FromText(g_script, answers);
  }
  // Why the user "cancelled" when nobody could answer is told through the
  // control interface (QuorRasSimLastProblem).
  std::string path = platform::GetEnv("QUOR_RAS_DIALOG");
  if (!path.empty()) {
    std::string text;
    if (path == "none") {
      NoteProblem("the dialog was answered with Cancel (QUOR_RAS_DIALOG=none)");
      return false;
    }
    if (platform::ReadFile(path, text) != platform::ReadResult::Ok) {
      NoteProblem("the dialog answers file " + path + " (QUOR_RAS_DIALOG) cannot be read");
      return false;
    }
    bool cancel = false;
    if (!ParseAnswers(text, answers, cancel)) {
      NoteProblem("the dialog answers file " + path + " is not valid (keys: EntryName, PhoneNumber, Device, Cancel)");
      return false;
    }
    if (cancel) NoteProblem("the dialog answers file " + path + " says Cancel=yes");
    return !cancel;
  }
  if (platform::StdinIsTerminal()) return AskTerminal(request, answers);
  NoteProblem("nobody can answer the dialog: no terminal, and no answers file in QUOR_RAS_DIALOG");
  return false;
}

}  // namespace rassim::dialogs
