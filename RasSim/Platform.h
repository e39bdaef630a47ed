// The few operating-system services the simulated RAS service needs, behind
// one narrow interface. One source file per platform implements it
// (Platform_linux.cpp, Platform_windows.cpp); nothing else in RasSim tests
// which platform it runs on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rassim::platform {

// Value of an environment variable; empty when unset.
std::string GetEnv(const char* name);

// Per-user folder for the default phonebook and credential file
// (Linux: $XDG_CONFIG_HOME/quor or ~/.config/quor; Windows: %APPDATA%\Quor).
std::string DefaultConfigDir();
// Per-user folder for volatile state: connection registry, handle counter,
// attempt counters (Linux: $XDG_RUNTIME_DIR/quor-ras or /tmp/quor-ras-<uid>;
// Windows: %LOCALAPPDATA%\Quor\RasState or %TEMP%\quor-ras).
std::string DefaultStateDir();

// Path helpers.
char PathSeparator();
std::string JoinPath(const std::string& dir, const std::string& name);
std::string DirName(const std::string& path);
// Absolute form of a path (for keying); the path itself when it cannot be made absolute.
std::string AbsolutePath(const std::string& path);

// Creates a folder and its parents. privateDir: readable by the owner only.
bool MakeDirs(const std::string& path, bool privateDir);

enum class ReadResult { Ok, NotFound, CannotOpen, CannotRead };
// Reads a whole file.
ReadResult ReadFile(const std::string& path, std::string& contents);

// Replaces a file atomically: writes a temporary file in the same folder,
// flushes it (to disk when durable), then renames it over the target. The
// file is created readable by its owner only when privateFile is set. On
// failure the target is unchanged and no temporary file is left behind.
bool WriteFileAtomic(const std::string& path, const std::string& contents, bool privateFile, bool durable);

bool RemoveFile(const std::string& path);
bool FileExists(const std::string& path);
// True when the file exists and nobody but its owner may read it.
bool FileIsPrivate(const std::string& path);
// Names (not paths) of the plain files in a folder.
std::vector<std::string> ListFiles(const std::string& dir);

// An exclusive advisory lock on a lock file, shared by every process of the
// machine. Blocks until the lock is had. Released by the destructor.
class FileLock {
 public:
  explicit FileLock(const std::string& lockPath);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return held_; }

 private:
  intptr_t handle_ = -1;
  bool held_ = false;
};

uint32_t CurrentProcessId();
// True while a process of that id exists.
bool ProcessAlive(uint32_t pid);
// Numeric user id for naming per-user folders ("0" where there is none).
std::string UserTag();

// Interactive prompts on the controlling terminal. StdinIsTerminal tells
// whether standard input is a terminal; PromptLine shows the prompt there and
// reads one line (false at end of input).
bool StdinIsTerminal();
bool PromptLine(const std::string& prompt, std::string& answer);

}  // namespace rassim::platform
