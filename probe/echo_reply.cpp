#include "probe/echo_reply.h"

#include <cstring>

EchoReplyBytes ToBytes(const EchoReply& reply) {
  EchoReplyBytes bytes{};
  std::memcpy(bytes.data(), &reply.Header, kEchoReplyHeaderSize);
  for (std::size_t i = 0; i < kEchoReplyDataSize && i < reply.Data.size(); ++i) {
    const auto c = static_cast<std::uint32_t>(reply.Data[i]);
    // Only the service fills the data text, one byte per character; anything wider has no byte.
    bytes[kEchoReplyHeaderSize + i] = c <= 0xFF ? static_cast<std::uint8_t>(c) : '?';
  }
  return bytes;
}

EchoReply FromBytes(const EchoReplyBytes& bytes) {
  EchoReply reply;
  std::memcpy(&reply.Header, bytes.data(), kEchoReplyHeaderSize);
  for (std::size_t i = 0; i < kEchoReplyDataSize; ++i) {
    reply.Data[i] = static_cast<wchar_t>(bytes[kEchoReplyHeaderSize + i]);
  }
  return reply;
}
