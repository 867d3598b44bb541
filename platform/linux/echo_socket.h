#pragma once
// Switches of the Linux echo backend that platform/echo.h does not offer: which kind of ICMP
// socket IcmpCreateFile opens, and which kind a handle holds. Tests use them to exercise both.

#include "platform/echo.h"

namespace platform {

enum class IcmpSocketKind {
  kAny,       // the unprivileged datagram socket when allowed, else the raw socket
  kDatagram,  // socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP): needs net.ipv4.ping_group_range
  kRaw,       // socket(AF_INET, SOCK_RAW, IPPROTO_ICMP): needs CAP_NET_RAW
};

// Applies to every IcmpCreateFile from now on, in every thread. kAny is the default.
void ForceIcmpSocketKind(IcmpSocketKind kind);

// kDatagram or kRaw for an open handle; kAny for 0.
IcmpSocketKind IcmpSocketKindOf(IcmpHandle handle);

}  // namespace platform
