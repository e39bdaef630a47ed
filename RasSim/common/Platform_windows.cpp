// Windows implementation of the RasSim platform interface.
#include "RasSim/common/Platform.h"
#include "RasSim/common/Secret.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iostream>
#include <string>

namespace rassim::platform {

namespace {

// A reader in another process (or thread) may have the file open for a
// moment while it is being replaced, and the system then refuses the rename
// (or the open) with a sharing or access error. That is contention, not a
// failure: try again for a while before giving up.
bool Contended(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}
constexpr DWORD kContentionRetryMs = 2000;

template <class Attempt>
bool RetryWhileContended(Attempt attempt) {
  const ULONGLONG deadline = GetTickCount64() + kContentionRetryMs;
  for (;;) {
    if (attempt()) return true;
    if (!Contended(GetLastError()) || GetTickCount64() >= deadline) return false;
    ::Sleep(1);
  }
}

}  // namespace

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// The first of the named variables that is set, or the current folder.
static std::string FirstSetOrHere(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    std::string value = GetEnv(name);
    if (!value.empty()) return value;
  }
  return std::string(1, '.');
}

std::string DefaultConfigDir() {
  return JoinPath(FirstSetOrHere({"APPDATA", "USERPROFILE"}), "Quor");
}

std::string DefaultStateDir() {
  std::string local = GetEnv("LOCALAPPDATA");
  if (!local.empty()) return JoinPath(JoinPath(local, "Quor"), "RasState");
  return JoinPath(FirstSetOrHere({"TEMP"}), "quor-ras");
}

HANDLE HoldEvent(HANDLE event) {
  HANDLE held = nullptr;
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, event, self, &held, 0, FALSE, DUPLICATE_SAME_ACCESS)) return HANDLE{};
  return held;
}

void ReleaseEvent(HANDLE held) {
  if (held != HANDLE{}) CloseHandle(held);
}

char PathSeparator() {
  return '\\';
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  char last = dir.back();
  if (last == '\\' || last == '/') return dir + name;
  return dir + "\\" + name;
}

std::string DirName(const std::string& path) {
  size_t p = path.find_last_of("\\/");
  if (p == std::string::npos) return ".";
  if (p == 0 || (p == 2 && path[1] == ':')) return path.substr(0, p + 1);
  return path.substr(0, p);
}

std::string AbsolutePath(const std::string& path) {
  char buf[MAX_PATH * 2];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
  if (n == 0 || n >= sizeof buf) return path;
  return std::string(buf, n);
}

// Windows' file names compare without regard to case: the canonical name is folded (ASCII).
std::string CanonicalPath(const std::string& path) {
  std::string full = AbsolutePath(ResolveLinks(AbsolutePath(path)));
  for (char& c : full)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return full;
}

bool MakeDirs(const std::string& path, bool /*privateDir: the profile folder's ACL already is*/) {
  if (path.empty()) return false;
  DWORD attr = GetFileAttributesA(path.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES) return (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
  std::string parent = DirName(path);
  if (parent != path && parent != ".") MakeDirs(parent, false);
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

namespace {

// The 64-bit number Windows hands over as two halves.
uint64_t Wide(DWORD high, DWORD low) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace

namespace {

// The change time of an open file (FILE_BASIC_INFO's ChangeTime, in 100 ns
// units), 0 where the system cannot tell it (GetFileInformationByHandleEx is
// looked up, as older systems lack it).
uint64_t ChangeTimeOf(HANDLE h) {
  struct BasicInfo {
    LARGE_INTEGER creation, access, write, change;
    DWORD attributes;
  };
  using Query = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
  static const Query query = reinterpret_cast<Query>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx")));
  BasicInfo info{};
  constexpr int kFileBasicInfo = 0;
  if (!query || !query(h, kFileBasicInfo, &info, sizeof info)) return 0;
  return static_cast<uint64_t>(info.change.QuadPart);
}

}  // namespace

bool StampOfFile(const std::string& path, FileStamp& out) {
  // The identity is the volume and file index of the file the path opens: a
  // creation time is no identity, as NTFS gives a file made under a name
  // that was just removed the creation time of the one it replaced.
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  const uint64_t changed = known ? ChangeTimeOf(h) : 0;
  CloseHandle(h);
  if (!known) return false;
  // File times count 100 ns; the stamp counts nanoseconds.
  out.size = Wide(info.nFileSizeHigh, info.nFileSizeLow);
  out.modified = Wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100;
  // FAT keeps no change time: the write time (two-second ticks there) stands in.
  out.changed = changed != 0 ? changed * 100 : out.modified;
  out.id = Wide(info.nFileIndexHigh, info.nFileIndexLow);
  out.device = info.dwVolumeSerialNumber;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return StampSettled(out, Wide(now.dwHighDateTime, now.dwLowDateTime) * 100);
}

ReadResult ReadFile(const std::string& path, std::string& contents) {
  contents.clear();
  HANDLE h = INVALID_HANDLE_VALUE;
  RetryWhileContended([&] {
    h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE;
  });
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return ReadResult::NotFound;
    DWORD attr = GetFileAttributesA(path.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) return ReadResult::CannotRead;
    return ReadResult::CannotOpen;
  }
  char buf[8192];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      CloseHandle(h);
      contents.clear();
      return ReadResult::CannotRead;
    }
    if (n == 0) break;
    // The credential file is read so too: none of it stays behind in memory given back.
    AppendWiping(contents, buf, n);
  }
  CloseHandle(h);
  WipeMemory(buf, sizeof buf);
  return ReadResult::Ok;
}

namespace {

// 64 random bits as hex: a temporary name no other writer reuses.
std::string RandomTag() {
  static std::atomic<unsigned long long> sequence{0};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  unsigned long long v = static_cast<unsigned long long>(now.QuadPart) ^ (++sequence * 0x9E3779B97F4A7C15ull) ^
                         (static_cast<unsigned long long>(GetCurrentThreadId()) << 40);
  char tag[20];
  std::snprintf(tag, sizeof tag, "%016llx", v);
  return tag;
}

// Removes "<file>.tmp.<pid>.<tag>" files whose writer process is gone. The
// caller holds the file's lock.
void RemoveStaleTemps(const std::string& path) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((path + ".tmp.*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  const size_t slash = path.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
  const size_t prefix = (slash == std::string::npos ? path.size() : path.size() - slash - 1) + 5;  // "<name>.tmp."
  do {
    const std::string name = fd.cFileName;
    if (name.size() <= prefix) continue;
    char* end = nullptr;
    unsigned long pid = std::strtoul(name.c_str() + prefix, &end, 10);
    if (end == name.c_str() + prefix || *end != '.' || ProcessAlive(static_cast<uint32_t>(pid))) continue;
    DeleteFileA((dir.empty() ? name : JoinPath(dir, name)).c_str());
  } while (FindNextFileA(h, &fd));
  FindClose(h);
}

}  // namespace

namespace {

// Attributes a rewritten file keeps; read-only is not among them (such a file is not rewritten).
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

bool WriteFileAtomic(const std::string& path, const std::string& contents, bool /*privateFile*/, bool durable) {
  // Files under the user's profile are protected by its ACL, which a replaced
  // file inherits. A symbolic link is written through to its target.
  const std::string target = ResolveLinks(path);
  const DWORD attributes = GetFileAttributesA(target.c_str());
  DWORD keep = FILE_ATTRIBUTE_NORMAL;
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // The user marked the file read-only: it stays as it is, and the writer
    // hears it at once (renaming over it would be refused anyway).
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (attributes & kKeptAttributes) keep = attributes & kKeptAttributes;
  }
  RemoveStaleTemps(target);
  std::string tmp = target + ".tmp." + std::to_string(GetCurrentProcessId()) + "." + RandomTag();
  HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, keep, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  const char* p = contents.data();
  size_t left = contents.size();
  while (left > 0 && ok) {
    DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!::WriteFile(h, p, chunk, &n, nullptr)) ok = false;
    p += n;
    left -= n;
  }
  if (ok && durable && !FlushFileBuffers(h)) ok = false;
  if (!CloseHandle(h)) ok = false;
  if (ok && !RetryWhileContended([&] {
        return MoveFileExA(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
      }))
    ok = false;
  if (!ok) {
    SetFileAttributesA(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(tmp.c_str());
    return false;
  }
  // The rename may carry the temporary file's attributes only in part.
  if (keep != FILE_ATTRIBUTE_NORMAL && GetFileAttributesA(target.c_str()) != keep)
    SetFileAttributesA(target.c_str(), keep);
  return true;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileIsReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(ResolveLinks(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool FileIsPrivate(const std::string& path) {
  // Files under the user's profile are protected by its ACL.
  return FileExists(path);
}

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(JoinPath(dir, "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (fd.cFileName[0] == '.') continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    names.emplace_back(fd.cFileName);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

// ---------------------------------------------------------------- private folder

// The state folder lies in the user's profile (%LOCALAPPDATA%), whose ACL
// already keeps other users out; files are reached by path.
PrivateDir::~PrivateDir() = default;

bool PrivateDir::Open(const std::string& path, std::string& why) {
  path_ = path;
  handle_ = -1;
  if (!MakeDirs(path, true)) {
    why = path + ": cannot be created or is not a folder";
    return false;
  }
  handle_ = 0;
  return true;
}

ReadResult PrivateDir::Read(const std::string& name, std::string& contents) const {
  if (handle_ == -1) return ReadResult::CannotOpen;
  return ReadFile(JoinPath(path_, name), contents);
}

bool PrivateDir::Write(const std::string& name, const std::string& contents) const {
  return handle_ != -1 && WriteFileAtomic(JoinPath(path_, name), contents, true, false);
}

// Files are replaced here as they are by Write.
bool PrivateDir::Overwrite(const std::string& name, const std::string& contents) const {
  return Write(name, contents);
}

bool PrivateDir::Remove(const std::string& name) const {
  return handle_ != -1 && RemoveFile(JoinPath(path_, name));
}

bool PrivateDir::Rename(const std::string& from, const std::string& to) const {
  return handle_ != -1 &&
         MoveFileExA(JoinPath(path_, from).c_str(), JoinPath(path_, to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool PrivateDir::Exists(const std::string& name) const {
  return handle_ != -1 && FileExists(JoinPath(path_, name));
}

std::vector<std::string> PrivateDir::List() const {
  return handle_ == -1 ? std::vector<std::string>() : ListFiles(path_);
}

FileLock::FileLock(const PrivateDir& dir, const std::string& name) : FileLock(JoinPath(dir.Path(), name)) {}

// The final file behind a symbolic link (a reparse point) of the path's last
// component; the path itself for a plain file, or where the system cannot say
// (GetFinalPathNameByHandleA is looked up, as older systems lack it).
std::string ResolveLinks(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
  using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  static const FinalPathFn finalPath = reinterpret_cast<FinalPathFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  if (!finalPath) return path;
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return path;
  char buf[MAX_PATH * 2];
  const DWORD n = finalPath(h, buf, sizeof buf, 0 /* FILE_NAME_NORMALIZED | VOLUME_NAME_DOS */);
  CloseHandle(h);
  if (n == 0 || n >= sizeof buf) return path;
  std::string target(buf, n);
  if (target.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + target.substr(8);
  if (target.rfind("\\\\?\\", 0) == 0) return target.substr(4);
  return target;
}

FileLock::FileLock(const std::string& lockPath) {
  HANDLE h = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  OVERLAPPED ov = {};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov)) {
    CloseHandle(h);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  held_ = true;
}

FileLock::~FileLock() {
  if (held_) {
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED ov = {};
    UnlockFileEx(h, 0, 1, 0, &ov);
    CloseHandle(h);
  }
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(GetCurrentProcessId());
}

bool ProcessAlive(uint32_t pid) {
  if (pid == 0) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!h) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  bool alive = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  CloseHandle(h);
  return alive;
}

std::string UserTag() {
  std::string user = GetEnv("USERNAME");
  return user.empty() ? std::string("0") : user;
}

bool StdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

bool PromptLine(const std::string& prompt, std::string& answer) {
  answer.clear();
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  if (!std::getline(std::cin, answer)) return false;
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return true;
}

}  // namespace rassim::platform
