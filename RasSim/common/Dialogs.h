// The "dialogs" of RasCreatePhonebookEntry and RasEditPhonebookEntry. They are
// shown modally through a replaceable presenter:
//   1. answers set through QuorRasSimSetDialogAnswers (scripted);
//   2. else, when QUOR_RAS_DIALOG is set, the answers file it names ("none",
//      a missing or unreadable file: the user cancels);
//   3. else, when standard input is a terminal, prompts on the terminal;
//   4. else the user cancels (no one to ask).
// Answers text: `Key=Value` lines (';' or '#' start a comment; a `[...]` line is
// ignored): EntryName, PhoneNumber, Device (a device type or name), Cancel=yes.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace rassim::dialogs {

struct Request {
  bool create = true;
  std::string entry, phone, device;  // current values when editing
  // Checks of an answer typed on a terminal: "" when it will do, else the
  // reason, shown before the same question is asked again.
  std::function<std::string(const std::string&)> checkName, checkDevice;
};

struct Answers {
  std::optional<std::string> entry, phone, device;
};

// False when the user cancelled.
bool Show(const Request& request, Answers& answers);

// Scripted answers (null: none). False when the text cannot be understood.
bool SetScript(const char* text);

// Parses answers text; false when it is not answers text.
bool ParseAnswers(const std::string& text, Answers& answers, bool& cancel);

}  // namespace rassim::dialogs
