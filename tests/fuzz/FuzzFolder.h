// A private folder of one fuzz target's run, made once per process and named
// by its process id, where the target writes its input as the file a reader
// under test reads. Removed when the process ends.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzsupport {

inline const std::filesystem::path& Folder(const char* target) {
  // Never destroyed, so that the exit handler still finds it.
  static const std::filesystem::path* dir = [&] {
    auto* d = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                        (std::string(target) + "-" + std::to_string(getpid())));
    std::filesystem::remove_all(*d);
    std::filesystem::create_directories(*d);
    std::filesystem::permissions(*d, std::filesystem::perms::owner_all);
    return d;
  }();
  static const bool removedAtExit = std::atexit([] {
                                      std::error_code ec;
                                      std::filesystem::remove_all(*dir, ec);
                                    }) == 0;
  (void)removedAtExit;
  return *dir;
}

inline void Write(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string Read(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fuzzsupport
