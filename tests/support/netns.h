#pragma once
// Network namespaces that a test creates for itself. A namespace is held only by a file
// descriptor of the test process, so the kernel removes it, with every link and address in it,
// as soon as its object goes or the process ends, however it ends. The 10.200.x.y addresses
// that tests give inside exist nowhere else.

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvi_test {

// Empty when this process may create network namespaces; otherwise why it may not.
std::string NetnsUnavailable();

class NetNamespace {
 public:
  NetNamespace();  // fresh, with lo down; throws std::runtime_error saying why not
  ~NetNamespace();
  NetNamespace(const NetNamespace&) = delete;
  NetNamespace& operator=(const NetNamespace&) = delete;

  int fd() const { return fd_; }
  // Names the namespace for `nsenter --net=` and `ip ... netns`, while this object lives.
  std::string Path() const;

  // Runs a program inside (found through PATH) with `input` on its standard input and returns
  // its output; throws std::runtime_error with the command, the outcome and the output when
  // the program fails.
  std::string Run(const std::vector<std::string>& argv, const std::string& input = {}) const;
  // Sets a per-namespace sysctl, e.g. Sysctl("net.ipv4.icmp_echo_ignore_all", "1").
  void Sysctl(const std::string& name, const std::string& value) const;
  void LoopbackUp() const;
  // Lets every group open unprivileged ICMP sockets here (a new namespace admits none).
  void AllowPingGroups(const std::string& range = "0 2147483647") const;
  // Starts a program inside; the caller waits for it.
  pid_t Spawn(const std::vector<std::string>& argv) const;

 private:
  int fd_ = -1;
};

struct VethPair {
  std::string a_link, b_link;  // interface names in `a` and in `b`
};

// Links `a` and `b` with a veth pair, both ends up, `a_address` and `b_address` (with prefix,
// e.g. "10.200.1.1/24") on them.
VethPair ConnectVeth(const NetNamespace& a, const std::string& a_address, const NetNamespace& b,
                     const std::string& b_address);

// Moves the calling thread, and sockets it opens, into `ns` until destroyed. Throws when the
// thread could not get in, so nothing is ever sent from the wrong namespace.
class EnterNetns {
 public:
  explicit EnterNetns(const NetNamespace& ns);
  ~EnterNetns();
  EnterNetns(const EnterNetns&) = delete;
  EnterNetns& operator=(const EnterNetns&) = delete;

 private:
  int previous_ = -1;
};

}  // namespace korvi_test
