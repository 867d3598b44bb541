// The Win32 echo backend on the system's own ICMP service. Packets go to loopback only.
#include "platform/echo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "probe/send_echo.h"

namespace {

constexpr std::uint8_t kCanary = 0xA5;
constexpr std::uint32_t kReplySize = 278;
constexpr std::size_t kHeader = sizeof(platform::IcmpEchoReply32);

struct Sent {
  std::uint32_t answers = 0;
  platform::IcmpEchoReply32 header{};
  // The caller's reply buffer and some bytes beyond the size it declared.
  std::array<std::uint8_t, kReplySize + 64> buffer{};
};

Sent SendToLoopback(const std::string& payload, std::uint32_t reply_size = kReplySize) {
  Sent sent;
  sent.buffer.fill(kCanary);
  const platform::IcmpHandle handle = platform::IcmpCreateFile();
  EXPECT_NE(handle, 0u);
  sent.answers = platform::IcmpSendEcho(handle, platform::inet_addr("127.0.0.1"), payload.data(),
                                        static_cast<std::uint16_t>(payload.size()), nullptr,
                                        sent.buffer.data(), reply_size, Module1::kTimeoutMs);
  EXPECT_TRUE(platform::IcmpCloseHandle(handle));
  std::memcpy(&sent.header, sent.buffer.data(), kHeader);
  return sent;
}

TEST(Win32Echo, LoopbackAnswerArrivesInTheProgramsLayout) {
  const Sent sent = SendToLoopback("kuy");
  EXPECT_EQ(sent.answers, 1u);
  EXPECT_EQ(sent.header.Status, platform::ip_status::kSuccess);
  EXPECT_EQ(sent.header.Address, platform::inet_addr("127.0.0.1"));
  EXPECT_EQ(sent.header.DataSize, 3);
  EXPECT_EQ(std::string(sent.buffer.begin() + kHeader, sent.buffer.begin() + kHeader + 3), "kuy");
  // Only the echoed bytes are written after the header.
  EXPECT_EQ(sent.buffer[kHeader + 3], kCanary);
}

TEST(Win32Echo, EchoedDataIsCutToTheCallersBuffer) {
  const struct {
    std::size_t payload;
    std::uint32_t reply_size;
    std::size_t data_written;
  } cases[] = {
      {0, kReplySize, 0},
      {1, kReplySize, 1},
      {250, kReplySize, 250},
      {251, kReplySize, 250},
      {1000, kReplySize, 250},
      {3, 29, 1},
      {3, 20, 0},  // no room even for the header: nothing is written
  };
  for (const auto& c : cases) {
    std::string payload(c.payload, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
    const Sent sent = SendToLoopback(payload, c.reply_size);
    SCOPED_TRACE("payload " + std::to_string(c.payload) + ", reply size " +
                 std::to_string(c.reply_size));
    EXPECT_EQ(sent.answers, 1u);
    const std::size_t header_written = c.reply_size >= kHeader ? kHeader : 0;
    if (header_written) {
      EXPECT_EQ(sent.header.DataSize, c.payload);
    }
    const auto data = sent.buffer.begin() + kHeader;
    EXPECT_TRUE(std::equal(data, data + c.data_written, payload.begin()));
    const auto untouched = header_written ? data + c.data_written : sent.buffer.begin();
    EXPECT_TRUE(std::all_of(untouched, sent.buffer.end(), [](auto b) { return b == kCanary; }));
  }
}

// Run by isolated.sh, which sets KORVI_ISOLATED and restarts the whole Wine stack inside the
// changed host: "silent" is a loopback that ignores echo requests, "denied" a process that
// may not open ICMP sockets.
TEST(IsolatedEcho, NoAnswerIsNeverReportedAsSuccess) {
  const char* mode = std::getenv("KORVI_ISOLATED");
  if (mode == nullptr) GTEST_SKIP() << "needs the changed host that isolated.sh sets up";
  const std::int32_t expected = std::string(mode) == "silent"
                                    ? platform::ip_status::kReqTimedOut
                                    : platform::ip_status::kGeneralFailure;

  EchoReply reply;
  const auto start = std::chrono::steady_clock::now();
  const std::int32_t status = Module1::SendEcho(L"127.0.0.1", L"kuy", reply);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(status, expected) << mode;
  EXPECT_EQ(reply.Data, std::wstring(kEchoReplyDataSize, L'\0'));
  RecordProperty(
      "milliseconds",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

  const Sent sent = SendToLoopback("kuy");
  EXPECT_EQ(sent.answers, 0u);
  EXPECT_EQ(sent.header.Status, expected);
  EXPECT_TRUE(std::all_of(sent.buffer.begin() + kHeader, sent.buffer.end(),
                          [](auto b) { return b == kCanary; }));
}

}  // namespace
