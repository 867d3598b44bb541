#include "tests/support/netns.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "tests/support/child.h"

namespace korvi_test {
namespace {

constexpr const char* kOwnNetns = "/proc/thread-self/ns/net";

std::runtime_error Failure(const std::string& what) {
  return std::runtime_error(what + ": " +
                            std::error_code(errno, std::generic_category()).message());
}

int OpenOwnNetns() {
  return open(kOwnNetns, O_RDONLY | O_CLOEXEC);
}

bool SameNamespace(int a, int b) {
  struct stat sa {
  }, sb{};
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// A thread left in a test namespace would send from it; no test may go on after that.
void Return(int previous) {
  if (setns(previous, CLONE_NEWNET) != 0) {
    std::perror("returning from a test network namespace");
    std::abort();
  }
  close(previous);
}

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& arg : argv) line += (line.empty() ? "" : " ") + arg;
  return line;
}

}  // namespace

std::string NetnsUnavailable() {
  if (geteuid() != 0) {
    return "creating network namespaces needs root (running as uid " + std::to_string(geteuid()) +
           ")";
  }
  try {
    NetNamespace probe;
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

NetNamespace::NetNamespace() {
  const int previous = OpenOwnNetns();
  if (previous < 0) throw Failure(std::string("opening ") + kOwnNetns);
  if (unshare(CLONE_NEWNET) != 0) {
    const auto error = Failure("unshare(CLONE_NEWNET)");
    close(previous);
    throw error;
  }
  fd_ = OpenOwnNetns();
  const int saved = errno;
  Return(previous);
  errno = saved;
  if (fd_ < 0) throw Failure("opening the new network namespace");
}

NetNamespace::~NetNamespace() {
  close(fd_);
}

std::string NetNamespace::Path() const {
  return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
}

std::string NetNamespace::Run(const std::vector<std::string>& argv,
                              const std::string& input) const {
  const ChildResult result = RunInChild(
      [&]() -> std::string {
        if (setns(fd_, CLONE_NEWNET) != 0) return "setns failed";
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        return "cannot run " + argv[0] + ": " + std::strerror(errno);
      },
      input);
  if (!result.ok()) {
    throw std::runtime_error("in a test network namespace, `" + CommandLine(argv) +
                             "` failed: " + result.Describe());
  }
  return result.output;
}

void NetNamespace::Sysctl(const std::string& name, const std::string& value) const {
  std::string path = "/proc/sys/" + name;
  for (auto& c : path) c = c == '.' ? '/' : c;
  const ChildResult result = RunInChild([&]() -> std::string {
    if (setns(fd_, CLONE_NEWNET) != 0) return "setns failed";
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return "cannot open " + path + ": " + std::strerror(errno);
    const bool written =
        write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    const int error = errno;
    close(fd);
    return written ? "" : "cannot write " + path + ": " + std::strerror(error);
  });
  if (!result.ok()) {
    throw std::runtime_error("setting " + name + " = \"" + value +
                             "\" in a test network namespace failed: " + result.Describe());
  }
}

void NetNamespace::LoopbackUp() const {
  Run({"ip", "link", "set", "lo", "up"});
}

void NetNamespace::AllowPingGroups(const std::string& range) const {
  Sysctl("net.ipv4.ping_group_range", range);
}

pid_t NetNamespace::Spawn(const std::vector<std::string>& argv) const {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw Failure("fork for `" + CommandLine(argv) + "`");
  if (pid == 0) {
    if (setns(fd_, CLONE_NEWNET) == 0) execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

VethPair ConnectVeth(const NetNamespace& a, const std::string& a_address, const NetNamespace& b,
                     const std::string& b_address) {
  static int pairs = 0;
  const std::string n = std::to_string(++pairs);
  const std::string a_link = "kv" + n + "a", b_link = "kv" + n + "b";
  a.Run({"ip", "link", "add", a_link, "type", "veth", "peer", "name", b_link, "netns", b.Path()});
  a.Run({"ip", "address", "add", a_address, "dev", a_link});
  b.Run({"ip", "address", "add", b_address, "dev", b_link});
  a.Run({"ip", "link", "set", a_link, "up"});
  b.Run({"ip", "link", "set", b_link, "up"});
  return {a_link, b_link};
}

EnterNetns::EnterNetns(const NetNamespace& ns) {
  previous_ = OpenOwnNetns();
  if (previous_ < 0) throw Failure(std::string("opening ") + kOwnNetns);
  if (setns(ns.fd(), CLONE_NEWNET) != 0) {
    const auto error = Failure("entering a test network namespace");
    close(previous_);
    throw error;
  }
  const int now = OpenOwnNetns();
  const bool inside = now >= 0 && SameNamespace(now, ns.fd());
  if (now >= 0) close(now);
  if (!inside) {
    Return(previous_);
    throw std::runtime_error("the thread did not end up in the test network namespace");
  }
}

EnterNetns::~EnterNetns() {
  Return(previous_);
}

}  // namespace korvi_test
