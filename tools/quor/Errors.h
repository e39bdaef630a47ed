// The errors that end a quor command.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace quortool {

// Wrong command line: reported with a hint to the command's --help, exit 2.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// The command could not do its work; carries the exit code and, when RAS
// refused, RAS's error number and text.
class Failure : public std::runtime_error {
 public:
  Failure(int exitCode, const std::string& message, uint32_t rasError = 0, std::string rasText = std::string())
      : std::runtime_error(message), fExitCode(exitCode), fRasError(rasError), fRasText(std::move(rasText)) {}
  int ExitCode() const { return fExitCode; }
  uint32_t RasError() const { return fRasError; }
  const std::string& RasText() const { return fRasText; }

 private:
  int fExitCode;
  uint32_t fRasError;
  std::string fRasText;
};

}  // namespace quortool
