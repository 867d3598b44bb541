#pragma once
// A fresh folder under the system's temporary directory, removed with everything in it.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

struct TempFolder {
  std::string path =
      mkdtemp((std::filesystem::temp_directory_path() / "korvi-ini-XXXXXX").string().data());
  ~TempFolder() {
    std::error_code ignored;  // a test may have made the folder read-only
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Names each row of a table-driven test after its `name` field.
inline constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::optional<std::string> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}
