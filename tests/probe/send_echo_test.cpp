// Real echo requests to loopback addresses, in the network namespace the test runs in: they
// never leave the machine.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/echo_socket.h"
#include "platform/report.h"
#include "probe/send_echo.h"
#include "tests/probe/probe_test_util.h"

namespace {

using probe_test::Addr;
using probe_test::DataArea;

class Loopback : public testing::Test {
 protected:
  void SetUp() override {
    const platform::IcmpHandle handle = platform::IcmpCreateFile();
    if (handle == 0) {
      GTEST_SKIP() << "this user may open no ICMP socket (the reason is on standard error): "
                      "run as root or widen net.ipv4.ping_group_range";
    }
    platform::IcmpCloseHandle(handle);
  }
};

TEST_F(Loopback, EveryWrittenFormOfTheAddressProbesWhatItMeans) {
  struct Case {
    std::wstring text;
    const char* replied_from;
  };
  const Case cases[] = {
      {L"127.0.0.1", "127.0.0.1"},          {L"127.1", "127.0.0.1"},      {L"0x7f.1", "127.0.0.1"},
      {L"0177.0.0.01", "127.0.0.1"},        {L"2130706433", "127.0.0.1"}, {L"127.2", "127.0.0.2"},
      {L"127.0.0.1 and more", "127.0.0.1"},  // a blank ends the address
  };
  for (const auto& c : cases) {
    EchoReply reply;
    EXPECT_EQ(Module1::SendEcho(c.text, L"kuy", reply), 0) << c.replied_from;
    EXPECT_EQ(reply.Header.Address, Addr(c.replied_from));
    EXPECT_EQ(reply.Data, DataArea(L"kuy"));
  }
}

TEST_F(Loopback, AnAddressThatDoesNotParseLeavesTheRecordAlone) {
  const std::wstring texts[] = {
      L"localhost",       L"ip6-localhost", L"256.0.0.1",
      L"127.0.0.256",     L"1.2.3.4.5",     L"",
      L"255.255.255.255", L"0xffffffff",    L"08.0.0.1",
      L"127.0.0.1x",      L" 127.0.0.1",    L"\xFF11\xFF12\xFF17.0.0.1",  // full-width digits
  };
  for (const auto& text : texts) {
    EchoReply reply;
    reply.Header.Status = 4321;
    reply.Data = std::wstring(kEchoReplyDataSize, L'#');
    const EchoReply before = reply;
    EXPECT_EQ(Module1::SendEcho(text, L"kuy", reply), -1);
    EXPECT_EQ(ToBytes(reply), ToBytes(before));
  }
}

std::wstring Payload(std::size_t size) {
  std::wstring payload(size, L'\0');
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<wchar_t>(L'a' + i % 26);
  return payload;
}

TEST_F(Loopback, APayloadOfNCharactersComesBackAsNBytes) {
  for (std::size_t size : {0u, 1u, 3u, 249u, 250u, 251u, 1472u, 65507u}) {
    const std::wstring payload = Payload(size);
    EchoReply reply;
    EXPECT_EQ(Module1::SendEcho(L"127.0.0.1", payload, reply), 0) << size;
    EXPECT_EQ(reply.Header.DataSize, std::min<std::size_t>(size, kEchoReplyDataSize)) << size;
    EXPECT_EQ(reply.Data, DataArea(payload.substr(0, kEchoReplyDataSize))) << size;
  }
}

TEST_F(Loopback, NulCharactersInThePayloadTravelToo) {
  EchoReply reply;
  EXPECT_EQ(Module1::SendEcho(L"127.0.0.1", std::wstring(L"k\0y", 3), reply), 0);
  EXPECT_EQ(reply.Data, DataArea(std::wstring(L"k\0y", 3)));
}

TEST_F(Loopback, ABufferLargerThanTheRecordHoldsAllTheEchoedData) {
  for (std::size_t size : {251u, 1473u, 65507u}) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint8_t> buffer(28 + size + 4, 0xAA);
    const platform::IcmpHandle handle = platform::IcmpCreateFile();
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(platform::IcmpSendEcho(handle, Addr("127.0.0.1"), data.data(),
                                     static_cast<std::uint16_t>(size), nullptr, buffer.data(),
                                     static_cast<std::uint32_t>(buffer.size()), 500),
              1u);
    platform::IcmpCloseHandle(handle);
    platform::IcmpEchoReply32 header;
    std::memcpy(&header, buffer.data(), sizeof header);
    EXPECT_EQ(header.Status, 0) << size;
    EXPECT_EQ(header.DataSize, size);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin() + 28)) << size;
    EXPECT_EQ(buffer.back(), 0) << "the rest of the buffer is cleared after the data";
  }
}

TEST_F(Loopback, TooMuchDataForOneIpv4PacketIsAGeneralFailure) {
  EchoReply reply;
  EXPECT_EQ(Module1::SendEcho(L"127.0.0.1", Payload(65508), reply), 11050);
  EXPECT_EQ(reply.Data, DataArea(L""));
}

TEST_F(Loopback, OneHandleAnswersEachRequestWithItsOwnData) {
  const platform::IcmpHandle handle = platform::IcmpCreateFile();
  ASSERT_NE(handle, 0u);
  for (const std::string data : {"first", "second", "third"}) {
    std::array<std::uint8_t, 64> buffer{};
    platform::IcmpSendEcho(handle, Addr("127.0.0.1"), data.data(),
                           static_cast<std::uint16_t>(data.size()), nullptr, buffer.data(),
                           static_cast<std::uint32_t>(buffer.size()), 500);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()) + 28), data);
  }
  EXPECT_TRUE(platform::IcmpCloseHandle(handle));
}

// The command the refusal prints for the user to paste names korvi's path, which may hold
// anything a file name may.
TEST(RefusalHint, TheQuotedPathIsOneWordForSh) {
  for (const std::string path : {"/opt/korvi/korvi", "/home/ä b/.local/share/korvi/korvi",
                                 "/it's/a'b'/korvi", "/$HOME/`x`/\\\"/*?/korvi", "/new\nline"}) {
    FILE* sh = popen(("printf %s " + platform::ShellQuoted(path)).c_str(), "r");
    ASSERT_NE(sh, nullptr);
    std::string read_back;
    for (int c; (c = std::fgetc(sh)) != EOF;) read_back += static_cast<char>(c);
    EXPECT_EQ(pclose(sh), 0);
    EXPECT_EQ(read_back, path);
  }
}

}  // namespace
