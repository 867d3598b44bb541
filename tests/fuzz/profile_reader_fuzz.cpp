// Any settings file bytes, any section and key: the reader never reads past the file's bytes,
// the value it finds lies inside them on one line, and what korvi gets through the real file
// is that value cut to 254 bytes. A UTF-16 file is read as its text; one in an encoding that
// cannot be read gives nothing.

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ansi.h"
#include "platform/common/profile_encoding.h"
#include "platform/common/profile_text.h"
#include "settings/ini.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// An in-memory file with a path, so that every run goes through open and read as korvi does
// without touching a disk.
int SettingsFile() {
  static const int fd = [] {
    const int made = memfd_create("korvi.ini", MFD_CLOEXEC);
    FUZZ_CHECK(made >= 0);
    ini::IniFile = platform::FromAnsi("/proc/self/fd/" + std::to_string(made));
    return made;
  }();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // The API takes C strings: a name ends at its first NUL.
  const std::string section = in.ConsumeRandomLengthString(16).c_str();
  const std::string key = in.ConsumeRandomLengthString(16).c_str();
  const std::string file = in.ConsumeRemainingBytesAsString();
  namespace encoding = platform::profile_encoding;
  const auto utf16 = encoding::DecodeUtf16(file);
  // A UTF-16 file comes back byte for byte, whatever its code units.
  if (utf16) FUZZ_CHECK_EQ(encoding::EncodeUtf16(*utf16), file);
  const bool unreadable = !utf16 && !encoding::UnreadableEncoding(file).empty();
  const std::string& rules_text = utf16 ? utf16->text : file;

  // A buffer of exactly the file's size, so that a read one byte past it is caught.
  const auto exact = std::make_unique<char[]>(rules_text.size());
  std::memcpy(exact.get(), rules_text.data(), rules_text.size());
  const std::string_view text(exact.get(), rules_text.size());
  auto value = platform::profile_text::FindValue(text, section, key);
  if (value) {
    FUZZ_CHECK(value->data() >= text.data() &&
               value->data() + value->size() <= text.data() + text.size());
    FUZZ_CHECK(value->find_first_of("\r\n") == std::string_view::npos);
  }

  const int fd = SettingsFile();
  FUZZ_CHECK(ftruncate(fd, 0) == 0);
  FUZZ_CHECK(pwrite(fd, file.data(), file.size(), 0) == static_cast<ssize_t>(file.size()));
  const std::string read =
      platform::ToAnsi(ini::ReadIni(platform::FromAnsi(section), platform::FromAnsi(key)));
  FUZZ_CHECK(read.size() <= 254);
  if (unreadable) value.reset();
  std::string expected(value.value_or("").substr(0, 254));
  expected = expected.c_str();  // the caller's buffer ends at the first NUL
  FUZZ_CHECK_EQ(read, expected);
  return 0;
}
