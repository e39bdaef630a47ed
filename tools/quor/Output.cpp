// Output in text or JSON and the --log file, texts made fit for one line of a
// terminal, entry names compared as RAS compares them, and the console
// presenter of the component's messages.
#include "tools/quor/Output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/quor/Cli.h"
#include "tools/quor/Errors.h"
#include "tools/quor/Platform.h"

namespace quortool {

// ---------------------------------------------------------------- output

OutputSettings& GlobalOutput() {
  static OutputSettings settings;
  return settings;
}

std::string WallClock() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char buf[40] = {0};
  if (const std::tm* local = std::localtime(&seconds)) std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", local);
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03d", buf, static_cast<int>(ms));
  return out;
}

void OpenLog(const std::string& path) {
  if (path.empty()) throw UsageError("option '--log' needs a file name");
  std::FILE* file = platform::OpenLogFile(path);
  if (file == nullptr) {
    throw Failure(kExitFailed, "cannot open the log file " + path + ": " + std::strerror(errno));
  }
  GlobalOutput().log = file;
}

namespace {

// The line goes to the stream after its stamp, and to the log as `logged` (the line itself when null).
void Write(std::FILE* stream, const std::string& text, const std::string& stamp = std::string(),
           const std::string* logged = nullptr) {
  const std::string line = stamp + text + "\n";
  errno = 0;
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size() && std::fflush(stream) == 0;
  if (!written && stream == stdout && GlobalOutput().writeError == 0) {
    // Said once at the end (standard error still works), and a dial hangs up.
    GlobalOutput().writeError = errno != 0 ? errno : EIO;
  }
  if (std::FILE* log = GlobalOutput().log) {
    const std::string entry = WallClock() + " " + (logged ? *logged : text) + "\n";
    std::fwrite(entry.data(), 1, entry.size(), log);
    std::fflush(log);
  }
}

}  // namespace

void Output::Line(const std::string& text) {
  Write(stdout, text);
}

void Output::Secret(const std::string& text, const std::string& logged) {
  Write(stdout, text, std::string(), &logged);
}

void Output::Progress(const std::string& text, const std::string& stamp) {
  if (!GlobalOutput().quiet) Write(stdout, text, stamp);
}

void Output::Object(const JsonObject& object) {
  Line(object.Text());
}

void Output::Error(const std::string& text) {
  Write(stderr, "quor: " + text);
}

void Output::Note(const std::string& text) {
  if (!GlobalOutput().quiet) Write(stderr, "quor: note: " + text);
}

void Output::Warning(const std::string& text) {
  Write(stderr, "quor: warning: " + text);
}

void Output::Verbose(const std::string& text) {
  if (GlobalOutput().verbose) Write(stderr, "quor: " + text);
}

// ---------------------------------------------------------------- presenter

void ConsolePresenter::ShowMessage(const String& Msg) {
  fMessages.push_back(Msg);
  if (!fHeld) fOut.Error(Msg);
}

int ConsolePresenter::MessageDlg(const String& Msg, TMsgDlgType, TMsgDlgButtons Buttons, int) {
  fMessages.push_back(Msg);
  if (!fHeld) fOut.Error(Msg);
  if (Buttons & (1u << mbOK)) return mrOk;
  if (Buttons & (1u << mbCancel)) return mrCancel;
  return mrNone;
}

// ---------------------------------------------------------------- names

namespace {

// Decodes one UTF-8 sequence at text[i]; a byte that starts none is taken
// as it is (an ANSI name compares byte for byte).
char32_t NextCodePoint(const std::string& text, size_t& i, bool& valid) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  valid = length != 0 && i + length <= text.size();
  char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
  for (size_t k = 1; valid && k < length; ++k) {
    valid = (byte(i + k) & 0xC0u) == 0x80u;
    c = (c << 6) | (byte(i + k) & 0x3Fu);
  }
  if (!valid) {
    ++i;
    return lead;
  }
  i += length;
  return c;
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    bool valid = true;
    const char32_t c = NextCodePoint(text, i, valid);
    char buf[12];
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
      out += buf;
    } else if (valid && c >= 0x80 && c <= 0x9F) {
      // A C1 control, which a terminal takes as a command as it does ESC.
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out.append(text, at, i - at);
    }
  }
  return out;
}

std::string DisplayName(const std::string& name) {
  std::string out = Printable(name);
  // Blanks at either end would be invisible: " Office" must not read as "Office".
  size_t lead = 0;
  while (lead < out.size() && out[lead] == ' ') ++lead;
  size_t trail = 0;
  while (trail < out.size() - lead && out[out.size() - 1 - trail] == ' ') ++trail;
  std::string edges;
  for (size_t k = 0; k < lead; ++k) edges += "\\x20";
  std::string tail;
  for (size_t k = 0; k < trail; ++k) tail += "\\x20";
  return edges + out.substr(lead, out.size() - lead - trail) + tail;
}

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    bool valid = true;
    const char32_t c = NextCodePoint(text, i, valid);
    // Combining marks take no column of their own; East Asian wide letters take two.
    if (valid && c >= 0x300 && c <= 0x36F) continue;
    width += valid && ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                       (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0x1F300 && c <= 0x1FAFF))
                 ? 2
                 : 1;
  }
  return width;
}

std::string FoldName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size();) {
    bool valid = true;
    char32_t c = NextCodePoint(name, i, valid);
    if (!valid) {
      out += static_cast<char>(c);
      continue;
    }
    // RAS compares entry names without regard to case in the Latin, Greek
    // and Cyrillic alphabets.
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F)) {
      c += 32;
    } else if (c >= 0x400 && c <= 0x40F) {
      c += 80;
    }
    AppendUtf8(c, out);
  }
  return out;
}

}  // namespace quortool
