// Any settings file bytes, then one write through the real file functions: the value reads
// back, every other key reads as before, only the written line changes (or one or two lines
// are added), and no temporary file stays behind. A refused write leaves the file as it was.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/profile_encoding.h"
#include "platform/common/profile_text.h"
#include "platform/linux/profile_file.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;
using platform::profile_text::FindValue;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// A fresh folder for the whole run, so that a stray file in it shows.
const std::string& Folder() {
  static const TempFolder scratch;
  return scratch.path;
}

// Refused writes explain themselves on standard error; a fuzzer makes millions of them.
class Quiet {
 public:
  Quiet() : saved_(dup(2)) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 2);
    close(null);
  }
  ~Quiet() {
    dup2(saved_, 2);
    close(saved_);
  }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;

 private:
  int saved_;
};

std::string Load(const std::string& path) {
  return ReadBytes(path).value_or("");
}

// Lines with their own endings (CR LF, LF or CR), after a byte-order mark.
std::vector<std::string_view> Lines(std::string_view text) {
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      end = text.size();
    } else {
      end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    }
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return lines;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Names match without regard to ASCII case or the blanks around them.
bool SameName(std::string_view a, std::string_view b) {
  a = Trimmed(a);
  b = Trimmed(b);
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
  });
}

// How any INI reader shows a stored value: blanks around it and one pair of quotes removed.
std::string_view AsRead(std::string_view value) {
  value = Trimmed(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// Section and key names worth asking about: whatever stands in brackets or before a "=".
// Bounded, so that a long file does not make every run slow.
void Names(std::string_view text, std::set<std::string>& sections, std::set<std::string>& keys) {
  for (std::string_view line : Lines(text)) {
    line = Trimmed(line.substr(0, line.find_first_of("\r\n")));
    if (line.starts_with('[') && line.rfind(']') != line.npos && line.rfind(']') > 0) {
      if (sections.size() < 8) sections.emplace(line.substr(1, line.rfind(']') - 1));
    } else if (line.find('=') != line.npos && keys.size() < 16) {
      keys.emplace(Trimmed(line.substr(0, line.find('='))));
    }
  }
}

bool Terminated(std::string_view line) {
  return line.ends_with('\n') || line.ends_with('\r');
}

std::string Ending(std::string_view line) {
  return std::string(line.substr(std::min(line.find_first_of("\r\n"), line.size())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // The API takes C strings: each ends at its first NUL.
  const std::string section = in.ConsumeRandomLengthString(12).c_str();
  const std::string key = in.ConsumeRandomLengthString(12).c_str();
  const std::string value = in.ConsumeRandomLengthString(40).c_str();
  const std::string before_bytes = in.ConsumeRemainingBytesAsString();
  namespace encoding = platform::profile_encoding;

  const std::string path = Folder() + "/korvi.ini";
  WriteBytes(path, before_bytes);
  bool stored;
  {
    Quiet quiet;
    stored = platform::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                                  path.c_str());
  }
  const std::string after_bytes = Load(path);
  FUZZ_CHECK(std::distance(fs::directory_iterator(Folder()), fs::directory_iterator()) == 1);
  const auto utf16 = encoding::DecodeUtf16(before_bytes);
  if (!platform::profile_text::RefusalReason(section, key, value).empty() ||
      (!utf16 && !encoding::UnreadableEncoding(before_bytes).empty()) ||
      (utf16 && !(encoding::IsUtf8(section) && encoding::IsUtf8(key) && encoding::IsUtf8(value)))) {
    FUZZ_CHECK(!stored);
    FUZZ_CHECK_EQ(after_bytes, before_bytes);
    return 0;
  }
  FUZZ_CHECK(stored);
  // A UTF-16 file stays UTF-16 in the same byte order, and the rules below hold for its text.
  const auto after16 = encoding::DecodeUtf16(after_bytes);
  FUZZ_CHECK(utf16.has_value() == after16.has_value());
  if (utf16) FUZZ_CHECK(utf16->big_endian == after16->big_endian && utf16->tail == after16->tail);
  const std::string before = utf16 ? utf16->text : before_bytes;
  const std::string after = after16 ? after16->text : after_bytes;
  FUZZ_CHECK_EQ(std::string(FindValue(after, section, key).value_or("<missing>")),
                std::string(AsRead(value)));
  FUZZ_CHECK(after.starts_with(kBom) == before.starts_with(kBom));

  std::set<std::string> sections, keys;
  Names(before, sections, keys);
  Names(after, sections, keys);
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      if (SameName(s, section) && SameName(k, key)) continue;
      FUZZ_CHECK_EQ(std::string(FindValue(after, s, k).value_or("<missing>")),
                    std::string(FindValue(before, s, k).value_or("<missing>")));
    }
  }

  // Line by line: the same lines before and after the change, each with its own ending.
  const auto old_lines = Lines(before), new_lines = Lines(after);
  std::size_t head = 0;
  while (head < old_lines.size() && head < new_lines.size() && old_lines[head] == new_lines[head]) {
    ++head;
  }
  std::size_t tail = 0;
  while (tail < old_lines.size() - head && tail < new_lines.size() - head &&
         old_lines[old_lines.size() - 1 - tail] == new_lines[new_lines.size() - 1 - tail]) {
    ++tail;
  }
  const std::vector<std::string_view> removed(old_lines.begin() + head, old_lines.end() - tail);
  const std::vector<std::string_view> added(new_lines.begin() + head, new_lines.end() - tail);
  FUZZ_CHECK(removed.size() <= 1);
  if (FindValue(before, section, key)) {
    // Replaced where it stands: one line for one, same ending (none when the value was there).
    FUZZ_CHECK(removed.size() == added.size());
    if (!added.empty()) FUZZ_CHECK_EQ(Ending(added[0]), Ending(removed[0]));
  } else {
    // Added: an unterminated last line may gain an ending; then the key's line, and the
    // section's header when the section was missing.
    const bool had_section = added.size() == removed.size() + 1;
    FUZZ_CHECK(had_section || added.size() == removed.size() + 2);
    if (!removed.empty()) {
      FUZZ_CHECK(!Terminated(removed[0]) && added[0].starts_with(removed[0]));
    }
    const std::string_view entry = added.back().substr(0, key.size() + 1 + value.size());
    FUZZ_CHECK_EQ(std::string(entry), key + "=" + value);
    for (std::string_view line : added) FUZZ_CHECK(Terminated(line));
  }
  return 0;
}
