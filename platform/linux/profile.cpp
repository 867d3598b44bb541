// The profile functions over real files. A write never leaves a half-written file behind: the
// new content goes into a temporary file beside the original, which is flushed and then renamed
// over it, so a crash or a full disk leaves either the old file or the new one.

#include "platform/profile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/ansi.h"
#include "platform/common/profile_encoding.h"
#include "platform/common/profile_text.h"
#include "platform/linux/profile_file.h"
#include "platform/report.h"

namespace platform {
namespace {

using namespace profile_file;

void WarnUnreadableOnce(const std::string& path, const std::string& why) {
  static std::mutex mutex;
  static std::set<std::string> warned;
  std::lock_guard lock(mutex);
  if (warned.insert(path).second) {
    Report("cannot read " + Escaped(path) + ": " + why + "; every setting in it reads as missing");
  }
}

thread_local std::string last_write_failure;

bool Complain(std::string_view section, std::string_view key, const std::string& path,
              const std::string& why, bool existed) {
  last_write_failure = "cannot save [" + Escaped(section) + "] " + Escaped(key) + " in " +
                       Escaped(path) + ": " + why + "; " +
                       (existed ? "the file is unchanged" : "no file was written");
  return false;
}

// The text that the INI rules read from a file's bytes; nullopt for an encoding they cannot.
std::optional<std::string> Readable(std::string bytes) {
  if (auto utf16 = profile_encoding::DecodeUtf16(bytes)) return std::move(utf16->text);
  if (!profile_encoding::UnreadableEncoding(bytes).empty()) return std::nullopt;
  return bytes;
}

}  // namespace

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file) {
  if (buffer == nullptr || size == 0) return 0;
  std::string_view chosen = default_value ? default_value : "";
  while (!chosen.empty() && chosen.back() == ' ') chosen.remove_suffix(1);

  std::string text;
  if (section != nullptr && key != nullptr && file != nullptr) {
    ReadResult read = ReadWhole(file, text);
    std::optional<std::string> readable;
    if (read.status == ReadStatus::kOk) readable = Readable(std::move(text));
    if (readable) {
      text = std::move(*readable);
      if (auto value = profile_text::FindValue(text, section, key)) chosen = *value;
    } else if (read.status == ReadStatus::kFailed) {
      WarnUnreadableOnce(file, read.why);
    }
  }
  std::size_t length = std::min<std::size_t>(chosen.size(), size - 1);
  std::memcpy(buffer, chosen.data(), length);
  buffer[length] = '\0';
  return static_cast<std::uint32_t>(length);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file) {
  const std::string path = file ? file : "";
  if (path.empty() || section == nullptr || key == nullptr || value == nullptr) {
    return Complain(section ? section : "", key ? key : "", path,
                    "the file, section, key or value is missing", true);
  }
  const std::string target = ResolveLinks(path);
  HoldFolderLock(target);
  std::string old;
  ReadResult read = ReadWhole(target, old);
  const bool existed = read.status != ReadStatus::kMissing;
  if (read.status == ReadStatus::kFailed) return Complain(section, key, target, read.why, true);

  const profile_encoding::Entry entry{section, key, value};
  const auto rewritten = profile_encoding::Rewrite(old, entry, entry, "\n");
  if (!rewritten.refusal.empty()) {
    return Complain(section, key, target, rewritten.refusal, existed);
  }
  // Before any check of the right to write: a file on read-only media that already holds the
  // value is no failure.
  if (!rewritten.changed) return true;
  if (existed && access(target.c_str(), W_OK) != 0) {
    return Complain(section, key, target, std::strerror(errno), true);
  }
  RemoveStaleTemporaries(target);
  const std::string why = Replace(target, rewritten.bytes, existed ? &read.stat : nullptr);
  if (!why.empty()) return Complain(section, key, target, why, existed);
  return true;
}

std::string LastProfileWriteFailure() {
  return last_write_failure;
}

ProfileFileState CheckProfileFile(const char* file) {
  std::string text;
  const ReadResult read = ReadWhole(file, text);
  if (read.status == ReadStatus::kMissing) return {.missing = true, .unreadable = {}};
  if (read.status == ReadStatus::kFailed) return {.unreadable = read.why};
  if (const auto encoding = profile_encoding::UnreadableEncoding(text); !encoding.empty()) {
    return {.unreadable = profile_encoding::Refusal(encoding)};
  }
  return {};
}

std::uint32_t GetPrivateProfileStringW(const wchar_t* section, const wchar_t* key,
                                       const wchar_t* default_value, wchar_t* buffer,
                                       std::uint32_t size, const wchar_t* file) {
  if (buffer == nullptr || size == 0) return 0;
  // The size counts bytes here, as the settings module has always read.
  std::string bytes(size, '\0');
  const std::uint32_t length = GetPrivateProfileStringA(
      section ? ToAnsi(section).c_str() : nullptr, key ? ToAnsi(key).c_str() : nullptr,
      ToAnsi(default_value ? default_value : L"").c_str(), bytes.data(), size,
      file ? ToAnsi(file).c_str() : nullptr);
  const std::wstring text = FromAnsi(bytes.substr(0, length));
  const std::size_t copied = std::min<std::size_t>(text.size(), size - 1);
  std::copy_n(text.begin(), copied, buffer);
  buffer[copied] = L'\0';
  return static_cast<std::uint32_t>(copied);
}

bool WritePrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                const wchar_t* file) {
  const auto bytes = [](const wchar_t* text) {
    return text ? std::optional(ToAnsi(text)) : std::nullopt;
  };
  const auto s = bytes(section), k = bytes(key), v = bytes(value), f = bytes(file);
  return WritePrivateProfileStringA(s ? s->c_str() : nullptr, k ? k->c_str() : nullptr,
                                    v ? v->c_str() : nullptr, f ? f->c_str() : nullptr);
}

ProfileFileState CheckProfileFile(const wchar_t* file) {
  return CheckProfileFile(ToAnsi(file).c_str());
}

}  // namespace platform
