// What a write does to the file system around the settings file: links, permission bits,
// temporary files, and writes that fail for real half way.

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/profile_file.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;

bool WriteTop(const std::string& file, const char* value) {
  return platform::WritePrivateProfileStringA("main", "top", value, file.c_str());
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

struct LinkCase {
  const char *name, *link_to, *real;  // korvi.ini -> link_to -> ... -> real
  bool real_exists;
};
class LinkTest : public testing::TestWithParam<LinkCase> {};

TEST_P(LinkTest, WritesThroughToTheTargetKeepingLinkAndPermissions) {
  TempFolder folder;
  fs::create_directory(folder / "sub");
  fs::create_symlink("sub/real.ini", folder / "hop.ini");
  fs::create_symlink(GetParam().link_to, folder / "korvi.ini");
  if (GetParam().real_exists) {
    WriteBytes(folder / GetParam().real, "[main]\ntop=1\n");
    fs::permissions(folder / GetParam().real, fs::perms(0604));
  }
  ASSERT_TRUE(WriteTop(folder / "korvi.ini", "7"));
  EXPECT_TRUE(fs::is_symlink(folder / "korvi.ini"));
  EXPECT_EQ(ReadBytes(folder / GetParam().real), "[main]\ntop=7\n");
  if (GetParam().real_exists) {
    EXPECT_EQ(fs::status(folder / "korvi.ini").permissions(), fs::perms(0604));
  }
  EXPECT_EQ(Names(folder.path), (std::set<std::string>{"hop.ini", "korvi.ini", "sub"}));
}

INSTANTIATE_TEST_SUITE_P(Profile, LinkTest,
                         testing::Values(LinkCase{"Chain", "hop.ini", "sub/real.ini", true},
                                         LinkCase{"Dangling", "sub/new.ini", "sub/new.ini", false}),
                         kCaseName);

TEST(ProfileFile, RemovesOnlyTheTemporariesOfDeadWriters) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child), alive = std::to_string(getpid());
  const std::set<std::string> kept = {".korvi.ini.tmp." + alive + ".a1b2c3",
                                      ".other.ini.tmp." + dead + ".a1b2c3", "korvi.ini"};
  TempFolder folder;
  for (const std::string& name : kept) WriteBytes(folder / name, "half");
  WriteBytes(folder / (".korvi.ini.tmp." + dead + ".a1b2c3"), "half");
  ASSERT_TRUE(WriteTop(folder / "korvi.ini", "1"));
  EXPECT_EQ(Names(folder.path), kept);
}

// Ways to make a write fail for real, in a child process; false when this machine cannot.
bool LimitFileSize(const std::string&) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{64, 64};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}
bool MountTinyDisk(const std::string& folder) {
  std::optional<std::string> bytes = ReadBytes(folder + "/korvi.ini");
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=8k") != 0) {
    return false;
  }
  WriteBytes(folder + "/korvi.ini", *bytes);
  return true;
}
bool MakeReadOnly(const std::string& folder) {
  return chmod(folder.c_str(), 0500) == 0;
}

struct FailureCase {
  const char* name;
  bool (*break_write)(const std::string& folder);
  const char* reason;
  int needs_root;  // 1: only as root, 0: only as another user, -1: either
};
class FailedWriteTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FailedWriteTest, LeavesTheOldFileIntactAndSaysWhy) {
  const FailureCase& c = GetParam();
  if (c.needs_root == 1 && geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  if (c.needs_root == 0 && geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
  TempFolder folder;
  const std::string file = folder / "korvi.ini";
  // Two pages, so that the tiny disk cannot hold a second copy.
  const std::string before = "[main]\ntop=1\n;" + std::string(5000, 'c') + "\n";
  WriteBytes(file, before);
  int error_pipe[2];
  ASSERT_EQ(pipe(error_pipe), 0);
  // The checks run in the child, the only process that sees a mount made there; its standard
  // error goes into a pipe, which no file size limit touches.
  pid_t child = fork();
  if (child == 0) {
    dup2(error_pipe[1], 2);
    if (!c.break_write(folder.path)) _exit(10);
    if (WriteTop(file, "2")) _exit(1);
    const std::string why = platform::LastProfileWriteFailure() + "\n";
    if (write(2, why.data(), why.size()) < 0) _exit(4);
    if (ReadBytes(file) != before) _exit(2);
    _exit(Names(folder.path) == std::set<std::string>{"korvi.ini"} ? 0 : 3);
  }
  close(error_pipe[1]);
  std::string message(4096, '\0');
  message.resize(std::max<ssize_t>(0, read(error_pipe[0], message.data(), message.size())));
  close(error_pipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "this machine cannot make the write fail this way";
  EXPECT_EQ(status, 0) << "exit 1: write reported success, 2: file changed, 3: files left";
  EXPECT_EQ(message,
            "cannot save [main] top in " + file + ": " + c.reason + "; the file is unchanged\n");
}

INSTANTIATE_TEST_SUITE_P(
    Profile, FailedWriteTest,
    testing::Values(FailureCase{"FileSizeLimit", LimitFileSize, "File too large", -1},
                    FailureCase{"FullDisk", MountTinyDisk, "No space left on device", 1},
                    FailureCase{"ReadOnlyFolder", MakeReadOnly,
                                "cannot create a temporary file beside it: Permission denied", 0}),
    kCaseName);

}  // namespace
