#include "platform/echo.h"

// Order matters: winsock2.h before windows.h, and icmpapi.h after everything it builds on.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <icmpapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/report.h"
#include "platform/win32/last_error.h"

namespace platform {
namespace {

// The service writes its own reply header, 40 bytes on 64-bit Windows, and wants room after
// the echoed data for an ICMP error and for its I/O status block.
static_assert(sizeof(ICMP_ECHO_REPLY) == (sizeof(void*) == 8 ? 40 : 28));
constexpr std::size_t kNativeSlack = 8 + 2 * sizeof(void*) + 64;

bool IsIpStatus(DWORD code) {
  return code >= 11000 && code <= 11999;
}

void ExplainOnce(const char* what, DWORD error) {
  static bool explained = false;
  if (explained) return;
  explained = true;
  Report(std::string(what) + ": " + LastErrorText(error));
}

// The program reads the reply in the 28-byte layout: copy the header fields over, and the
// echoed data only when an answer arrived.
void FillReply(const std::vector<unsigned char>& native, std::int32_t status, bool answered,
               void* reply_buffer, std::uint32_t reply_size) {
  if (reply_size < sizeof(IcmpEchoReply32)) return;
  ICMP_ECHO_REPLY in;
  std::memcpy(&in, native.data(), sizeof in);

  IcmpEchoReply32 out{};
  out.Address = in.Address;
  out.Status = status;
  out.RoundTripTime = in.RoundTripTime;
  out.DataSize = in.DataSize;
  out.Reserved = in.Reserved;
  out.Ttl = in.Options.Ttl;
  out.Tos = in.Options.Tos;
  out.Flags = in.Options.Flags;
  out.OptionsSize = in.Options.OptionsSize;
  auto* bytes = static_cast<unsigned char*>(reply_buffer);
  std::memcpy(bytes, &out, sizeof out);
  if (!answered) return;

  // The data pointer is the service's; trust it only inside the buffer we gave it.
  const auto* data = static_cast<const unsigned char*>(in.Data);
  const unsigned char* begin = native.data();
  const unsigned char* end = begin + native.size();
  if (data < begin + sizeof in || data > end) return;
  const std::size_t count = std::min<std::size_t>(
      {in.DataSize, static_cast<std::size_t>(end - data), reply_size - sizeof out});
  std::memcpy(bytes + sizeof out, data, count);
}

}  // namespace

std::uint32_t inet_addr(const char* text) {
  return ::inet_addr(text);
}

IcmpHandle IcmpCreateFile() {
  const HANDLE handle = ::IcmpCreateFile();
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    ExplainOnce("the ICMP echo service cannot be opened (IcmpCreateFile)", GetLastError());
    return 0;
  }
  return reinterpret_cast<IcmpHandle>(handle);
}

std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* request_data,
                           std::uint16_t request_size, const void* /*request_options*/,
                           void* reply_buffer, std::uint32_t reply_size, std::uint32_t timeout_ms) {
  std::vector<unsigned char> native(sizeof(ICMP_ECHO_REPLY) + request_size + kNativeSlack);
  const DWORD answers = ::IcmpSendEcho(
      reinterpret_cast<HANDLE>(handle), destination, const_cast<void*>(request_data), request_size,
      nullptr, native.data(), static_cast<DWORD>(native.size()), timeout_ms);
  const DWORD error = answers == 0 ? GetLastError() : ERROR_SUCCESS;

  ICMP_ECHO_REPLY head;
  std::memcpy(&head, native.data(), sizeof head);
  // A failed call may leave the buffer untouched, and an untouched status reads as success.
  std::int32_t status = static_cast<std::int32_t>(head.Status);
  if (answers == 0 && status == ip_status::kSuccess) {
    status = IsIpStatus(error) ? static_cast<std::int32_t>(error) : ip_status::kGeneralFailure;
    if (error == ERROR_ACCESS_DENIED) {
      ExplainOnce("the ICMP echo service refused to send (IcmpSendEcho)", error);
    }
  }
  const bool answered = answers > 0 && status == ip_status::kSuccess;
  FillReply(native, status, answered, reply_buffer, reply_size);
  return answered ? 1 : 0;
}

bool IcmpCloseHandle(IcmpHandle handle) {
  return ::IcmpCloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

}  // namespace platform
