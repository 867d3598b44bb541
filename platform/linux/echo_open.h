#pragma once
// Opening the ICMP socket behind an echo handle, and saying once why none could be opened.

#include "platform/linux/echo_socket.h"

namespace platform {

struct OpenedIcmpSocket {
  int fd = -1;  // -1 when no kind allowed by the request could be opened
  IcmpSocketKind kind = IcmpSocketKind::kAny;
};

// Opens a socket of `kind` (kAny: datagram first, then raw), set up for echo. When none opens,
// the first such failure in the process is explained on standard error.
OpenedIcmpSocket OpenIcmpSocket(IcmpSocketKind kind);

}  // namespace platform
