// The portable INI reader (the Linux profile backend's core) held against the system's own
// GetPrivateProfileStringA on the same files, read for read. Where the two differ on purpose,
// the row says so and pins both answers. Then korvi's own saves, which the system must read as
// it reads its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/common/profile_text.h"
#include "platform/profile.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;

constexpr char kMissing[] = "<missing>";
constexpr std::uint32_t kBufferSize = 255;  // as the settings module reads

struct Query {
  std::string section;
  std::string key;
};

struct CorpusFile {
  const char* name;
  std::string bytes;
  std::vector<Query> queries;
};

const std::vector<Query> kTopLeft = {{"main", "top"}, {"main", "left"}};

std::vector<CorpusFile> Corpus() {
  const std::string long_value(300, 'v');
  return {
      {"lf", "[main]\ntop=1500\nleft=3000\n", kTopLeft},
      {"crlf", "[main]\r\ntop=1500\r\nleft=3000\r\n", kTopLeft},
      {"cr_only", "[main]\rtop=1500\rleft=3000\r", kTopLeft},
      {"no_final_newline", "[main]\ntop=1500\nleft=3000", kTopLeft},
      {"bom", "\xEF\xBB\xBF[main]\ntop=1500\n", kTopLeft},
      {"case", "[MaIn]\nTOP=1\nLeft=2\n", {{"main", "top"}, {"MAIN", "LEFT"}, {"main", "Top"}}},
      {"blanks", "  [main]  \n  top  =  1500  \n\tleft\t=\t3000\t\n", kTopLeft},
      {"inner_blanks", "[main]\nmy key=a b  c\n", {{"main", "my key"}, {"main", "my  key"}}},
      {"section_blanks",
       "[ main ]\ntop=1\n[setting ]\ntimer=2\n",
       {{"main", "top"}, {" main ", "top"}, {"setting", "timer"}}},
      {"quotes",
       "[main]\na=\"1500\"\nb='1500'\nc=\"1500'\nd=\"\"\ne=\"a\"b\"\nf=\"\ng= \" x \" \n",
       {{"main", "a"},
        {"main", "b"},
        {"main", "c"},
        {"main", "d"},
        {"main", "e"},
        {"main", "f"},
        {"main", "g"}}},
      {"comments",
       "; top=1\n[main]\n;top=2\n# left=3\ntop=4 ; five\nleft=6\n",
       {{"main", "top"}, {"main", "left"}, {"main", ";top"}, {"main", "# left"}}},
      {"duplicate_keys", "[main]\ntop=1\nTop=2\ntop=3\n", {{"main", "top"}}},
      {"duplicate_sections",
       "[main]\ntop=1\n[setting]\ntimer=5\n[main]\ntop=2\nleft=3\n",
       {{"main", "top"}, {"main", "left"}, {"setting", "timer"}}},
      {"equals_in_value",
       "[setting]\nipaddress=a=b\n==c\n",
       {{"setting", "ipaddress"}, {"setting", ""}}},
      {"empty_values", "[main]\ntop=\nleft\n", kTopLeft},
      {"keys_before_any_section", "top=1\n[main]\ntop=2\n", {{"main", "top"}, {"", "top"}}},
      {"section_with_junk", "[main] junk\ntop=1\n[other\nleft=2\n", kTopLeft},
      {"long_value", "[main]\ntop=" + long_value + "\nleft=" + std::string(254, 'w') + "\n",
       kTopLeft},
      {"high_bytes", "[main]\ntop=\xE9t\xE9\nleft=\x80\x81\xFF\n", kTopLeft},
      {"empty_file", "", kTopLeft},
      {"nul_byte",
       std::string("[main]\ntop=15\0"
                   "00\nleft=2\n",
                   21),
       kTopLeft},
      {"utf8_value", "\xEF\xBB\xBF[main]\ntop=\xC3\xA9\n", kTopLeft},
      {"long_line", "[main]\njunk=" + std::string(100000, 'j') + "\ntop=1\n", kTopLeft},
      {"settings_file",
       "; korvi\r\n[main]\r\ntop=1500\r\nleft=1500\r\nicon1=korvi-up.ico\r\nr1=144\r\n\r\n"
       "[setting]\r\ntimer=10000\r\nipaddress=127.0.0.1\r\n",
       {{"main", "top"},
        {"main", "icon1"},
        {"main", "r1"},
        {"main", "icon2"},
        {"setting", "timer"},
        {"setting", "ipaddress"},
        {"setting", "top"}}},
  };
}

struct Difference {
  const char* file;
  const char* section;
  const char* key;
  std::string system;
  std::string ours;
};

// Where the portable reader answers differently on purpose; every other read must agree.
const std::vector<Difference>& Deliberate() {
  static const std::vector<Difference> differences = {
      // Keys above the first section header belong to no section for us; the system gives
      // them a nameless one, which the program never asks for.
      {"keys_before_any_section", "", "top", "1", kMissing},
      // The system decodes a file marked as UTF-8 and answers in its ANSI code page; on
      // Linux the ANSI code page is UTF-8, so the file's bytes pass through unchanged.
      {"utf8_value", "main", "top", "\xE9", "\xC3\xA9"},
  };
  return differences;
}

class ProfileCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("korvi-profile-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // A file of its own per case: the system caches profile files by name.
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = folder_ / (name + ".ini");
    WriteBytes(path.string(), bytes);
    return path.string();
  }

  fs::path folder_;
};

std::string SystemRead(const std::string& file, const Query& q) {
  char buffer[kBufferSize];
  ::GetPrivateProfileStringA(q.section.c_str(), q.key.c_str(), kMissing, buffer, kBufferSize,
                             file.c_str());
  return buffer;
}

std::string OurRead(const std::string& bytes, const Query& q) {
  const std::optional<std::string_view> value =
      platform::profile_text::FindValue(bytes, q.section, q.key);
  if (!value) return kMissing;
  // Through the same buffer: cut to its size, and read up to the first NUL.
  const std::string_view cut = value->substr(0, kBufferSize - 1);
  return std::string(cut.substr(0, cut.find('\0')));
}

const Difference* FindDeliberate(const std::string& file, const Query& q) {
  for (const Difference& d : Deliberate()) {
    if (d.file == file && d.section == q.section && d.key == q.key) return &d;
  }
  return nullptr;
}

TEST_F(ProfileCompareTest, ReadsAgreeWithTheSystemsReader) {
  for (const CorpusFile& file : Corpus()) {
    const std::string path = Write(file.name, file.bytes);
    for (const Query& q : file.queries) {
      const std::string system = SystemRead(path, q);
      const std::string ours = OurRead(file.bytes, q);
      SCOPED_TRACE(std::string(file.name) + ": [" + q.section + "] " + q.key);
      if (const Difference* deliberate = FindDeliberate(file.name, q)) {
        EXPECT_EQ(system, deliberate->system);
        EXPECT_EQ(ours, deliberate->ours);
      } else {
        EXPECT_EQ(ours, system);
      }
    }
  }
}

// A write by either side reads back the same through the system's reader.
TEST_F(ProfileCompareTest, WritesReadBackAlike) {
  for (const CorpusFile& file : Corpus()) {
    const std::string system_file = Write(std::string(file.name) + "_system", file.bytes);
    ASSERT_TRUE(::WritePrivateProfileStringA("main", "top", "4320", system_file.c_str()));
    const std::string ours_file = Write(std::string(file.name) + "_ours", file.bytes);
    ASSERT_TRUE(platform::WritePrivateProfileStringW(L"main", L"top", L"4320",
                                                     platform::FromAnsi(ours_file).c_str()));
    std::vector<Query> queries = file.queries;
    queries.push_back({"main", "top"});
    for (const Query& q : queries) {
      SCOPED_TRACE(std::string(file.name) + ": [" + q.section + "] " + q.key);
      EXPECT_EQ(SystemRead(ours_file, q), SystemRead(system_file, q));
    }
  }
}

std::string Utf16(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// Each row saves [main] top into a korvi.ini of its own (read-only for "r"), or into the one that
// isolated.sh puts on a volume (the variable that names it), which holds kAt4320. Then the file is
// whole, alone, and the system reads what was saved.
struct Save {
  const char* name;
  const char* place;
  std::string before;
  const wchar_t* top;
  std::string after;   // "": the file stays as it was
  const char* reason;  // how the failure message ends; "": saved
};
class SaveTest : public testing::TestWithParam<Save> {};

TEST_P(SaveTest, LeavesAWholeFileThatTheSystemReads) {
  const Save& row = GetParam();
  TempFolder temp;
  const bool volume = std::strlen(row.place) > 1;
  if (volume && !std::getenv(row.place)) GTEST_SKIP() << "needs the volumes isolated.sh mounts";
  const std::string folder = volume ? std::getenv(row.place) : temp.path;
  if (!volume) WriteBytes(folder + "/korvi.ini", row.before);
  const std::wstring file = platform::FromAnsi(folder + "/korvi.ini");
  if (*row.place == 'r') SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(ReadBytes(folder + "/korvi.ini"), row.before);
  EXPECT_EQ(platform::WritePrivateProfileStringW(L"main", L"top", row.top, file.c_str()),
            !*row.reason);
  EXPECT_TRUE(platform::LastProfileWriteFailure().ends_with(row.reason))
      << platform::LastProfileWriteFailure();
  EXPECT_EQ(ReadBytes(folder + "/korvi.ini"), row.after.empty() ? row.before : row.after);
  wchar_t top[255];
  ::GetPrivateProfileStringW(L"main", L"top", L"", top, 255, file.c_str());
  EXPECT_EQ(std::wstring(top) == row.top, !*row.reason);
  for (const auto& entry : fs::directory_iterator(folder))
    EXPECT_TRUE(entry.path().stem() == "korvi" || entry.path().stem() == "filler") << entry.path();
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

const std::string kAt4320 = "[main]\r\ntop=4320\r\n";
const std::u16string kGreen = u"\uFEFF[main]\r\ntop=1\r\nicon1=\u0437\u0435\u043B\u0451\u043D.ico";

INSTANTIATE_TEST_SUITE_P(
    Profile, SaveTest,
    testing::Values(
        Save{"LfFile", "", "; c\n[main]\ntop=1\n\n[setting]\nx=y", L"4320",
             "; c\n[main]\ntop=4320\n\n[setting]\nx=y", ""},
        Save{"Utf16File", "", Utf16(kGreen), L"4320",
             Utf16(std::u16string(kGreen).replace(13, 1, u"4320")), ""},
        Save{"ReadOnlyFile", "r", "[main]\r\ntop=1\r\n", L"4320", "",
             "(error 5); the file is unchanged"},
        Save{"ReadOnlyFileUnchanged", "r", kAt4320, L"4320", "", ""},
        Save{"ReadOnlyFolder", "KORVI_READ_ONLY_VOLUME", kAt4320, L"1", "",
             "cannot create a file beside it: Access denied (error 5); the file is unchanged"},
        Save{"ReadOnlyFolderUnchanged", "KORVI_READ_ONLY_VOLUME", kAt4320, L"4320", "", ""},
        Save{"FullDisk", "KORVI_FULL_VOLUME", kAt4320, L"1", "",
             "(error 112); the file is unchanged"}),
    kCaseName);

}  // namespace
