#include "platform/linux/echo_packet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/echo.h"

namespace {

using platform::icmp::Request;
using platform::icmp::Verdict;
using Kind = Verdict::Kind;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Addr(const char* dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted, &address);
  return address.s_addr;
}

const std::uint32_t kTarget = Addr("10.200.1.2");
const std::uint32_t kElsewhere = Addr("10.200.1.99");
const std::uint32_t kUs = Addr("10.200.1.1");
const Request kRequest{kTarget, 0x1234, 0x0042, true};

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq,
           const Bytes& data) {
  Bytes message = platform::icmp::EchoRequest(id, seq, data);
  message[0] = type;
  message[1] = code;
  message[2] = message[3] = 0;
  const std::uint16_t sum = platform::icmp::Checksum(message);
  message[2] = static_cast<std::uint8_t>(sum >> 8);
  message[3] = static_cast<std::uint8_t>(sum);
  return message;
}

Bytes Ipv4(std::uint32_t source, std::uint32_t destination, const Bytes& payload,
           std::uint8_t protocol = 1, std::size_t header_size = 20) {
  Bytes packet(header_size, 0);
  packet[0] = static_cast<std::uint8_t>(0x40 | header_size / 4);
  packet[8] = 64;
  packet[9] = protocol;
  std::memcpy(&packet[12], &source, 4);
  std::memcpy(&packet[16], &destination, 4);
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}

Bytes Cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

// An ICMP error as a router sends it, quoting the start of the offending packet.
Bytes ErrorQuoting(std::uint8_t type, std::uint8_t code, const Bytes& original) {
  return Icmp(type, code, 0, 0, original);
}

const Bytes kOurRequest = Ipv4(kUs, kTarget, Icmp(8, 0, 0x1234, 0x0042, Text("kuy")));

TEST(ParseRawPacket, AcceptsOnlyTheAnswerOrErrorOfThisRequest) {
  Bytes bad_checksum = Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, Text("kuy")));
  bad_checksum.back() ^= 1;
  Bytes not_ipv4 = Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, Text("kuy")));
  not_ipv4[0] = 0x65;
  Bytes header_longer_than_packet = Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, {}));
  header_longer_than_packet[0] = 0x4F;  // 60 bytes of header in a 28-byte packet
  Bytes header_too_short = Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, {}));
  header_too_short[0] = 0x44;

  struct Case {
    const char* name;
    Bytes packet;
    Kind kind;
    std::int32_t status;
    std::string data;
  };
  const Case cases[] = {
      {"answer", Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, Text("kuy"))), Kind::kAnswer, 0,
       "kuy"},
      {"answer without data", Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, {})), Kind::kAnswer, 0,
       ""},
      {"answer after IP options",
       Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, Text("kuy")), 1, 24), Kind::kAnswer, 0, "kuy"},
      {"answer to another identifier", Ipv4(kTarget, kUs, Icmp(0, 0, 0x1235, 0x0042, Text("kuy"))),
       Kind::kForeign, 0, ""},
      {"answer to another sequence", Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0043, Text("kuy"))),
       Kind::kForeign, 0, ""},
      {"answer from another host", Ipv4(kElsewhere, kUs, Icmp(0, 0, 0x1234, 0x0042, Text("kuy"))),
       Kind::kForeign, 0, ""},
      // On loopback the raw socket would also read the request it sent.
      {"our own request", kOurRequest, Kind::kForeign, 0, ""},
      {"damaged answer", bad_checksum, Kind::kForeign, 0, ""},
      {"host unreachable quoting our request",
       Ipv4(kElsewhere, kUs, ErrorQuoting(3, 1, kOurRequest)), Kind::kError, 11003, ""},
      {"port unreachable quoting our request", Ipv4(kTarget, kUs, ErrorQuoting(3, 3, kOurRequest)),
       Kind::kError, 11005, ""},
      {"time exceeded quoting only the 8 bytes a router must keep",
       Ipv4(kElsewhere, kUs, ErrorQuoting(11, 0, Cut(kOurRequest, 28))), Kind::kError, 11013, ""},
      {"error quoting another identifier",
       Ipv4(kElsewhere, kUs,
            ErrorQuoting(3, 1, Ipv4(kUs, kTarget, Icmp(8, 0, 0x9999, 0x0042, Text("kuy"))))),
       Kind::kForeign, 0, ""},
      {"error quoting a request to another host",
       Ipv4(kElsewhere, kUs,
            ErrorQuoting(3, 1, Ipv4(kUs, kElsewhere, Icmp(8, 0, 0x1234, 0x0042, Text("kuy"))))),
       Kind::kForeign, 0, ""},
      {"error quoting a UDP packet",
       Ipv4(kElsewhere, kUs,
            ErrorQuoting(3, 3, Ipv4(kUs, kTarget, Icmp(8, 0, 0x1234, 0x0042, {}), 17))),
       Kind::kForeign, 0, ""},
      {"error quoting too little of the request",
       Ipv4(kElsewhere, kUs, ErrorQuoting(3, 1, Cut(kOurRequest, 27))), Kind::kForeign, 0, ""},
      {"redirect quoting our request", Ipv4(kElsewhere, kUs, ErrorQuoting(5, 1, kOurRequest)),
       Kind::kForeign, 0, ""},
      {"empty", {}, Kind::kForeign, 0, ""},
      {"IP header only", Ipv4(kTarget, kUs, {}), Kind::kForeign, 0, ""},
      {"IP header cut", Cut(Ipv4(kTarget, kUs, {}), 19), Kind::kForeign, 0, ""},
      {"ICMP header cut", Cut(Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, {})), 27),
       Kind::kForeign, 0, ""},
      {"not IPv4", not_ipv4, Kind::kForeign, 0, ""},
      {"header length past the end", header_longer_than_packet, Kind::kForeign, 0, ""},
      {"header length below 20", header_too_short, Kind::kForeign, 0, ""},
      {"not ICMP", Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, Text("kuy")), 17), Kind::kForeign,
       0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict verdict = platform::icmp::ParseRawPacket(c.packet, kRequest);
    EXPECT_EQ(verdict.kind, c.kind);
    if (c.kind == Kind::kForeign) continue;
    EXPECT_EQ(verdict.status, c.status);
    EXPECT_EQ(std::string(verdict.data.begin(), verdict.data.end()), c.data);
    std::uint32_t source;
    std::memcpy(&source, &c.packet[12], sizeof source);
    EXPECT_EQ(verdict.from, source);
    EXPECT_EQ(verdict.ttl, 64);
  }
}

TEST(ParseRawPacket, AnOversizeAnswerIsAllData) {
  const Bytes data(65000, 'z');
  const Bytes packet = Ipv4(kTarget, kUs, Icmp(0, 0, 0x1234, 0x0042, data));
  const Verdict verdict = platform::icmp::ParseRawPacket(packet, kRequest);
  EXPECT_EQ(verdict.kind, Kind::kAnswer);
  EXPECT_EQ(verdict.data.size(), data.size());
  EXPECT_EQ(verdict.data.data() + verdict.data.size(), packet.data() + packet.size());
}

TEST(ParseDatagram, TheKernelOwnsTheIdentifierSoSequenceAndSourceDecide) {
  const Request request{kTarget, 0x1234, 0x0042, false};
  struct Case {
    const char* name;
    Bytes message;
    std::uint32_t source;
    Kind kind;
  };
  const Case cases[] = {
      {"answer", Icmp(0, 0, 0x1234, 0x0042, Text("kuy")), kTarget, Kind::kAnswer},
      {"identifier chosen by the kernel", Icmp(0, 0, 0x0777, 0x0042, Text("kuy")), kTarget,
       Kind::kAnswer},
      {"another sequence", Icmp(0, 0, 0x1234, 0x0041, Text("kuy")), kTarget, Kind::kForeign},
      {"another source", Icmp(0, 0, 0x1234, 0x0042, Text("kuy")), kElsewhere, Kind::kForeign},
      {"not an answer", Icmp(8, 0, 0x1234, 0x0042, Text("kuy")), kTarget, Kind::kForeign},
      {"cut header", Cut(Icmp(0, 0, 0x1234, 0x0042, {}), 7), kTarget, Kind::kForeign},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict verdict = platform::icmp::ParseDatagram(c.message, c.source, request);
    EXPECT_EQ(verdict.kind, c.kind);
    if (c.kind == Kind::kAnswer) {
      EXPECT_EQ(verdict.data.size(), 3u);
    }
  }
}

TEST(ParseQueuedError, CountsOnlyErrorsQuotingThisRequest) {
  const Request request{kTarget, 0x1234, 0x0042, false};
  const Bytes ours = Icmp(8, 0, 0x0777, 0x0042, Text("kuy"));
  struct Case {
    const char* name;
    std::uint8_t type, code;
    std::uint32_t original_destination;
    Bytes quoted;
    Kind kind;
    std::int32_t status;
  };
  const Case cases[] = {
      {"host unreachable", 3, 1, kTarget, ours, Kind::kError, 11003},
      {"reassembly time exceeded", 11, 1, kTarget, ours, Kind::kError, 11014},
      {"parameter problem", 12, 0, kTarget, Cut(ours, 8), Kind::kError, 11015},
      {"another sequence", 3, 1, kTarget, Icmp(8, 0, 0x0777, 0x0041, {}), Kind::kForeign, 0},
      {"another destination", 3, 1, kElsewhere, ours, Kind::kForeign, 0},
      {"quoted header cut", 3, 1, kTarget, Cut(ours, 7), Kind::kForeign, 0},
      {"quoting an answer", 3, 1, kTarget, Icmp(0, 0, 0x0777, 0x0042, {}), Kind::kForeign, 0},
      {"not an error type", 5, 0, kTarget, ours, Kind::kForeign, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict verdict = platform::icmp::ParseQueuedError(
        c.type, c.code, kElsewhere, c.original_destination, c.quoted, request);
    EXPECT_EQ(verdict.kind, c.kind);
    if (c.kind != Kind::kForeign) {
      EXPECT_EQ(verdict.status, c.status);
      EXPECT_EQ(verdict.from, kElsewhere);
    }
  }
}

TEST(StatusForError, AsTheWindowsEchoServiceReportsThem) {
  struct Case {
    std::uint8_t type, code;
    std::int32_t status;
  };
  const Case cases[] = {
      {3, 0, 11002},  {3, 1, 11003},   {3, 2, 11004}, {3, 3, 11005},  {3, 4, 11009},
      {3, 5, 11012},  {3, 6, 11002},   {3, 7, 11003}, {3, 9, 11002},  {3, 10, 11003},
      {3, 13, 11003}, {3, 200, 11003}, {4, 0, 11016}, {11, 0, 11013}, {11, 1, 11014},
      {12, 0, 11015}, {12, 2, 11015},  {5, 0, 11050},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::icmp::StatusForError(c.type, c.code), c.status)
        << "type " << int{c.type} << " code " << int{c.code};
  }
}

TEST(Checksum, MatchesTheWorkedExampleAndVerifiesToZero) {
  const Bytes example{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(platform::icmp::Checksum(example), 0x220D);
  for (std::size_t size : {0u, 1u, 3u, 250u, 1473u}) {
    const Bytes request = platform::icmp::EchoRequest(0xBEEF, 7, Bytes(size, 0xA5));
    EXPECT_EQ(platform::icmp::Checksum(request), 0) << size << " data bytes";
  }
}

TEST(WriteReply, EveryCopyStaysInsideTheBuffer) {
  const Bytes long_data(1000, 'z');
  const Verdict answer{Kind::kAnswer, 0, kTarget, 64, long_data};
  const Verdict short_answer{Kind::kAnswer, 0, kTarget, 64, {long_data.data(), 3}};
  const Verdict error{Kind::kError, 11003, kElsewhere, 0, {}};
  struct Case {
    const char* name;
    Verdict verdict;
    std::size_t buffer_size;
    std::int32_t status;  // -1: nothing written
    std::size_t data_size;
    bool data_untouched;
  };
  const Case cases[] = {
      {"answer cut to the data area", answer, 278, 0, 250, false},
      {"short answer, NUL after it", short_answer, 278, 0, 3, false},
      {"answer into a header-only buffer", answer, 28, 0, 0, false},
      {"error leaves the data area alone", error, 278, 11003, 0, true},
      {"nothing of ours reads as a time-out", Verdict{}, 278, 11010, 0, true},
      {"buffer too small for the header", answer, 27, -1, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes storage(c.buffer_size + 16, 0xAA);  // the 16 bytes past the end must stay 0xAA
    platform::icmp::WriteReply(c.verdict, 5, {storage.data(), c.buffer_size});
    for (std::size_t i = c.buffer_size; i < storage.size(); ++i) ASSERT_EQ(storage[i], 0xAA);
    if (c.status < 0) {
      EXPECT_EQ(storage[0], 0xAA);
      continue;
    }
    platform::IcmpEchoReply32 header;
    std::memcpy(&header, storage.data(), sizeof header);
    EXPECT_EQ(header.Status, c.status);
    EXPECT_EQ(header.DataSize, c.data_size);
    EXPECT_EQ(header.RoundTripTime, 5u);
    for (std::size_t i = 28; i < c.buffer_size; ++i) {
      const std::uint8_t expected = c.data_untouched ? 0xAA : i - 28 < c.data_size ? 'z' : 0;
      ASSERT_EQ(storage[i], expected) << "byte " << i;
    }
  }
}

}  // namespace
