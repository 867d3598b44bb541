// The profile functions over real files. A write never leaves a half-written file behind: the
// new content goes into a temporary file beside the original, which is flushed and then renamed
// over it, so a crash or a full disk leaves either the old file or the new one.

#include "platform/profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/common/profile_text.h"

namespace platform {
namespace {

enum class ReadStatus { kOk, kMissing, kFailed };

struct ReadResult {
  ReadStatus status = ReadStatus::kOk;
  std::string why;
  struct stat stat {};
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  int Close() {
    int result = fd_ >= 0 ? close(fd_) : 0;
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

ReadResult ReadWhole(const std::string& path, std::string& text) {
  ReadResult result;
  // Non-blocking, so that a pipe put in the file's place cannot hang the program.
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    result.status = errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kFailed;
    result.why = std::strerror(errno);
    return result;
  }
  if (fstat(fd.get(), &result.stat) != 0 || !S_ISREG(result.stat.st_mode)) {
    result.status = ReadStatus::kFailed;
    result.why = "it is not a regular file";
    return result;
  }
  text.clear();
  text.reserve(static_cast<std::size_t>(result.stat.st_size));
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd.get(), chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      result.status = ReadStatus::kFailed;
      result.why = std::strerror(errno);
      return result;
    }
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return result;
}

std::string DirectoryPrefix(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file that a write must replace: the final target of any chain of symbolic links, so that
// the links themselves stay in place.
std::string ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string destination(static_cast<std::size_t>(std::max<off_t>(st.st_size, 255)) + 1, '\0');
    ssize_t n = readlink(current.c_str(), destination.data(), destination.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= destination.size()) break;
    destination.resize(static_cast<std::size_t>(n));
    current = destination.front() == '/' ? destination : DirectoryPrefix(current) + destination;
  }
  return current;
}

std::string TemporaryPrefix(const std::string& target) {
  std::string prefix = DirectoryPrefix(target);
  return prefix + "." + target.substr(prefix.size()) + ".tmp.";
}

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

// Temporary files whose writer was killed before it could remove them. Another writer that is
// still alive keeps its own.
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

// The values that one process writes land together: its first write takes the lock of the
// file's folder, and the process keeps it until it ends, so that another process's writes
// wait for all of them. korvi writes only as its window closes, right before it ends; two
// korvis closing at once would otherwise save the top of one and the left of the other. The
// wait is bounded, so that a writer that never ends delays the others but cannot stop them.
void HoldFolderLock(const std::string& target) {
  static std::mutex mutex;
  static std::set<std::string> held;
  std::lock_guard lock(mutex);
  const std::string directory = DirectoryPrefix(target).empty() ? "." : DirectoryPrefix(target);
  if (!held.insert(directory).second) return;
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  for (int tries = 0; tries < 200 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
       ++tries) {
    usleep(10000);
  }
  // The descriptor stays open on purpose: closing it would give the lock up.
}

void SyncDirectory(const std::string& target) {
  std::string directory = DirectoryPrefix(target);
  FileDescriptor fd(
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Some file systems cannot sync a folder; the rename has happened either way.
  if (fd.get() >= 0) fsync(fd.get());
}

// Puts `content` in place of `target` through a temporary file; returns why it failed, or ""
// when it succeeded. `original` carries the owner and permission bits to keep.
std::string Replace(const std::string& target, const std::string& content,
                    const struct stat* original) {
  std::string temporary;
  FileDescriptor fd(-1);
  for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
    temporary = TemporaryName(target);
    fd.Reset(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0 && errno != EEXIST) {
      return std::string("cannot create a temporary file beside it: ") + std::strerror(errno);
    }
  }
  if (fd.get() < 0) return "no free name for a temporary file beside it";

  auto fail = [&](int error) {
    fd.Close();
    unlink(temporary.c_str());
    return std::string(std::strerror(error));
  };
  if (original != nullptr) {
    // Only root can give the file back to another owner; the permission bits hold either way.
    [[maybe_unused]] int owner_kept = fchown(fd.get(), original->st_uid, original->st_gid);
    if (fchmod(fd.get(), original->st_mode & 07777) != 0) return fail(errno);
  }
  for (std::size_t done = 0; done < content.size();) {
    ssize_t n = write(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (fsync(fd.get()) != 0) return fail(errno);
  if (fd.Close() != 0) return fail(errno);
  if (rename(temporary.c_str(), target.c_str()) != 0) return fail(errno);
  SyncDirectory(target);
  return {};
}

void WarnUnreadableOnce(const std::string& path, const std::string& why) {
  static std::mutex mutex;
  static std::set<std::string> warned;
  std::lock_guard lock(mutex);
  if (warned.insert(path).second) {
    std::fprintf(stderr, "korvi: cannot read %s: %s; every setting in it reads as missing\n",
                 path.c_str(), why.c_str());
  }
}

// Names shown in a message stay on its one line.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

bool Complain(std::string_view section, std::string_view key, const std::string& path,
              const std::string& why, bool existed) {
  std::fprintf(stderr, "korvi: cannot save [%s] %s in %s: %s; %s\n", Printable(section).c_str(),
               Printable(key).c_str(), Printable(path).c_str(), why.c_str(),
               existed ? "the file is unchanged" : "no file was written");
  return false;
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
    if (read.status == ReadStatus::kOk) {
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
  std::string why = profile_text::RefusalReason(section, key, value);
  if (!why.empty()) return Complain(section, key, path, why, true);

  const std::string target = ResolveLinks(path);
  HoldFolderLock(target);
  std::string old;
  ReadResult read = ReadWhole(target, old);
  const bool existed = read.status != ReadStatus::kMissing;
  if (read.status == ReadStatus::kFailed) return Complain(section, key, target, read.why, true);
  if (existed && access(target.c_str(), W_OK) != 0) {
    return Complain(section, key, target, std::strerror(errno), true);
  }

  std::string updated = profile_text::ApplyWrite(old, section, key, value, "\n");
  if (existed && updated == old) return true;

  RemoveStaleTemporaries(target);
  why = Replace(target, updated, existed ? &read.stat : nullptr);
  if (!why.empty()) return Complain(section, key, target, why, existed);
  return true;
}

}  // namespace platform
