#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/linux/profile_file.h"

namespace platform::profile_file {
namespace {

std::string TemporaryPrefix(const std::string& target) {
  std::string prefix = DirectoryPrefix(target);
  return prefix + "." + target.substr(prefix.size()) + ".tmp.";
}

}  // namespace

std::string TemporaryName(const std::string& target) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t seed =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  std::string suffix;
  for (int i = 0; i < 6; ++i, seed /= 36)
    suffix += "0123456789abcdefghijklmnopqrstuvwxyz"[seed % 36];
  return TemporaryPrefix(target) + std::to_string(getpid()) + "." + suffix;
}

void RemoveStaleTemporaries(const std::string& target) {
  const std::string directory = DirectoryPrefix(target);
  const std::string prefix = TemporaryPrefix(target).substr(directory.size());
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    name.remove_prefix(prefix.size());
    std::size_t dot = name.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > 9) continue;
    std::string_view digits = name.substr(0, dot);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    pid_t pid = static_cast<pid_t>(std::stol(std::string(digits)));
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
      unlink((directory + entry->d_name).c_str());
    }
  }
  closedir(dir);
}

}  // namespace platform::profile_file
