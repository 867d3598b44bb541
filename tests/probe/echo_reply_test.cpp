#include "probe/echo_reply.h"

#include <gtest/gtest.h>

#include <bit>

namespace {

static_assert(std::endian::native == std::endian::little, "the byte form is little-endian");

TEST(EchoReplyBytes, HeaderFieldsAndDataSitWhereTheServiceWritesThem) {
  EchoReply reply;
  reply.Header.Address = 0x0100007F;  // 127.0.0.1 in network order
  reply.Header.Status = 11010;
  reply.Header.RoundTripTime = 0x01020304;
  reply.Data[0] = L'k';
  reply.Data[2] = wchar_t{0xFF};
  reply.Data[249] = L'y';

  const EchoReplyBytes bytes = ToBytes(reply);
  const std::array<std::uint8_t, 12> header{0x7F, 0, 0, 1, 0x02, 0x2B, 0, 0, 4, 3, 2, 1};
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
  EXPECT_EQ(bytes[28], 'k');
  EXPECT_EQ(bytes[29], 0);
  EXPECT_EQ(bytes[30], 0xFF);
  EXPECT_EQ(bytes[277], 'y');

  const EchoReply back = FromBytes(bytes);
  EXPECT_EQ(back.Header.Status, 11010);
  EXPECT_EQ(back.Header.Address, 0x0100007Fu);
  EXPECT_EQ(back.Data, reply.Data);
}

TEST(EchoReplyBytes, EveryByteValueIsOneCharacterAndBack) {
  EchoReplyBytes bytes{};
  for (std::size_t i = 0; i < kEchoReplyDataSize; ++i) {
    bytes[kEchoReplyHeaderSize + i] = static_cast<std::uint8_t>(255 - i);
  }
  const EchoReply reply = FromBytes(bytes);
  ASSERT_EQ(reply.Data.size(), kEchoReplyDataSize);
  for (std::size_t i = 0; i < kEchoReplyDataSize; ++i) {
    ASSERT_EQ(static_cast<std::uint32_t>(reply.Data[i]), 255 - i) << "character " << i;
  }
  EXPECT_EQ(ToBytes(reply), bytes);
}

TEST(EchoReplyBytes, DataTextOfAnotherLengthOrWiderCharactersStillMakes250Bytes) {
  struct Case {
    std::wstring data;
    std::uint8_t first, second, last;
  };
  const Case cases[] = {
      {L"", 0, 0, 0},
      {L"k", 'k', 0, 0},
      {std::wstring(300, L'x'), 'x', 'x', 'x'},  // only the first 250 fit
      {L"\x20AC\x100", '?', '?', 0},             // no byte has these values
  };
  for (const auto& c : cases) {
    EchoReply reply;
    reply.Data = c.data;
    const EchoReplyBytes bytes = ToBytes(reply);
    EXPECT_EQ(bytes[28], c.first);
    EXPECT_EQ(bytes[29], c.second);
    EXPECT_EQ(bytes[277], c.last);
  }
}

}  // namespace
