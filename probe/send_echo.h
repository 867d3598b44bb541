#pragma once
// One ICMP echo request per call; no state is kept between calls.

#include <cstdint>
#include <string>

#include "probe/echo_reply.h"

namespace Module1 {

inline constexpr std::uint32_t kTimeoutMs = 500;

// Sends one echo request carrying `payload` to the dotted IPv4 `address` and waits at most
// 500 ms. Returns -1 when the address does not parse (the record is untouched, nothing is
// sent), 0 only when the answer arrived (its data then starts the record's data area), and
// otherwise an IP status code: 11010 when nothing came in time, 11050 when the echo service
// could not be opened (the record is then untouched).
std::int32_t SendEcho(const std::wstring& address, const std::wstring& payload, EchoReply& reply);

}  // namespace Module1
