#pragma once
// The record that receives the answer to one echo request, and its 278-byte byte form:
// the 28-byte echo-reply header (status at bytes 4-7), then a 250-byte data area.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/echo.h"

inline constexpr std::size_t kEchoReplyHeaderSize = sizeof(platform::IcmpEchoReply32);
inline constexpr std::size_t kEchoReplyDataSize = 250;
inline constexpr std::size_t kEchoReplySize = kEchoReplyHeaderSize + kEchoReplyDataSize;
static_assert(kEchoReplyHeaderSize == 28);
static_assert(kEchoReplySize == 278);

using EchoReplyBytes = std::array<std::uint8_t, kEchoReplySize>;

struct EchoReply {
  platform::IcmpEchoReply32 Header{};
  // Exactly 250 characters, one per byte of the data area.
  std::wstring Data = std::wstring(kEchoReplyDataSize, L'\0');
};

// The byte form: each character of Data becomes the byte of the same value and back, so a
// comparison of two Data texts is a comparison of the bytes the service wrote.
EchoReplyBytes ToBytes(const EchoReply& reply);
EchoReply FromBytes(const EchoReplyBytes& bytes);
