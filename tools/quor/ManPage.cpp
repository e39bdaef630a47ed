// The manual page (roff), made from the command table.
#include "tools/quor/ManPage.h"

#include <algorithm>

#include "tools/quor/CommandTable.h"

#ifndef QUOR_VERSION
#define QUOR_VERSION "0.0.0"
#endif

namespace quortool {

namespace {

// Text safe for roff: backslashes and hyphens escaped, no line starting
// with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c == '\n') {
      out += "\n";
    } else {
      out += c;
    }
  }
  std::string safe;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) safe += "\\&";
    safe += line;
    if (end < out.size()) safe += "\n";
    start = end + 1;
  }
  return safe;
}

std::string RoffParagraphs(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i <= text.size()) {
    size_t end = text.find("\n\n", i);
    if (end == std::string::npos) end = text.size();
    if (!out.empty()) out += ".PP\n";
    out += Roff(text.substr(i, end - i)) + "\n";
    i = end + 2;
  }
  return out;
}

std::string RoffOptions(const std::vector<OptionSpec>& options) {
  std::string out;
  for (const auto& o : options) {
    out += ".TP\n.B " + Roff(o.shortName != nullptr ? std::string(o.shortName) + ", " + o.name : o.name);
    if (o.value != nullptr) out += std::string(" \\fI") + Roff(o.value) + "\\fR";
    out.append(1, '\n').append(Roff(o.help)).append(1, '\n');
  }
  return out;
}

}  // namespace

std::string ManPage() {
  std::string text = ".TH QUOR 1 \"\" \"quor " QUOR_VERSION "\" \"User Commands\"\n";
  text += ".SH NAME\nquor \\- dial and manage RAS phonebook entries\n";
  text += ".SH SYNOPSIS\n.B quor\n\\fICOMMAND\\fR [\\fIARGUMENTS\\fR] [\\fIOPTIONS\\fR]\n";
  text += ".SH DESCRIPTION\n" +
          Roff(
              "quor dials and manages the entries of the RAS phonebook through the TQuor component, and lists, "
              "inspects and hangs up the active connections of the whole machine.") +
          "\n";
  std::vector<std::string> sections;
  for (const auto& c : CommandTable()) {
    if (std::find(sections.begin(), sections.end(), c.section) == sections.end()) sections.push_back(c.section);
  }
  text += ".SH COMMANDS\n";
  for (const auto& section : sections) {
    text += ".SS " + Roff(section) + "\n";
    for (const auto& c : CommandTable()) {
      if (section != c.section) continue;
      text += ".TP\n.B " + Roff(std::string("quor ") + c.name);
      if (*c.arguments != 0) text += std::string(" \\fI") + Roff(c.arguments) + "\\fR";
      if (!c.options.empty()) text += " [\\fIOPTIONS\\fR]";
      text.append(1, '\n').append(RoffParagraphs(c.description));
      if (!c.options.empty()) text += ".RS\n" + RoffOptions(c.options) + ".RE\n";
    }
  }
  text += ".SH OPTIONS OF EVERY COMMAND\n" + RoffOptions(CommonOptions());
  text += ".PP\n" + Roff(kPasswordNote) + "\n";
  text += ".SH ENVIRONMENT\n";
  for (const auto& v : EnvironmentVariables()) text += ".TP\n.B " + Roff(v.name) + "\n" + Roff(v.meaning) + "\n";
  text += ".SH EXIT STATUS\n";
  for (const auto& e : ExitCodes()) text += ".TP\n.B " + std::to_string(e.code) + "\n" + Roff(e.meaning) + "\n";
  return text;
}

}  // namespace quortool
