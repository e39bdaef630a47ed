// Loading modules by name: where they are looked for, handle identity,
// reference counts and unloading, and the failures.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "OwnSubset.h"
#include "Win32/Win32.h"

namespace {

typedef int (*IntFunc)(void);

std::string ExeDirectory() {
  char path[1024];
  DWORD n = GetModuleFileNameA(0, path, sizeof path);
  std::string exe(path, n);
  size_t slash = exe.find_last_of("/\\");
  return exe.substr(0, slash);
}

// The exe's directory joined to a relative name, with the platform's separator.
std::string BesideExe(const std::string& relative) {
  char path[1024];
  DWORD n = GetModuleFileNameA(0, path, sizeof path);
  char separator = std::string(path, n).find('\\') != std::string::npos ? '\\' : '/';
  std::string out = ExeDirectory() + separator + relative;
  for (char& c : out) {
    if (c == '/' || c == '\\') c = separator;
  }
  return out;
}

int Call(HMODULE module, const char* name) {
  IntFunc f = reinterpret_cast<IntFunc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  if (f == nullptr) {
    ADD_FAILURE() << name << " not found";
    return -1;
  }
  return f();
}

// A handle no module ever had.
HMODULE BogusModule() {
  return (HMODULE)(uintptr_t)0x7654321u;
}

class Modules : public ::testing::Test {
 protected:
  void TearDown() override { SetDllDirectoryA(nullptr); }
};

TEST_F(Modules, LoadsTheCopyBesideTheExecutableFirst) {
  SetDllDirectoryA(BesideExe("qwsub").c_str());
  HMODULE m = LoadLibraryA("qwtest.dll");
  ASSERT_NE(m, HMODULE{});
  EXPECT_EQ(Call(m, "QwTestVariant"), 1);

  char path[1024];
  DWORD n = GetModuleFileNameA(m, path, sizeof path);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::string(path, n), BesideExe("qwtest.dll"));
  EXPECT_TRUE(FreeLibrary(m));
}

TEST_F(Modules, DllDirectoryIsSearchedAfterTheExecutableDirectory) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("qwdironly.dll"), HMODULE{});
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  ASSERT_TRUE(SetDllDirectoryA(BesideExe("qwsub").c_str()));
  HMODULE m = LoadLibraryA("qwdironly.dll");
  ASSERT_NE(m, HMODULE{});
  EXPECT_EQ(Call(m, "QwTestVariant"), 3);
  EXPECT_TRUE(FreeLibrary(m));

  // Cleared again: back to the executable's directory and the system search.
  SetDllDirectoryA(nullptr);
  EXPECT_EQ(LoadLibraryA("qwdironly.dll"), HMODULE{});
}

TEST_F(Modules, NameWithPathLoadsThatFileAndIsADifferentModule) {
  HMODULE beside = LoadLibraryA("qwtest.dll");
  HMODULE sub = LoadLibraryA(BesideExe("qwsub/qwtest.dll").c_str());
  ASSERT_NE(beside, HMODULE{});
  ASSERT_NE(sub, HMODULE{});
  EXPECT_NE(beside, sub);
  EXPECT_EQ(Call(beside, "QwTestVariant"), 1);
  EXPECT_EQ(Call(sub, "QwTestVariant"), 2);
  EXPECT_EQ(GetModuleHandleA(BesideExe("qwsub/qwtest.dll").c_str()), sub);
  EXPECT_TRUE(FreeLibrary(sub));
  EXPECT_TRUE(FreeLibrary(beside));
}

TEST_F(Modules, SecondLoadGivesTheSameHandleAndUnloadsOnlyAtTheLastFree) {
  HMODULE first = LoadLibraryA("qwtest.dll");
  ASSERT_NE(first, HMODULE{});
  EXPECT_EQ(Call(first, "QwTestBump"), 1);
  EXPECT_EQ(Call(first, "QwTestBump"), 2);

  // Without the extension the same module is meant.
  HMODULE second = LoadLibraryA("qwtest");
  EXPECT_EQ(second, first);
  EXPECT_EQ(GetModuleHandleA("QWTEST.DLL"), first);

  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetModuleHandleA("qwtest.dll"), first) << "one reference is still held";
  EXPECT_EQ(Call(first, "QwTestBump"), 3) << "the module kept its state";

  EXPECT_TRUE(FreeLibrary(second));
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("qwtest.dll"), HMODULE{});
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_FALSE(FreeLibrary(first)) << "the handle is gone";
  EXPECT_EQ(GetProcAddress(first, "QwTestBump"), nullptr);

  // Really unloaded: a new load starts from fresh statics under a new handle.
  HMODULE again = LoadLibraryA("qwtest.dll");
  ASSERT_NE(again, HMODULE{});
  if (kOwnWin32) {
    EXPECT_NE(again, first) << "handles are never reused";  // Windows: the same base address again
  }
  EXPECT_EQ(Call(again, "QwTestBump"), 1);
  EXPECT_TRUE(FreeLibrary(again));
}

TEST_F(Modules, FailuresSayWhy) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("no-such-module-qw.dll"), HMODULE{});
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  HMODULE m = LoadLibraryA("qwtest.dll");
  ASSERT_NE(m, HMODULE{});
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(m, "QwTestMissing"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(m, nullptr), nullptr);
  if (kOwnWin32) {  // Windows finds exports by ordinal too
    // An ordinal is never read as a name.
    EXPECT_EQ(GetProcAddress(m, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(1))), nullptr);
  }
  EXPECT_TRUE(FreeLibrary(m));

  EXPECT_EQ(GetProcAddress(BogusModule(), "QwTestBump"), nullptr);
  EXPECT_FALSE(FreeLibrary(BogusModule()));
  EXPECT_EQ(LoadLibraryA(nullptr), HMODULE{});
}

TEST_F(Modules, ExecutableAndFileNames) {
  HMODULE exe = GetModuleHandleA(nullptr);
  EXPECT_NE(exe, HMODULE{});
  char path[1024];
  DWORD n = GetModuleFileNameA(exe, path, sizeof path);
  ASSERT_GT(n, 0u);
  EXPECT_NE(std::string(path, n).find("win32_tests"), std::string::npos);

  if (!kOwnWin32) return;  // what a short buffer gets depends on the Windows version
  // A short buffer gets a terminated, truncated name and the error says so.
  char small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(exe, small, sizeof small), 5u);
  EXPECT_EQ(std::string(small), std::string(path, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(LastError, IsKeptPerThread) {
  std::atomic<int> step{0};
  DWORD otherSaw = 0;
  std::thread other([&] {
    SetLastError(42);
    step = 1;
    while (step != 2) std::this_thread::yield();
    otherSaw = GetLastError();
    step = 3;
  });
  while (step != 1) std::this_thread::yield();
  SetLastError(1234);
  step = 2;
  while (step != 3) std::this_thread::yield();
  EXPECT_EQ(GetLastError(), 1234u);
  other.join();
  EXPECT_EQ(otherSaw, 42u);
}

}  // namespace

// The system-folder-only search: neither the executable's folder nor the DLL
// directory is looked at; flags beyond it and a file handle are refused.
TEST_F(Modules, SystemFolderOnlySearch) {
  ASSERT_TRUE(SetDllDirectoryA(BesideExe("qwsub").c_str()));
  struct Case {
    const char* name;
    DWORD flags;
    bool ownOnly;  // a choice of our subset (Windows knows more flags)
    bool loads;
    DWORD error;
  };
  const std::vector<Case> cases = {
      {"qwtest.dll", 0, false, true, 0},
      {"qwtest.dll", LOAD_LIBRARY_SEARCH_SYSTEM32, false, false, ERROR_MOD_NOT_FOUND},
      {"qwdironly.dll", LOAD_LIBRARY_SEARCH_SYSTEM32, false, false, ERROR_MOD_NOT_FOUND},
      {"qwtest.dll", LOAD_LIBRARY_SEARCH_SYSTEM32 | 0x1000, true, false, ERROR_INVALID_PARAMETER},
  };
  std::vector<std::pair<bool, DWORD>> expected, seen;
  for (const Case& c : cases) {
    if (c.ownOnly && !kOwnWin32) continue;
    expected.emplace_back(c.loads, c.error);
    SetLastError(0);
    HMODULE m = LoadLibraryExA(c.name, 0, c.flags);
    seen.emplace_back(m != HMODULE{}, m != HMODULE{} ? 0 : GetLastError());
    if (m != HMODULE{}) FreeLibrary(m);
  }
  EXPECT_EQ(seen, expected);
  if (kOwnWin32) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA("qwtest.dll", (HANDLE)(uintptr_t)1, 0), HMODULE{});
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}
