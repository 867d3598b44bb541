#pragma once
// What one received ICMP packet means for one outstanding echo request, and the reply buffer
// it turns into. Bytes in, verdict out: no sockets here, so that every odd packet can be fed
// in by a test or a fuzzer.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace platform::icmp {

inline constexpr std::uint8_t kEchoReply = 0;
inline constexpr std::uint8_t kDestUnreachable = 3;
inline constexpr std::uint8_t kSourceQuench = 4;
inline constexpr std::uint8_t kEchoRequest = 8;
inline constexpr std::uint8_t kTimeExceeded = 11;
inline constexpr std::uint8_t kParameterProblem = 12;
inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kIpHeaderMinSize = 20;

// The request that packets are matched against. Addresses in network byte order.
struct Request {
  std::uint32_t destination = 0;
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
  // A datagram socket chooses its own identifier and delivers only packets carrying it.
  bool check_identifier = true;
};

struct Verdict {
  enum class Kind { kForeign, kAnswer, kError };
  Kind kind = Kind::kForeign;
  std::int32_t status = 0;             // an ip_status code; meaningful unless kForeign
  std::uint32_t from = 0;              // replying or reporting address, network byte order
  std::uint8_t ttl = 0;                // 0 when the packet did not say
  std::span<const std::uint8_t> data;  // the echoed data, inside the packet; answers only
};

// The status for an ICMP error by its type and code; always one of the ip_status codes.
std::int32_t StatusForError(std::uint8_t type, std::uint8_t code);

// A packet as a raw socket reads it: the IPv4 header, then the ICMP message.
Verdict ParseRawPacket(std::span<const std::uint8_t> packet, const Request& request);

// An ICMP message as a datagram socket reads it (no IP header), sent by `source`.
Verdict ParseDatagram(std::span<const std::uint8_t> message, std::uint32_t source,
                      const Request& request);

// An ICMP error from a datagram socket's error queue: its type and code, the address that
// reported it, the destination of the packet it quotes, and the quoted ICMP message.
Verdict ParseQueuedError(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                         std::uint32_t original_destination, std::span<const std::uint8_t> quoted,
                         const Request& request);

// The Internet checksum; 0 over a message whose checksum field is right.
std::uint16_t Checksum(std::span<const std::uint8_t> bytes);

// An echo request carrying `data`, checksum filled in.
std::vector<std::uint8_t> EchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                      std::span<const std::uint8_t> data);

// Writes the 28-byte echo-reply header for `verdict` into `buffer` and, for an answer, the
// echoed data after it, cut to the buffer, with NUL bytes up to the buffer's end. A foreign
// verdict reads as a time-out: nothing of ours arrived. Nothing is written when the buffer
// cannot hold the header; the data area is left alone unless answered.
void WriteReply(const Verdict& verdict, std::uint32_t round_trip_ms,
                std::span<std::uint8_t> buffer);

}  // namespace platform::icmp
