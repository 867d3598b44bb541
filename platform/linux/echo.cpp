// The echo service on Linux: one ICMP socket per handle, one request per IcmpSendEcho, and a
// wait on a monotonic deadline for the packet that answers exactly that request.

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/echo.h"
#include "platform/linux/echo_open.h"
#include "platform/linux/echo_packet.h"
#include "platform/linux/echo_socket.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using icmp::Verdict;

struct EchoSocket {
  int fd = -1;
  IcmpSocketKind kind = IcmpSocketKind::kRaw;
  // Large enough for any IPv4 packet, so that nothing a socket delivers is ever cut short.
  // Left uninitialised: only bytes that a read delivered are ever looked at.
  std::array<std::uint8_t, 65536> packet;
};

std::atomic<IcmpSocketKind> forced_kind{IcmpSocketKind::kAny};

EchoSocket* FromHandle(IcmpHandle handle) {
  return reinterpret_cast<EchoSocket*>(handle);
}

std::uint32_t RandomBits() {
  std::uint32_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
    bits = static_cast<std::uint32_t>(getpid()) ^
           static_cast<std::uint32_t>(Clock::now().time_since_epoch().count());
  }
  return bits;
}

// Random per process, so that other programs' probes (and other korvis') carry other
// identifiers; the sequence tells this process's requests apart.
const std::uint32_t kProcessBits = RandomBits();
std::atomic<std::uint16_t> next_sequence{static_cast<std::uint16_t>(kProcessBits >> 16)};

Verdict Failure(std::int32_t status) {
  return {Verdict::Kind::kError, status, 0, 0, {}};
}

std::int32_t StatusForSendError(int error) {
  switch (error) {
    case ENETUNREACH:
      return ip_status::kDestNetUnreachable;
    case EHOSTUNREACH:
      return ip_status::kDestHostUnreachable;
    default:
      return ip_status::kGeneralFailure;
  }
}

timespec Remaining(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
  const auto ns = left.count() > 0 ? left.count() : 0;
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Reads every queued packet; returns the first one that is ours.
Verdict ReadReplies(EchoSocket& socket, const icmp::Request& request) {
  for (;;) {
    sockaddr_in source{};
    socklen_t source_size = sizeof source;
    const ssize_t size = recvfrom(socket.fd, socket.packet.data(), socket.packet.size(),
                                  MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&source), &source_size);
    if (size < 0) {
      if (errno == EINTR) continue;
      return {};  // drained, or a pending error that the error queue reports
    }
    const std::span<const std::uint8_t> bytes(socket.packet.data(), static_cast<std::size_t>(size));
    const Verdict verdict = socket.kind == IcmpSocketKind::kRaw
                                ? icmp::ParseRawPacket(bytes, request)
                                : icmp::ParseDatagram(bytes, source.sin_addr.s_addr, request);
    if (verdict.kind != Verdict::Kind::kForeign) return verdict;
  }
}

// A datagram socket's ICMP errors wait in its error queue, each with the request it quotes.
Verdict ReadErrors(EchoSocket& socket, const icmp::Request& request) {
  Verdict found;
  for (;;) {
    sockaddr_in original{};
    iovec io{socket.packet.data(), socket.packet.size()};
    alignas(cmsghdr) std::array<char, 128> control{};
    msghdr message{};
    message.msg_name = &original;
    message.msg_namelen = sizeof original;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t size = recvmsg(socket.fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (size < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR ||
          c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
        continue;
      }
      sock_extended_err error;
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      if (error.ee_origin != SO_EE_ORIGIN_ICMP) continue;
      sockaddr_in offender;
      std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
      const std::span<const std::uint8_t> quoted(socket.packet.data(),
                                                 static_cast<std::size_t>(size));
      const Verdict verdict =
          icmp::ParseQueuedError(error.ee_type, error.ee_code, offender.sin_addr.s_addr,
                                 original.sin_addr.s_addr, quoted, request);
      if (verdict.kind != Verdict::Kind::kForeign && found.kind == Verdict::Kind::kForeign) {
        found = verdict;
      }
    }
  }
  // Reading the queue clears the socket's pending error too, except when an error could not
  // be queued; clear that one as well, or poll would report it for ever.
  int pending = 0;
  socklen_t length = sizeof pending;
  getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &pending, &length);
  return found;
}

Verdict AwaitVerdict(EchoSocket& socket, const icmp::Request& request, Clock::time_point deadline) {
  for (;;) {
    if (Clock::now() >= deadline) return Failure(ip_status::kReqTimedOut);
    pollfd watched{socket.fd, POLLIN, 0};
    const timespec left = Remaining(deadline);
    const int ready = ppoll(&watched, 1, &left, nullptr);
    if (ready < 0 && errno != EINTR) return Failure(ip_status::kGeneralFailure);
    if (ready <= 0) continue;
    if ((watched.revents & POLLNVAL) != 0) return Failure(ip_status::kGeneralFailure);
    if ((watched.revents & POLLERR) != 0) {
      const Verdict verdict = ReadErrors(socket, request);
      if (verdict.kind != Verdict::Kind::kForeign) return verdict;
    }
    if ((watched.revents & POLLIN) != 0) {
      const Verdict verdict = ReadReplies(socket, request);
      if (verdict.kind != Verdict::Kind::kForeign) return verdict;
    }
  }
}

}  // namespace

void ForceIcmpSocketKind(IcmpSocketKind kind) {
  forced_kind = kind;
}

IcmpSocketKind IcmpSocketKindOf(IcmpHandle handle) {
  return handle == 0 ? IcmpSocketKind::kAny : FromHandle(handle)->kind;
}

IcmpHandle IcmpCreateFile() {
  const OpenedIcmpSocket opened = OpenIcmpSocket(forced_kind);
  if (opened.fd < 0) return 0;
  auto* socket = new EchoSocket;
  socket->fd = opened.fd;
  socket->kind = opened.kind;
  return reinterpret_cast<IcmpHandle>(socket);
}

bool IcmpCloseHandle(IcmpHandle handle) {
  if (handle == 0) return false;
  EchoSocket* socket = FromHandle(handle);
  const bool closed = close(socket->fd) == 0;
  delete socket;
  return closed;
}

std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* request_data,
                           std::uint16_t request_size, const void* /*request_options*/,
                           void* reply_buffer, std::uint32_t reply_size, std::uint32_t timeout_ms) {
  const std::span<std::uint8_t> buffer(static_cast<std::uint8_t*>(reply_buffer),
                                       reply_buffer == nullptr ? 0 : reply_size);
  if (handle == 0) {
    icmp::WriteReply(Failure(ip_status::kGeneralFailure), 0, buffer);
    return 0;
  }
  EchoSocket& socket = *FromHandle(handle);
  const icmp::Request request{destination, static_cast<std::uint16_t>(kProcessBits),
                              next_sequence++, socket.kind == IcmpSocketKind::kRaw};
  const std::size_t data_size = request_data == nullptr ? 0 : request_size;
  const auto message =
      icmp::EchoRequest(request.identifier, request.sequence,
                        {static_cast<const std::uint8_t*>(request_data), data_size});

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = destination;
  ssize_t sent;
  do {
    sent = sendto(socket.fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    icmp::WriteReply(Failure(StatusForSendError(errno)), 0, buffer);
    return 0;
  }
  const auto sent_at = Clock::now();

  const Verdict verdict =
      AwaitVerdict(socket, request, sent_at + std::chrono::milliseconds(timeout_ms));
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent_at);
  icmp::WriteReply(verdict, static_cast<std::uint32_t>(elapsed.count()), buffer);
  return verdict.kind == Verdict::Kind::kAnswer ? 1 : 0;
}

}  // namespace platform
