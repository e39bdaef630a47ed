// What the RAS contract tests need from the operating system.
#pragma once

#include <cstdint>
#include <string>

namespace rassimtest {

void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);
// Command line that starts the helper program beside the test.
std::string HelperCommand();
// Runs a command line; its exit code.
int RunCommand(const std::string& commandLine);
// The command line that runs `commandLine` as the first process of a process-id
// namespace of its own (so its id there is 1); "" where this system does not
// let the test make one.
std::string InOwnPidNamespace(const std::string& commandLine);
// This process's id.
unsigned long OwnProcessId();
// Takes the exclusive lock the library takes on a lock file (creating the
// file), and lets it go; -1 when it cannot be had.
intptr_t LockFile(const std::string& path);
void UnlockFile(intptr_t lock);
// True when the file can be read by its owner only (always true where the
// platform protects it otherwise).
bool OwnerOnly(const std::string& path);
// True where files have POSIX modes and symbolic links anyone may make.
bool PosixFiles();
// What tells one file from another on its file system ("device:inode"); ""
// where the test does not compare files so.
std::string FileIdentity(const std::string& path);
// Windows file attributes: marks a file hidden and/or read-only (false where
// files have no such marks), and reads them back ("hidden", "readonly",
// "hidden,readonly" or "").
bool SetFileMarks(const std::string& path, bool hidden, bool readOnly);
std::string FileMarks(const std::string& path);
// A short real-time pause while waiting for another process.
void Nap();
// Another holder of a file's exclusive lock (an open file of its own): its
// handle, or -1 where the platform's locks are not taken so. DropLock ends it.
int HoldLock(const std::string& path);
void DropLock(int held);
// Makes a named pipe at the path (false where there are none).
bool MakePipe(const std::string& path);

}  // namespace rassimtest
