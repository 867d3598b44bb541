#include "platform/linux/echo_packet.h"

#include <algorithm>
#include <cstring>

#include "platform/echo.h"

namespace platform::icmp {
namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint16_t Read16(Bytes bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Addresses stay in network byte order: the bytes as they stand, in memory order.
std::uint32_t ReadAddress(Bytes bytes, std::size_t at) {
  std::uint32_t address;
  std::memcpy(&address, bytes.data() + at, sizeof address);
  return address;
}

bool IsErrorType(std::uint8_t type) {
  return type == kDestUnreachable || type == kSourceQuench || type == kTimeExceeded ||
         type == kParameterProblem;
}

// Whether an ICMP message (header first) is the echo request that `request` sent.
bool IsOurRequest(Bytes message, const Request& request) {
  return message.size() >= kIcmpHeaderSize && message[0] == kEchoRequest &&
         (!request.check_identifier || Read16(message, 4) == request.identifier) &&
         Read16(message, 6) == request.sequence;
}

// The IPv4 header length when `packet` starts with a usable IPv4 header carrying ICMP.
std::size_t IcmpOverIpv4(Bytes packet) {
  if (packet.size() < kIpHeaderMinSize || packet[0] >> 4 != 4) return 0;
  const std::size_t header = (packet[0] & 0x0F) * 4u;
  if (header < kIpHeaderMinSize || header > packet.size() || packet[9] != 1) return 0;
  return header;
}

Verdict Answer(Bytes message, std::uint32_t from, std::uint8_t ttl) {
  return {Verdict::Kind::kAnswer, ip_status::kSuccess, from, ttl, message.subspan(kIcmpHeaderSize)};
}

Verdict Error(std::uint8_t type, std::uint8_t code, std::uint32_t from, std::uint8_t ttl) {
  return {Verdict::Kind::kError, StatusForError(type, code), from, ttl, {}};
}

}  // namespace

std::int32_t StatusForError(std::uint8_t type, std::uint8_t code) {
  switch (type) {
    case kDestUnreachable:
      switch (code) {
        case 0:   // network
        case 6:   // network unknown
        case 9:   // network administratively prohibited
        case 11:  // network unreachable for the type of service
          return ip_status::kDestNetUnreachable;
        case 2:
          return ip_status::kDestProtUnreachable;
        case 3:
          return ip_status::kDestPortUnreachable;
        case 4:
          return ip_status::kPacketTooBig;
        case 5:
          return ip_status::kBadRoute;
        default:  // the host ones, and any code a later standard adds
          return ip_status::kDestHostUnreachable;
      }
    case kSourceQuench:
      return ip_status::kSourceQuench;
    case kTimeExceeded:
      return code == 1 ? ip_status::kTtlExpiredReassem : ip_status::kTtlExpiredTransit;
    case kParameterProblem:
      return ip_status::kParamProblem;
    default:
      return ip_status::kGeneralFailure;
  }
}

Verdict ParseRawPacket(Bytes packet, const Request& request) {
  const std::size_t header = IcmpOverIpv4(packet);
  if (header == 0) return {};
  const Bytes message = packet.subspan(header);
  if (message.size() < kIcmpHeaderSize || Checksum(message) != 0) return {};
  const std::uint32_t source = ReadAddress(packet, 12);
  const std::uint8_t ttl = packet[8];
  const std::uint8_t type = message[0];

  if (type == kEchoReply) {
    const bool ours = source == request.destination &&
                      (!request.check_identifier || Read16(message, 4) == request.identifier) &&
                      Read16(message, 6) == request.sequence;
    return ours ? Answer(message, source, ttl) : Verdict{};
  }
  if (!IsErrorType(type)) return {};
  // Every raw ICMP socket sees every error, so only one quoting our own request counts.
  const Bytes quoted = message.subspan(kIcmpHeaderSize);
  const std::size_t quoted_header = IcmpOverIpv4(quoted);
  if (quoted_header == 0 || ReadAddress(quoted, 16) != request.destination ||
      !IsOurRequest(quoted.subspan(quoted_header), request)) {
    return {};
  }
  return Error(type, message[1], source, ttl);
}

Verdict ParseDatagram(Bytes message, std::uint32_t source, const Request& request) {
  if (message.size() < kIcmpHeaderSize || message[0] != kEchoReply ||
      source != request.destination || Read16(message, 6) != request.sequence ||
      (request.check_identifier && Read16(message, 4) != request.identifier)) {
    return {};
  }
  return Answer(message, source, 0);
}

Verdict ParseQueuedError(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                         std::uint32_t original_destination, Bytes quoted, const Request& request) {
  if (!IsErrorType(type) || original_destination != request.destination ||
      !IsOurRequest(quoted, request)) {
    return {};
  }
  return Error(type, code, offender, 0);
}

std::uint16_t Checksum(Bytes bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) sum += Read16(bytes, i);
  if (bytes.size() % 2 != 0) sum += static_cast<std::uint32_t>(bytes.back()) << 8;
  while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> EchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                      Bytes data) {
  std::vector<std::uint8_t> message(kIcmpHeaderSize + data.size());
  message[0] = kEchoRequest;
  message[4] = static_cast<std::uint8_t>(identifier >> 8);
  message[5] = static_cast<std::uint8_t>(identifier);
  message[6] = static_cast<std::uint8_t>(sequence >> 8);
  message[7] = static_cast<std::uint8_t>(sequence);
  std::copy(data.begin(), data.end(), message.begin() + kIcmpHeaderSize);
  const std::uint16_t sum = Checksum(message);
  message[2] = static_cast<std::uint8_t>(sum >> 8);
  message[3] = static_cast<std::uint8_t>(sum);
  return message;
}

void WriteReply(const Verdict& verdict, std::uint32_t round_trip_ms,
                std::span<std::uint8_t> buffer) {
  if (buffer.size() < sizeof(IcmpEchoReply32)) return;
  const auto area = buffer.subspan(sizeof(IcmpEchoReply32));
  const bool answered = verdict.kind == Verdict::Kind::kAnswer;
  const std::size_t copied = answered ? std::min(verdict.data.size(), area.size()) : 0;

  IcmpEchoReply32 header{};
  header.Address = verdict.from;
  header.Status =
      verdict.kind == Verdict::Kind::kForeign ? ip_status::kReqTimedOut : verdict.status;
  header.RoundTripTime = round_trip_ms;
  header.DataSize = static_cast<std::uint16_t>(std::min<std::size_t>(copied, 0xFFFF));
  header.Ttl = verdict.ttl;
  std::memcpy(buffer.data(), &header, sizeof header);
  if (!answered) return;
  std::copy_n(verdict.data.begin(), copied, area.begin());
  std::fill(area.begin() + static_cast<std::ptrdiff_t>(copied), area.end(), 0);
}

}  // namespace platform::icmp
