// Output in text or JSON, the --log file, texts made fit for a line of a
// terminal, and the console presenter of the component's messages.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "TQuorComponent/TQuorComponent.h"
#include "tools/quor/Json.h"

namespace quortool {

// How this run prints, from the options every command takes.
struct OutputSettings {
  bool json = false;
  bool quiet = false;
  bool verbose = false;
  std::FILE* log = nullptr;  // --log FILE: every line, with the date and time
  int writeError = 0;        // errno of the first write to standard output that failed
};
OutputSettings& GlobalOutput();
// Opens the --log file for appending; throws Failure when it cannot.
void OpenLog(const std::string& path);
// The local date and time with milliseconds ("2026-12-08 13:45:01.123").
std::string WallClock();
// A name or text for a one-line message: control characters (a newline in
// an entry name) written as \n, \t, \xNN.
// C1 controls (U+0080-U+009F) are written as \uNNNN.
std::string Printable(const std::string& text);
// An entry name on a line of its own: Printable, and blanks at its ends
// written as \x20 so that " Office" and "Office" cannot be taken for one.
std::string DisplayName(const std::string& name);
// The columns a terminal gives the text (UTF-8; wide letters take two).
size_t DisplayWidth(const std::string& text);

// Standard output carries results and events; standard error carries
// "quor: ..." messages. Every line is flushed at once so that a reader of a
// pipe or file sees events as they happen.
class Output {
 public:
  explicit Output(bool json) : fJson(json) {}
  bool Json() const { return fJson; }
  // A result: always printed.
  void Line(const std::string& text);
  // A result holding a secret: printed, but the log gets `logged` instead.
  void Secret(const std::string& text, const std::string& logged);
  // A progress or confirmation line: left out with --quiet. A stamp goes
  // before the text on standard output only (the log line has its own time).
  void Progress(const std::string& text, const std::string& stamp = std::string());
  void Object(const JsonObject& object);
  void Error(const std::string& text);
  // "quor: note: ..."; left out with --quiet.
  void Note(const std::string& text);
  // "quor: warning: ..."; shown even with --quiet.
  void Warning(const std::string& text);
  // Only with --verbose.
  void Verbose(const std::string& text);

 private:
  bool fJson;
};

// Modal message boxes of the component (and the host framework) become
// "quor: <text>" lines on standard error; dialogs answer with their default
// button, since nobody can click on a console. While held, messages are only
// kept (the tool then says the same thing better itself).
class ConsolePresenter final : public TMessagePresenter {
 public:
  explicit ConsolePresenter(Output& out) : fOut(out) {}
  void ShowMessage(const String& Msg) override;
  int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) override;
  size_t Count() const { return fMessages.size(); }
  const std::vector<std::string>& Messages() const { return fMessages; }
  void Hold(bool held) { fHeld = held; }

 private:
  Output& fOut;
  std::vector<std::string> fMessages;
  bool fHeld = false;
};

// An entry name folded as RAS compares names (Latin, Greek, Cyrillic letters).
std::string FoldName(const std::string& name);

}  // namespace quortool
