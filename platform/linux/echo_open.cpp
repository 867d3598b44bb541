#include "platform/linux/echo_open.h"

#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/linux/echo_packet.h"
#include "platform/report.h"

namespace platform {
namespace {

struct Attempt {
  int fd = -1;
  int error = 0;
};

Attempt Failed(int fd) {
  const Attempt attempt{-1, errno};
  if (fd >= 0) close(fd);
  return attempt;
}

bool Enable(int fd, int option) {
  const int on = 1;
  return setsockopt(fd, IPPROTO_IP, option, &on, sizeof on) == 0;
}

Attempt OpenDatagram() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0 || !Enable(fd, IP_RECVERR)) return Failed(fd);
  return {fd, 0};
}

// Never connected and never IP_RECVERR: a raw ICMP socket sees every ICMP packet of the host,
// and an error meant for another process's probe must not become this socket's error.
Attempt OpenRaw() {
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return Failed(fd);
  icmp_filter filter{~(1u << icmp::kEchoReply | 1u << icmp::kDestUnreachable |
                       1u << icmp::kSourceQuench | 1u << icmp::kTimeExceeded |
                       1u << icmp::kParameterProblem)};
  if (setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0) return Failed(fd);
  return {fd, 0};
}

std::string ExecutablePath() {
  std::array<char, 4096> path{};
  const ssize_t size = readlink("/proc/self/exe", path.data(), path.size() - 1);
  return size > 0 ? std::string(path.data(), static_cast<std::size_t>(size)) : "korvi";
}

std::string PingGroupRange() {
  std::ifstream file("/proc/sys/net/ipv4/ping_group_range");
  std::string low, high;
  return file >> low >> high ? low + " " + high : "(unreadable)";
}

std::string Describe(int error) {
  return std::error_code(error, std::generic_category()).message();
}

void ExplainOnce(const Attempt& datagram, const Attempt& raw) {
  static std::once_flag once;
  std::call_once(once, [&] {
    const std::string exe = ExecutablePath();
    std::string text = "cannot send ICMP echo requests; every probe fails (11050).\n";
    if (datagram.error != 0) {
      text += "  unprivileged ICMP socket: " + Describe(datagram.error);
      if (datagram.error == EACCES) {
        text += " (group " + std::to_string(getegid()) +
                " and the supplementary groups are outside net.ipv4.ping_group_range \"" +
                PingGroupRange() + "\")";
      }
      text += "\n";
    }
    if (raw.error != 0) {
      text += "  raw ICMP socket: " + Describe(raw.error);
      if (raw.error == EPERM) text += " (needs CAP_NET_RAW)";
      text += "\n";
    }
    text +=
        "To allow it, as root either widen the group range:\n"
        "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
        "(put the same line into /etc/sysctl.d/ to keep it), or let this program open raw "
        "sockets:\n  setcap cap_net_raw+ep " +
        ShellQuoted(exe);
    Report(text);
  });
}

// Once the datagram socket was refused and the raw one opened, later handles go straight to
// raw: a refused attempt costs as much as a third of a probe on loopback, and a raw socket,
// once allowed, stays allowed for the life of the process.
std::atomic<bool> raw_first{false};

}  // namespace

OpenedIcmpSocket OpenIcmpSocket(IcmpSocketKind kind) {
  if (kind == IcmpSocketKind::kAny && raw_first) {
    const Attempt raw = OpenRaw();
    if (raw.fd >= 0) return {raw.fd, IcmpSocketKind::kRaw};
  }
  Attempt datagram, raw;
  if (kind != IcmpSocketKind::kRaw) {
    datagram = OpenDatagram();
    if (datagram.fd >= 0) return {datagram.fd, IcmpSocketKind::kDatagram};
  }
  if (kind != IcmpSocketKind::kDatagram) {
    raw = OpenRaw();
    if (raw.fd >= 0) {
      if (kind == IcmpSocketKind::kAny) raw_first = true;
      return {raw.fd, IcmpSocketKind::kRaw};
    }
  }
  ExplainOnce(datagram, raw);
  return {};
}

}  // namespace platform
