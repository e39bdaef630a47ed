// The few operating-system services the quor tool needs that differ between
// platforms, behind one narrow interface. Platform_linux.cpp and
// Platform_windows.cpp implement it; the build picks one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Win32/Win32.h"

namespace quortool::platform {

// Ctrl-C and termination requests (SIGINT/SIGTERM, or the console's Ctrl-C,
// Ctrl-Break and close events) set a flag and post `message` (wParam: the
// request's number) to `window`, so a message loop sleeping until its next
// timer or message wakes at once and does the hang-up itself. The handlers
// do nothing else.
void InstallStopHandlers(HWND window, UINT message);
// Restores the default behaviour.
void RemoveStopHandlers();
bool StopRequested();
// Which request arrived first (a signal number, or a console event number); 0 when none.
int StopSignal();
// Forgets an earlier request (each command starts without one).
void ClearStopRequest();

bool StdinIsTerminal();

// Run first: a broken pipe becomes a failed write instead of killing the
// process (a dial must still hang up), and a standard descriptor that is
// closed is held by a placeholder that refuses writes, so that no file
// opened later (the log) takes its place.
void PrepareStandardStreams();

// Reads one line from standard input, without echo when it is a terminal
// (the prompt then goes to standard error). The line ending is removed.
// False when the input ended before any character was read.
bool ReadSecretLine(const std::string& prompt, std::string& line);

// Opens a log file for appending; a new one is readable by its owner only.
// Null (errno set) when it cannot be opened.
std::FILE* OpenLogFile(const std::string& path);

// Keeps the secrets this process holds out of core dumps (and out of reach
// of the user's other processes: Linux makes it not dumpable).
void KeepSecretsFromDumps();
// Removes a variable from this process's environment, its value overwritten
// first where the system shows the original environment to others
// (/proc/PID/environ).
void ForgetEnv(const std::string& name);

// Environment of this process only.
bool SetEnv(const std::string& name, const std::string& value);
bool UnsetEnv(const std::string& name);

// Running `quor dial` processes note themselves in a folder private to the
// user, one for each RAS state folder (named by key, made of letters, digits
// and '-'), so that `quor hangup` can reach one in its redial pause. "" when
// no such folder can be had.
std::string DiallerFolder(const std::string& key);
// The simulated RAS service's state folder when QUOR_RAS_STATE_DIR names none.
std::string DefaultStateFolder();
// The path RAS names this process's default phonebook by in its connection
// records; "" when it cannot be told (any phonebook's connection then matches).
std::string OwnPhonebookPath();
uint32_t CurrentProcessId();
// What distinguishes a running process from a later one with the same id
// (its start time); "" when no such process runs.
std::string ProcessStamp(uint32_t pid);
// Where this process's ids mean what they say: "<boot>:<pid namespace>" on
// Linux, "" where ids are the machine's.
std::string ProcessSpace();
// Asks the process with this id and stamp to stop as Ctrl-C would; false
// when that process is not there (another may have its id) or cannot be asked.
bool RequestStop(uint32_t pid, const std::string& stamp);
// Asks it to dial no more once its line is lost (`quor hangup` is about to
// hang it up): the stop message arrives with kNoReconnectRequest as wParam,
// and StopRequested() stays false.
bool RequestNoReconnect(uint32_t pid, const std::string& stamp);
constexpr WPARAM kNoReconnectRequest = 0x10000;

}  // namespace quortool::platform
