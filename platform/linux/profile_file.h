#pragma once
// The Linux profile functions in their byte-string forms, which the wide ones convert to (the
// code page is UTF-8 here), and the file work behind them: reading a settings file whole,
// replacing it atomically, the folder lock that keeps one process's writes together, and the
// temporary files that a killed writer left behind.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/profile.h"

namespace platform {

// As the wide forms in platform/profile.h, on bytes; sizes count bytes.
std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file);
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file);
ProfileFileState CheckProfileFile(const char* file);

}  // namespace platform

namespace platform::profile_file {

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

ReadResult ReadWhole(const std::string& path, std::string& text);

// The folder part of `path` with its trailing '/', or "" for a bare name.
std::string DirectoryPrefix(const std::string& path);

// The file that a write must replace: the final target of any chain of symbolic links, so that
// the links themselves stay in place.
std::string ResolveLinks(const std::string& path);

// A fresh name for a temporary file beside `target`, carrying this process's id.
std::string TemporaryName(const std::string& target);

// Temporary files whose writer was killed before it could remove them. Another writer that is
// still alive keeps its own.
void RemoveStaleTemporaries(const std::string& target);

// The values that one process writes land together: its first write takes the lock of the
// file's folder, and the process keeps it until it ends, so that another process's writes
// wait for all of them. korvi writes only as its window closes, right before it ends; two
// korvis closing at once would otherwise save the top of one and the left of the other. The
// wait is bounded, so that a writer that never ends delays the others but cannot stop them.
void HoldFolderLock(const std::string& target);

// Puts `content` in place of `target` through a temporary file; returns why it failed, or ""
// when it succeeded. `original` carries the owner and permission bits to keep.
std::string Replace(const std::string& target, const std::string& content,
                    const struct stat* original);

}  // namespace platform::profile_file
