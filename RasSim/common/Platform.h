// The few operating-system services the simulated RAS service needs, behind
// one narrow interface. One source file per platform implements it
// (Platform_linux.cpp, Platform_windows.cpp); nothing else in RasSim tests
// which platform it runs on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Win32/Win32.h"

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

// The service's own hold on an event an application handed to it: signalling
// the held handle signals the application's event, and the application may
// close its handle meanwhile without its value, reused for a new object,
// being signalled in its place. 0 when the event cannot be held. Where handle
// values are never reused (the Linux subset) the hold is the handle itself.
HANDLE HoldEvent(HANDLE event);
void ReleaseEvent(HANDLE held);

// Path helpers.
char PathSeparator();
std::string JoinPath(const std::string& dir, const std::string& name);
std::string DirName(const std::string& path);
// Absolute form of a path (for keying); the path itself when it cannot be made absolute.
std::string AbsolutePath(const std::string& path);
// The one name of the file a path leads to, however it is spelled: absolute,
// without "." or ".." and, where the file exists, with every symbolic link
// followed (Windows: the full path of the final file). For telling files apart.
std::string CanonicalPath(const std::string& path);

// Whether a folder may hold the user's files: absent (it will be made
// private), or a folder, no symbolic link, the user's own, that no one else
// may write to. Otherwise false with the reason in `why` (always true where
// the system protects per-user folders itself).
bool OwnFolder(const std::string& path, std::string& why);

// Creates a folder and its parents. privateDir: readable by the owner only.
bool MakeDirs(const std::string& path, bool privateDir);

enum class ReadResult { Ok, NotFound, CannotOpen, CannotRead, NotAFile };
// Reads a whole file. A named pipe or device at the path is not opened for
// reading (NotAFile), a folder cannot be read (CannotRead).
ReadResult ReadFile(const std::string& path, std::string& contents);
// What tells one version of a file from the next without reading it: its
// size, modification time, change time (set by the system at every write,
// rename or change of the times, which no program can date back) and
// identity (the file a path leads to). Times in nanoseconds.
struct FileStamp {
  uint64_t size = 0;
  uint64_t modified = 0;
  uint64_t changed = 0;
  uint64_t id = 0;
  uint64_t device = 0;
  bool operator==(const FileStamp&) const = default;
};
// False when there is no such file, or when it changed so recently that a
// change within the file system's clock tick could go unseen (StampSettled).
bool StampOfFile(const std::string& path, FileStamp& out);

// Whether a stamp read at `nowNs` (the clock of the file times) is settled:
// every later change of the file gives another stamp. A file system keeps its
// times in ticks, and two versions written within one tick can have the same
// stamp (a rewrite of the same length; a new file that got the identity the
// replaced one freed). The tick is read off the change time, which only the
// system sets: one with a sub-second part comes from a fine clock; a whole
// second may be the whole tick (ext4 with small inodes keeps seconds, FAT
// two), so such a stamp is trusted only once two seconds have passed. A
// margin covers the system's coarse clock, which lags the one read here by a
// few milliseconds.
inline bool StampSettled(const FileStamp& stamp, uint64_t nowNs) {
  constexpr uint64_t kSecond = 1000000000ull;
  constexpr uint64_t kMargin = 50000000ull;
  const uint64_t newest = stamp.modified > stamp.changed ? stamp.modified : stamp.changed;
  const uint64_t tick = stamp.changed % kSecond == 0 ? 2 * kSecond : 0;
  return nowNs > newest + tick + kMargin;
}

// Replaces a file atomically: writes a temporary file in the same folder,
// flushes it (to disk when durable), then renames it over the target. The
// file is readable by its owner only when privateFile is set; otherwise an
// existing file keeps its mode (and its owner where permitted) and a new one
// gets the usual mode. A path that is a symbolic link is written through to
// its target, and the link stays. On failure the target is unchanged and no
// temporary file is left behind. Temporary names carry the writer's process
// id and a random part, so they never collide; the caller holds the file's
// lock, and temporary files of the same file left by writers that died are
// removed first.
bool WriteFileAtomic(const std::string& path, const std::string& contents, bool privateFile, bool durable);
// The file a path finally names once symbolic links are followed (the path
// itself where there are none, or on platforms where they are not followed).
std::string ResolveLinks(const std::string& path);

class PrivateDir;
bool HoldOwnerMark(const PrivateDir& dir);
bool OwnerMarkHeld(const PrivateDir& dir, const std::string& tag);
void RemoveOwnerMarkIfGone(const PrivateDir& dir, const std::string& tag);

// A folder of private state shared by the user's processes (the connection
// registry), opened the way trusted programs treat a folder in a shared
// temporary area: created readable by its owner only, refused when it is a
// symbolic link, belongs to another user, or others may write to it; every
// file in it is reached through the opened folder, never by following a
// symbolic link, and a file not owned by the user is not trusted.
class PrivateDir {
 public:
  PrivateDir() = default;
  ~PrivateDir();
  PrivateDir(const PrivateDir&) = delete;
  PrivateDir& operator=(const PrivateDir&) = delete;

  // Opens the folder, creating it (and missing parents) when absent. False,
  // with the reason in `why`, when it cannot be created or is refused.
  bool Open(const std::string& path, std::string& why);
  bool IsOpen() const { return handle_ != -1; }
  const std::string& Path() const { return path_; }

  ReadResult Read(const std::string& name, std::string& contents) const;
  // Atomic replacement of one file, readable by its owner only.
  bool Write(const std::string& name, const std::string& contents) const;
  // Writes a small file of fixed length in place, without a new file and a
  // rename: a file of ours whose length equals that of `contents` (at most
  // 512 bytes, one disk sector) is overwritten by one write at its start,
  // which lands whole or not at all; any other file is replaced as Write
  // does. A reader that does not hold the folder's lock could see a write
  // half done: only files read under the lock are written this way.
  bool Overwrite(const std::string& name, const std::string& contents) const;
  bool Remove(const std::string& name) const;
  // Gives file `from` the name `to` (a file of that name is replaced).
  bool Rename(const std::string& from, const std::string& to) const;
  bool Exists(const std::string& name) const;
  // Names of the plain files.
  std::vector<std::string> List() const;

 private:
  friend class FileLock;
  friend bool HoldOwnerMark(const PrivateDir& dir);
  friend bool OwnerMarkHeld(const PrivateDir& dir, const std::string& tag);
  friend void RemoveOwnerMarkIfGone(const PrivateDir& dir, const std::string& tag);
  intptr_t handle_ = -1;
  std::string path_;
};

bool RemoveFile(const std::string& path);
bool FileExists(const std::string& path);
// True when the file exists and nobody but its owner may read it.
bool FileIsPrivate(const std::string& path);
// True when the file exists and is marked read-only: on Windows its read-only
// attribute, elsewhere no write permission for its owner (chmod a-w or u-w).
// WriteFileAtomic never replaces such a file.
bool FileIsReadOnly(const std::string& path);
// Names (not paths) of the plain files in a folder.
std::vector<std::string> ListFiles(const std::string& dir);

// An exclusive advisory lock on a lock file, shared by every process of the
// machine. Released by the destructor. A lock file reached by a path is
// never a symbolic link or anything but a regular file, and a lock another
// process holds is waited for a few seconds at most (QUOR_RAS_LOCK_WAIT_MS);
// such a refusal gives its reason in Why().
class FileLock {
 public:
  explicit FileLock(const std::string& lockPath);
  // The lock file `name` inside a private folder.
  FileLock(const PrivateDir& dir, const std::string& name);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return held_; }
  // Why a lock was refused ("<path>: <reason>"); empty when it was had, or
  // when the lock file could not be made (a read-only folder).
  const std::string& Why() const { return why_; }

 private:
  intptr_t handle_ = -1;
  bool held_ = false;
  std::string why_;
};

uint32_t CurrentProcessId();
// True while a process of that id exists. An id tells nothing across
// process-id namespaces, and is handed to a new process once its holder is
// gone: shared records name their owner by an owner mark instead.
bool ProcessAlive(uint32_t pid);

// Owner marks: a process's hold on a lock file "owner-<tag>" in a private
// folder, kept for the rest of its life and let go by the system when the
// process ends, however it ends. The tag is 16 random hex digits of this
// process (a new one after a fork), so it names the process in every
// process-id namespace and is never handed to another.
std::string OwnerTag();
// Makes (once per folder) and holds this process's mark in `dir`; false when
// it cannot be made. The caller holds the folder's lock, under which alone
// marks are removed (RemoveOwnerMarkIfGone), so a mark is never seen before
// it is held.
bool HoldOwnerMark(const PrivateDir& dir);
// Whether the process of `tag` still holds its mark in `dir`. A mark that is
// missing, or that nobody holds, is of a process that is gone.
bool OwnerMarkHeld(const PrivateDir& dir, const std::string& tag);
// Under the folder's lock: removes the mark of `tag` when nobody holds it.
void RemoveOwnerMarkIfGone(const PrivateDir& dir, const std::string& tag);
// Numeric user id for naming per-user folders ("0" where there is none).
std::string UserTag();

// Interactive prompts on the controlling terminal. StdinIsTerminal tells
// whether standard input is a terminal; PromptLine shows the prompt there and
// reads one line (false at end of input).
bool StdinIsTerminal();
bool PromptLine(const std::string& prompt, std::string& answer);

}  // namespace rassim::platform
