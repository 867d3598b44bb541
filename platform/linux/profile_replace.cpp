#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/profile_file.h"

namespace platform::profile_file {
namespace {

void SyncDirectory(const std::string& target) {
  std::string directory = DirectoryPrefix(target);
  FileDescriptor fd(
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Some file systems cannot sync a folder; the rename has happened either way.
  if (fd.get() >= 0) fsync(fd.get());
}

}  // namespace

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

}  // namespace platform::profile_file
