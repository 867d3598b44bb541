#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/profile_file.h"

namespace platform::profile_file {

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

}  // namespace platform::profile_file
