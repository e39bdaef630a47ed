// Texts made fit for one line of a terminal, entry names compared as RAS
// compares them, and the console presenter of the component's messages.
#include <cstdio>

#include "tools/quor/Commands.h"

namespace quortool {

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
