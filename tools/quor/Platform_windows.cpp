#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/quor/HangUpGate.h"
#include "tools/quor/Platform.h"

namespace quortool::platform {

namespace {

// Set by the console control handler (which Windows runs on a thread of its
// own) and read by the message loop.
std::atomic<int> gStopEvent{0};
// Where the request is posted, so that the sleeping loop wakes at once.
std::atomic<HWND> gNoticeWindow{};
std::atomic<UINT> gNoticeMessage{0};

// Held while a loop that may hold a line runs: the control handler waits on
// it before Windows ends the process.
HangUpGate gHangUp;

// Another quor (`quor hangup`) cannot send this console Ctrl-C; it sets an
// event named after this process instead, and a waiting thread passes it on
// as a stop request. Its number is one past the console's events. A second
// event asks a dialler to give up reconnecting.
constexpr int kStopEventRequest = CTRL_SHUTDOWN_EVENT + 2;
HANDLE gStopEventHandle = nullptr;
HANDLE gNoReconnectHandle = nullptr;
HANDLE gQuitWaiter = nullptr;
HANDLE gWaiter = nullptr;

std::string StopEventName(uint32_t pid) {
  return "Local\\quor-dial-stop-" + std::to_string(pid);
}

std::string NoReconnectEventName(uint32_t pid) {
  return "Local\\quor-dial-noreconnect-" + std::to_string(pid);
}

void Request(int number) {
  int expected = 0;
  gStopEvent.compare_exchange_strong(expected, number);
  if (HWND window = gNoticeWindow.load()) {
    PostMessageA(window, gNoticeMessage.load(), static_cast<WPARAM>(gStopEvent.load()), 0);
  }
}

DWORD WINAPI WaitForStopEvent(LPVOID) {
  HANDLE all[3] = {gStopEventHandle, gQuitWaiter, gNoReconnectHandle};
  const DWORD count = gNoReconnectHandle != nullptr ? 3 : 2;
  for (;;) {
    const DWORD which = WaitForMultipleObjects(count, all, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 2) {
      if (HWND window = gNoticeWindow.load()) PostMessageA(window, gNoticeMessage.load(), kNoReconnectRequest, 0);
      continue;
    }
    if (which == WAIT_OBJECT_0) Request(kStopEventRequest);
    return 0;
  }
}

void StartStopEventWaiter() {
  if (gWaiter != nullptr) return;
  gStopEventHandle = CreateEventA(nullptr, TRUE, FALSE, StopEventName(GetCurrentProcessId()).c_str());
  gNoReconnectHandle = CreateEventA(nullptr, FALSE, FALSE, NoReconnectEventName(GetCurrentProcessId()).c_str());
  gQuitWaiter = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (gStopEventHandle != nullptr && gQuitWaiter != nullptr) {
    gWaiter = CreateThread(nullptr, 0, WaitForStopEvent, nullptr, 0, nullptr);
  }
}

void StopStopEventWaiter() {
  if (gWaiter != nullptr) {
    SetEvent(gQuitWaiter);
    WaitForSingleObject(gWaiter, INFINITE);
    CloseHandle(gWaiter);
    gWaiter = nullptr;
  }
  for (HANDLE* h : {&gStopEventHandle, &gNoReconnectHandle, &gQuitWaiter}) {
    if (*h != nullptr) CloseHandle(*h);
    *h = nullptr;
  }
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Console event numbers start at 0; keep 0 meaning "none".
      Request(static_cast<int>(event) + 1);
      // After a close, logoff or shutdown Windows ends the process once this
      // returns: let the loop hang up first, within the system's time.
      if (const DWORD grace = HandlerGraceMs(event); grace != 0) gHangUp.Wait(grace);
      return TRUE;
    default:
      return FALSE;
  }
}

// The process with this id, when its creation time is the stamp; null
// otherwise. While the handle is open the id cannot pass to another process.
HANDLE OpenNoted(uint32_t pid, const std::string& stamp) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return nullptr;
  FILETIME created{}, exited{}, kernel{}, user{};
  DWORD code = 0;
  const bool noted =
      GetExitCodeProcess(process, &code) && code == STILL_ACTIVE &&
      GetProcessTimes(process, &created, &exited, &kernel, &user) &&
      std::to_string((static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime) == stamp;
  if (noted) return process;
  CloseHandle(process);
  return nullptr;
}

bool SetNotedEvent(uint32_t pid, const std::string& stamp, const std::string& name) {
  HANDLE process = OpenNoted(pid, stamp);
  if (process == nullptr) return false;
  HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
  // No event: not a dialler, or it has not installed its handlers yet.
  const bool set = event != nullptr && SetEvent(event) != 0;
  if (event != nullptr) CloseHandle(event);
  CloseHandle(process);
  return set;
}

}  // namespace

void InstallStopHandlers(HWND window, UINT message) {
  gNoticeMessage.store(message);
  gNoticeWindow.store(window);
  gHangUp.Hold();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  StartStopEventWaiter();
}
void RemoveStopHandlers() {
  // The loop is over and has hung up: a waiting control handler may return.
  gHangUp.Release();
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  StopStopEventWaiter();
  gNoticeWindow.store(HWND{});
}
bool StopRequested() {
  return gStopEvent.load() != 0;
}
int StopSignal() {
  return gStopEvent.load();
}
void ClearStopRequest() {
  gStopEvent.store(0);
}

void PrepareStandardStreams() {
  // Windows has no broken-pipe signal: a failed write is seen as such.
}

bool StdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

bool ReadSecretLine(const std::string& prompt, std::string& line) {
  line.clear();
  const bool terminal = StdinIsTerminal();
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD savedMode = 0;
  bool echoOff = false;
  if (terminal) {
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    if (GetConsoleMode(input, &savedMode)) {
      echoOff = SetConsoleMode(input, savedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    }
  }
  bool any = false;
  for (int c = std::getchar(); c != EOF; c = std::getchar()) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (echoOff) SetConsoleMode(input, savedMode);
  if (terminal) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

// A new file inherits the folder's access list.
std::FILE* OpenLogFile(const std::string& path) {
  return std::fopen(path.c_str(), "a");
}

// Windows writes no core dumps of a console program unless asked to.
void KeepSecretsFromDumps() {}

void ForgetEnv(const std::string& name) {
  _putenv_s(name.c_str(), "");
}

bool SetEnv(const std::string& name, const std::string& value) {
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

bool UnsetEnv(const std::string& name) {
  return _putenv_s(name.c_str(), "") == 0;
}

std::string DiallerFolder(const std::string& key) {
  char temp[MAX_PATH + 1] = {0};
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length > MAX_PATH) return std::string();
  const std::string folder = std::string(temp) + "quor-diallers";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string keyed = folder + "\\" + key;
  CreateDirectoryA(keyed.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesA(keyed.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::string();
  return keyed;
}

std::string DefaultStateFolder() {
  const char* local = std::getenv("LOCALAPPDATA");
  if (local != nullptr && *local != 0) return std::string(local) + "\\Quor\\RasState";
  const char* temp = std::getenv("TEMP");
  return std::string(temp != nullptr && *temp != 0 ? temp : ".") + "\\quor-ras";
}

std::string OwnPhonebookPath() {
  return std::string();  // the system's phonebooks: matched by entry name alone
}

std::string ProcessSpace() {
  return std::string();  // process ids are the machine's
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

std::string ProcessStamp(uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return std::string();
  FILETIME created{}, exited{}, kernel{}, user{};
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE &&
                       GetProcessTimes(process, &created, &exited, &kernel, &user);
  CloseHandle(process);
  if (!running) return std::string();
  return std::to_string((static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
}

bool RequestStop(uint32_t pid, const std::string& stamp) {
  return SetNotedEvent(pid, stamp, StopEventName(pid));
}

bool RequestNoReconnect(uint32_t pid, const std::string& stamp) {
  return SetNotedEvent(pid, stamp, NoReconnectEventName(pid));
}

}  // namespace quortool::platform
