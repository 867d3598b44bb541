#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <string>

#include "platform/linux/profile_file.h"

namespace platform::profile_file {

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

}  // namespace platform::profile_file
