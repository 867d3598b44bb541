#pragma once
// The ICMP echo service: one echo request to an IPv4 address and the reply it brought.

#include <cstddef>
#include <cstdint>

namespace platform {

// The address parser's rejection value.
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

// Parses a dotted IPv4 address by the classic rules (one to four parts, each decimal, octal
// with a leading 0 or hexadecimal with a leading 0x, the last part filling the remaining
// bytes). Returns the address in network byte order, or kInaddrNone; never resolves names.
std::uint32_t inet_addr(const char* text);

// The echo-reply header in its 32-bit layout, followed in the reply buffer by the echoed data.
struct IcmpEchoReply32 {
  std::uint32_t Address;        // replying address, network byte order
  std::int32_t Status;          // IP status code, see ip_status
  std::uint32_t RoundTripTime;  // milliseconds
  std::uint16_t DataSize;
  std::uint16_t Reserved;
  std::uint32_t Data;  // pointer in the 32-bit layout; not meaningful to readers
  std::uint8_t Ttl;
  std::uint8_t Tos;
  std::uint8_t Flags;
  std::uint8_t OptionsSize;
  std::uint32_t OptionsData;
};
static_assert(sizeof(IcmpEchoReply32) == 28);
static_assert(offsetof(IcmpEchoReply32, Status) == 4);
static_assert(offsetof(IcmpEchoReply32, RoundTripTime) == 8);
static_assert(offsetof(IcmpEchoReply32, DataSize) == 12);
static_assert(offsetof(IcmpEchoReply32, Data) == 16);
static_assert(offsetof(IcmpEchoReply32, Ttl) == 20);
static_assert(offsetof(IcmpEchoReply32, OptionsData) == 24);

// IP status codes, with the values that the Windows echo service reports.
namespace ip_status {
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kDestNetUnreachable = 11002;
inline constexpr std::int32_t kDestHostUnreachable = 11003;
inline constexpr std::int32_t kDestProtUnreachable = 11004;
inline constexpr std::int32_t kDestPortUnreachable = 11005;
inline constexpr std::int32_t kPacketTooBig = 11009;
inline constexpr std::int32_t kReqTimedOut = 11010;
inline constexpr std::int32_t kBadRoute = 11012;
inline constexpr std::int32_t kTtlExpiredTransit = 11013;
inline constexpr std::int32_t kTtlExpiredReassem = 11014;
inline constexpr std::int32_t kParamProblem = 11015;
inline constexpr std::int32_t kSourceQuench = 11016;
inline constexpr std::int32_t kGeneralFailure = 11050;
}  // namespace ip_status

using IcmpHandle = std::uintptr_t;  // 0: the service could not be opened

// Opens a handle to the echo service; 0 when that is not possible (for example when the
// user may not send ICMP). The first failure is explained once on standard error.
IcmpHandle IcmpCreateFile();

// Sends exactly one echo request carrying `request_data` to `destination` (network byte order)
// and waits at most `timeout_ms` for its answer. Always writes an IcmpEchoReply32 header with a
// status into `reply_buffer` (when `reply_size` holds one): kSuccess only when the answer to
// this very request arrived, and then the echoed data follows the header, cut to the buffer.
// `request_options` must be null. Returns the number of answers (0 or 1).
std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* request_data,
                           std::uint16_t request_size, const void* request_options,
                           void* reply_buffer, std::uint32_t reply_size, std::uint32_t timeout_ms);

bool IcmpCloseHandle(IcmpHandle handle);

}  // namespace platform
