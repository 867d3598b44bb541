#pragma once

#include <arpa/inet.h>

#include <string>

#include "platform/linux/echo_socket.h"
#include "probe/echo_reply.h"

namespace probe_test {

inline std::uint32_t Addr(const char* dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted, &address);
  return address.s_addr;
}

// The 250-character data area that starts with `start`.
inline std::wstring DataArea(std::wstring start) {
  start.resize(kEchoReplyDataSize, L'\0');
  return start;
}

// Opens sockets of one kind while alive; every test leaves the default behind.
class ForcedKind {
 public:
  explicit ForcedKind(platform::IcmpSocketKind kind) { platform::ForceIcmpSocketKind(kind); }
  ~ForcedKind() { platform::ForceIcmpSocketKind(platform::IcmpSocketKind::kAny); }
  ForcedKind(const ForcedKind&) = delete;
  ForcedKind& operator=(const ForcedKind&) = delete;
};

inline const char* Name(platform::IcmpSocketKind kind) {
  switch (kind) {
    case platform::IcmpSocketKind::kDatagram:
      return "datagram socket";
    case platform::IcmpSocketKind::kRaw:
      return "raw socket";
    default:
      return "any socket";
  }
}

}  // namespace probe_test
