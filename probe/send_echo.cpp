#include "probe/send_echo.h"

#include <algorithm>
#include <limits>

#include "platform/ansi.h"

namespace Module1 {

std::int32_t SendEcho(const std::wstring& address, const std::wstring& payload, EchoReply& reply) {
  const std::uint32_t destination = platform::inet_addr(platform::ToAnsi(address).c_str());
  if (destination == platform::kInaddrNone) return -1;

  // Reporting 0 here would read as an answer; the service tells the user once what to allow.
  const platform::IcmpHandle handle = platform::IcmpCreateFile();
  if (handle == 0) return platform::ip_status::kGeneralFailure;

  EchoReplyBytes bytes = ToBytes(reply);
  // One byte per character in a single-byte code page; in UTF-8 a character may take more,
  // and all of its bytes go out.
  const std::string data = platform::ToAnsi(payload);
  const auto size = static_cast<std::uint16_t>(
      std::min<std::size_t>(data.size(), std::numeric_limits<std::uint16_t>::max()));
  platform::IcmpSendEcho(handle, destination, data.data(), size, nullptr, bytes.data(),
                         static_cast<std::uint32_t>(bytes.size()), kTimeoutMs);
  reply = FromBytes(bytes);
  const std::int32_t status = reply.Header.Status;
  platform::IcmpCloseHandle(handle);
  return status;
}

}  // namespace Module1
