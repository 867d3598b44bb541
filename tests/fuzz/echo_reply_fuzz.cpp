// Any received packet, of any size, through the parser that turns it into a status and reply
// data, then into reply buffers of any size: nothing is read or written past a buffer, the
// status is always a known code, 0 only for an answer to our own request, and the record's
// byte form survives the trip through its text form unchanged.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/echo.h"
#include "platform/linux/echo_packet.h"
#include "probe/echo_reply.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace icmp = platform::icmp;
using Kind = icmp::Verdict::Kind;
using Bytes = std::span<const std::uint8_t>;

const std::set<std::int32_t> kKnownStatus = {0,     11002, 11003, 11004, 11005, 11009, 11010,
                                             11012, 11013, 11014, 11015, 11016, 11050};

enum class Reader { kRaw, kDatagram, kQueuedError, kMaxValue = kQueuedError };

std::uint16_t Read16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

std::size_t IpHeaderSize(const std::vector<std::uint8_t>& packet) {
  return packet.empty() ? 0 : (packet[0] & 0x0F) * 4u;
}

// Random packets almost never carry a right checksum or our request's numbers; on request,
// make them, so that the fuzzer reaches what lies behind those checks.
void Aim(std::vector<std::uint8_t>& packet, Reader reader, icmp::Request& request,
         std::uint32_t& original_destination) {
  const std::size_t at = reader == Reader::kRaw ? IpHeaderSize(packet) : 0;
  if (packet.size() < at + icmp::kIcmpHeaderSize || packet.size() < icmp::kIpHeaderMinSize) {
    return;
  }
  request.identifier = Read16(packet, at + 4);
  request.sequence = Read16(packet, at + 6);
  if (reader == Reader::kRaw) {
    std::memcpy(&request.destination, &packet[12], 4);
    packet[at + 2] = packet[at + 3] = 0;
    const std::uint16_t sum = icmp::Checksum(Bytes(packet).subspan(at));
    packet[at + 2] = static_cast<std::uint8_t>(sum >> 8);
    packet[at + 3] = static_cast<std::uint8_t>(sum);
  } else if (reader == Reader::kQueuedError) {
    original_destination = request.destination;
  }
}

void CheckReply(const icmp::Verdict& verdict, std::size_t size) {
  constexpr std::uint8_t kUntouched = 0xA5;
  const auto buffer = std::make_unique<std::uint8_t[]>(size);
  std::fill_n(buffer.get(), size, kUntouched);
  icmp::WriteReply(verdict, 7, {buffer.get(), size});
  if (size < kEchoReplyHeaderSize) {
    FUZZ_CHECK(std::all_of(buffer.get(), buffer.get() + size,
                           [](std::uint8_t b) { return b == kUntouched; }));
    return;
  }
  platform::IcmpEchoReply32 header;
  std::memcpy(&header, buffer.get(), sizeof header);
  FUZZ_CHECK(kKnownStatus.count(header.Status) == 1);
  FUZZ_CHECK((header.Status == 0) == (verdict.kind == Kind::kAnswer));
  const std::uint8_t* area = buffer.get() + kEchoReplyHeaderSize;
  const std::size_t area_size = size - kEchoReplyHeaderSize;
  if (verdict.kind != Kind::kAnswer) {
    FUZZ_CHECK(std::all_of(area, area + area_size, [](std::uint8_t b) { return b == kUntouched; }));
    return;
  }
  const std::size_t copied = std::min(verdict.data.size(), area_size);
  FUZZ_CHECK(header.DataSize == copied);
  FUZZ_CHECK(std::equal(area, area + copied, verdict.data.begin()));
  FUZZ_CHECK(std::all_of(area + copied, area + area_size, [](std::uint8_t b) { return b == 0; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const auto reader = in.ConsumeEnum<Reader>();
  const bool aim = in.ConsumeBool();
  icmp::Request request{in.ConsumeIntegral<std::uint32_t>(), in.ConsumeIntegral<std::uint16_t>(),
                        in.ConsumeIntegral<std::uint16_t>(), in.ConsumeBool()};
  const auto type = in.ConsumeIntegral<std::uint8_t>();
  const auto code = in.ConsumeIntegral<std::uint8_t>();
  const auto source = in.ConsumeIntegral<std::uint32_t>();
  auto original_destination = in.ConsumeIntegral<std::uint32_t>();
  const auto buffer_size = in.ConsumeIntegralInRange<std::size_t>(0, 2 * kEchoReplySize);
  std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();
  if (aim) Aim(bytes, reader, request, original_destination);

  // Exactly the packet's size on the heap, so that a read past its end is caught.
  const auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), exact.get());
  const Bytes packet(exact.get(), bytes.size());

  icmp::Verdict verdict;
  switch (reader) {
    case Reader::kRaw:
      verdict = icmp::ParseRawPacket(packet, request);
      break;
    case Reader::kDatagram:
      verdict = icmp::ParseDatagram(packet, source, request);
      break;
    case Reader::kQueuedError:
      verdict = icmp::ParseQueuedError(type, code, source, original_destination, packet, request);
      break;
  }
  if (verdict.kind != Kind::kForeign) FUZZ_CHECK(kKnownStatus.count(verdict.status) == 1);
  FUZZ_CHECK((verdict.kind == Kind::kAnswer) ==
             (verdict.kind != Kind::kForeign && verdict.status == platform::ip_status::kSuccess));
  FUZZ_CHECK(verdict.data.empty() || verdict.kind == Kind::kAnswer);
  FUZZ_CHECK(verdict.data.empty() ||
             (verdict.data.data() >= packet.data() &&
              verdict.data.data() + verdict.data.size() <= packet.data() + packet.size()));
  if (verdict.kind == Kind::kAnswer) {
    // Only an echo reply from the probed address, carrying our sequence, is an answer.
    const std::size_t at = reader == Reader::kRaw ? IpHeaderSize(bytes) : 0;
    FUZZ_CHECK(bytes[at] == icmp::kEchoReply);
    FUZZ_CHECK(Read16(bytes, at + 6) == request.sequence);
    FUZZ_CHECK(verdict.from == request.destination);
  }

  CheckReply(verdict, buffer_size);
  CheckReply(verdict, kEchoReplySize);

  EchoReplyBytes record{};
  icmp::WriteReply(verdict, 7, record);
  FUZZ_CHECK(ToBytes(FromBytes(record)) == record);
  return 0;
}
