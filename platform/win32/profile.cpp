// The profile functions over real files. Reads are the system's own. A write never leaves a
// half-written file behind: the new content goes into a file beside the original, which is
// flushed and then put in its place in one step, so a crash or a full disk leaves either the old
// file or the new one; every byte that the write does not change, the encoding and the line
// endings stay as they were.

#include "platform/profile.h"

#include <windows.h>

#include <cwctype>
#include <optional>
#include <string>

#include "platform/common/profile_encoding.h"
#include "platform/report.h"
#include "platform/win32/last_error.h"

namespace platform {
namespace {

thread_local std::string last_write_failure;

bool Complain(const wchar_t* section, const wchar_t* key, const std::wstring& file,
              const std::string& why, bool existed) {
  last_write_failure = "cannot save [" + Escaped(Utf8(section)) + "] " + Escaped(Utf8(key)) +
                       " in " + Escaped(Utf8(file)) + ": " + why + "; " +
                       (existed ? "the file is unchanged" : "no file was written");
  return false;
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    const bool closed = !ok() || CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// The whole file; nullopt with `error` set when it cannot be read (ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND when there is none).
std::optional<std::string> ReadWhole(const std::wstring& path, DWORD& error) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.ok() || !GetFileSizeEx(file.get(), &size)) {
    error = GetLastError();
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  for (std::size_t done = 0; done < bytes.size();) {
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    if (!ReadFile(file.get(), bytes.data() + done, chunk, &got, nullptr)) {
      error = GetLastError();
      return std::nullopt;
    }
    if (got == 0) break;
    done += got;
  }
  return bytes;
}

bool Missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// `text` in the ANSI code page; nullopt when the code page cannot hold it.
std::optional<std::string> Ansi(const wchar_t* text) {
  const int length = static_cast<int>(wcslen(text));
  if (length == 0) return std::string();
  BOOL lossy = FALSE;
  const int size =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, length, nullptr, 0, nullptr, &lossy);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, length, bytes.data(), size, nullptr,
                      &lossy);
  if (lossy) return std::nullopt;
  return bytes;
}

// The values that one process writes land together: its first write waits (a bounded time)
// for any other korvi writing the same file, and the process holds the file until it ends.
// korvi writes only as its window closes; two closing at once would otherwise save the top of
// one and the left of the other.
void HoldWriteLock(std::wstring name) {
  static HANDLE held = nullptr;
  if (held != nullptr) return;
  for (wchar_t& c : name) c = c == L'\\' ? L'/' : static_cast<wchar_t>(towlower(c));
  held = CreateMutexW(nullptr, FALSE, (L"Local\\korvi " + name).c_str());
  if (held != nullptr) WaitForSingleObject(held, 5000);
}

// Writes `bytes` beside `path` and puts them in its place; why not, or "".
std::string Replace(const std::wstring& path, const std::string& bytes, bool existed) {
  const std::wstring beside = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
  Handle file(CreateFileW(beside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return "cannot create a file beside it: " + LastErrorText(GetLastError());
  DWORD written = 0;
  std::string why;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size() || !FlushFileBuffers(file.get()) || !file.Close()) {
    why = LastErrorText(GetLastError());
  } else if (existed ? !ReplaceFileW(path.c_str(), beside.c_str(), nullptr,
                                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                     : !MoveFileExW(beside.c_str(), path.c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    why = LastErrorText(GetLastError());
  }
  if (!why.empty()) {
    file.Close();
    DeleteFileW(beside.c_str());
  }
  return why;
}

}  // namespace

std::uint32_t GetPrivateProfileStringW(const wchar_t* section, const wchar_t* key,
                                       const wchar_t* default_value, wchar_t* buffer,
                                       std::uint32_t size, const wchar_t* file) {
  return ::GetPrivateProfileStringW(section, key, default_value, buffer, size, file);
}

bool WritePrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                const wchar_t* file) {
  const std::wstring path = file ? file : L"";
  if (path.empty() || section == nullptr || key == nullptr || value == nullptr) {
    return Complain(section ? section : L"", key ? key : L"", path,
                    "the file, section, key or value is missing", true);
  }
  HoldWriteLock(path);
  DWORD error = ERROR_SUCCESS;
  const std::optional<std::string> old = ReadWhole(path, error);
  if (!old && !Missing(error)) return Complain(section, key, path, LastErrorText(error), true);

  const std::string s = Utf8(section), k = Utf8(key), v = Utf8(value);
  const auto as = Ansi(section), ak = Ansi(key), av = Ansi(value);
  std::optional<profile_encoding::Entry> ansi;
  if (as && ak && av) ansi = profile_encoding::Entry{*as, *ak, *av};
  const auto rewritten = profile_encoding::Rewrite(old.value_or(""), {s, k, v}, ansi, "\r\n");
  if (!rewritten.refusal.empty()) {
    return Complain(section, key, path, rewritten.refusal, old.has_value());
  }
  // Nothing to write is no failure, even for a file on read-only media.
  if (!rewritten.changed) return true;
  const std::string why = Replace(path, rewritten.bytes, old.has_value());
  if (!why.empty()) return Complain(section, key, path, why, old.has_value());
  return true;
}

std::string LastProfileWriteFailure() {
  return last_write_failure;
}

ProfileFileState CheckProfileFile(const wchar_t* file) {
  DWORD error = ERROR_SUCCESS;
  const std::optional<std::string> bytes = ReadWhole(file, error);
  if (!bytes && Missing(error)) return {.missing = true, .unreadable = {}};
  if (!bytes) return {.unreadable = LastErrorText(error)};
  if (const auto encoding = profile_encoding::UnreadableEncoding(*bytes); !encoding.empty()) {
    return {.unreadable = profile_encoding::Refusal(encoding)};
  }
  return {};
}

}  // namespace platform
