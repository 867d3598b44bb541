#pragma once
// Files for tests: a fresh folder removed with everything in it, and whole files read and
// written as bytes. Header-only, so that the Windows tests use it too.

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

struct TempFolder {
  std::string path = Create();
  ~TempFolder() {
    std::error_code ignored;  // a test may have made the folder read-only
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }

 private:
  static std::string Create() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto path =
          std::filesystem::temp_directory_path() / ("korvi-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(path)) return path.generic_string();
    }
    throw std::runtime_error("no fresh folder under " +
                             std::filesystem::temp_directory_path().string());
  }
};

// Names each row of a table-driven test after its `name` field.
inline constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::optional<std::string> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}
