// Single values read from and written to real files, by the INI rules.

#include <algorithm>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/profile_file.h"
#include "tests/support/files.h"

namespace {

using namespace std::string_literals;

// Reads [main] top with a 255-byte buffer and a default that tells "missing" from "empty".
std::string ReadTop(const std::string& file) {
  char buffer[255];
  std::uint32_t n =
      platform::GetPrivateProfileStringA("main", "top", "dflt", buffer, 255, file.c_str());
  EXPECT_EQ(buffer[n], '\0');
  return std::string(buffer, n);
}

struct ReadCase {
  const char* name;
  std::string bytes, expected;
};
class ReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadTest, FindsTheValue) {
  TempFolder folder;
  WriteBytes(folder / "korvi.ini", GetParam().bytes);
  EXPECT_EQ(ReadTop(folder / "korvi.ini"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ReadTest,
    testing::Values(
        ReadCase{"CaseIgnored", "[MaIn]\nTOP=1\n", "1"},
        ReadCase{"BlanksAndTabsTrimmed", "  [main]  \n \t top \t=\t 4 2 \t\n", "4 2"},
        ReadCase{"BlanksInsideBrackets", "[ main\t]\ntop=1\n", "1"},
        ReadCase{"AfterFirstEquals", "[main]\ntop=a=b\n", "a=b"},
        ReadCase{"DoubleQuotesRemoved", "[main]\ntop=\" x \"\n", " x "},
        ReadCase{"SingleQuotesRemoved", "[main]\ntop='x'\n", "x"},
        ReadCase{"UnmatchedQuotesKept", "[main]\ntop=\"x'\n", "\"x'"},
        ReadCase{"CommentIsNoKey", "[main]\n;top=1\ntop=2\n", "2"},
        ReadCase{"FirstDuplicateWins", "[main]\ntop=1\ntop=2\n", "1"},
        // Only the first section of a name is searched.
        ReadCase{"SecondSectionIgnored", "[main]\na=1\n[main]\ntop=2\n", "dflt"},
        ReadCase{"OtherSection", "top=0\n[x]\ntop=1\n[main]\n", "dflt"},
        ReadCase{"HeaderWithoutBracket", "[main\ntop=1\n", "dflt"},
        ReadCase{"CrLf", "[main]\r\ntop=1\r\n", "1"},
        ReadCase{"CrOnlyNoFinalNewline", "[main]\rleft=1\rtop=2", "2"},
        ReadCase{"ByteOrderMark", "\xEF\xBB\xBF[main]\ntop=1\n", "1"},
        ReadCase{"EmptyValue", "[main]\ntop=\n", ""},
        ReadCase{"CutTo254", "[main]\ntop=" + std::string(300, 'a'), std::string(254, 'a')},
        ReadCase{"NulInKey", "[main]\nto\0p=1\ntop=2\n"s, "2"},
        ReadCase{"NulInValueCounted", "[main]\ntop=a\0b\n"s, "a\0b"s},
        ReadCase{"MegabyteLine", "[main]\n" + std::string(1 << 20, '[') + "\ntop=1\n", "1"}),
    kCaseName);

TEST(ProfileRead, MissingFileOrFolderGivesTheDefault) {
  TempFolder folder;
  EXPECT_EQ(ReadTop(folder / "korvi.ini"), "dflt");
  EXPECT_EQ(ReadTop(folder / "no/korvi.ini"), "dflt");
  EXPECT_EQ(ReadTop(folder.path), "dflt");
}

// Each row writes top=5 into [section].
struct WriteCase {
  const char* name;
  std::optional<std::string> before;  // nullopt: no file yet
  const char* section;
  std::string after;
};
class WriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteTest, ChangesOnlyTheOneValue) {
  TempFolder folder;
  if (GetParam().before) WriteBytes(folder / "korvi.ini", *GetParam().before);
  EXPECT_TRUE(platform::WritePrivateProfileStringA(GetParam().section, "top", "5",
                                                   (folder / "korvi.ini").c_str()));
  EXPECT_EQ(ReadBytes(folder / "korvi.ini"), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, WriteTest,
    testing::Values(
        WriteCase{"InPlace", "[MAIN]\r\nTop = 1 \r\nleft=2\r\n", "main",
                  "[MAIN]\r\nTop = 5 \r\nleft=2\r\n"},
        WriteCase{"QuotedValue", "[main]\ntop=\"1\"\n", "main", "[main]\ntop=5\n"},
        WriteCase{"EmptyValue", "[main]\ntop=  \n", "main", "[main]\ntop=5  \n"},
        WriteCase{"AfterLastKey", "[main]\na=1\n;b=2\n\n[x]\n", "main",
                  "[main]\na=1\ntop=5\n;b=2\n\n[x]\n"},
        WriteCase{"EmptySection", "[main]\n[x]\n", "main", "[main]\ntop=5\n[x]\n"},
        WriteCase{"AfterUnterminatedLine", "[main]\na=1", "main", "[main]\na=1\ntop=5\n"},
        WriteCase{"CrOnly", "[main]\ra=1\r", "main", "[main]\ra=1\rtop=5\r"},
        // New lines take the first line ending; every other line keeps its own.
        WriteCase{"MixedLineEndings", "; c\r\n[main]\na=1\r\n\r\n[x]\ry=2\n", "main",
                  "; c\r\n[main]\na=1\r\ntop=5\r\n\r\n[x]\ry=2\n"},
        // The first ending is a lone CR, but CR then the empty line's LF would merge into one.
        WriteCase{"CrBeforeEmptyLfLine", "[main]\ra=1\n\nb", "main", "[main]\ra=1\ntop=5\r\n\nb"},
        WriteCase{"NewSection", "[main]\r\na=1", "setting",
                  "[main]\r\na=1\r\n[setting]\r\ntop=5\r\n"},
        WriteCase{"NewFile", std::nullopt, "main", "[main]\ntop=5\n"},
        WriteCase{"SectionAskedWithBlanks", "[main]\ntop=1\n", " main\t", "[main]\ntop=5\n"},
        WriteCase{"ByteOrderMarkOnly", "\xEF\xBB\xBF", "main", "\xEF\xBB\xBF[main]\ntop=5\n"},
        WriteCase{"FirstDuplicateSection", "[main]\n[main]\ntop=2\n", "main",
                  "[main]\ntop=5\n[main]\ntop=2\n"},
        WriteCase{"JunkKept", "[x]\n\0\xff\x01\n[main]\ntop=1\n"s, "main",
                  "[x]\n\0\xff\x01\n[main]\ntop=5\n"s}),
    kCaseName);

struct RefusedCase {
  const char* name;
  const char *section, *key, *value;
};
class RefusedWriteTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedWriteTest, LeavesTheFileAndSaysWhy) {
  TempFolder folder;
  WriteBytes(folder / "korvi.ini", "[main]\ntop=1\n");
  EXPECT_FALSE(platform::WritePrivateProfileStringA(
      GetParam().section, GetParam().key, GetParam().value, (folder / "korvi.ini").c_str()));
  const std::string message = platform::LastProfileWriteFailure();
  EXPECT_NE(message.find((folder / "korvi.ini") + ": the "), std::string::npos) << message;
  EXPECT_EQ(ReadBytes(folder / "korvi.ini"), "[main]\ntop=1\n");
}

INSTANTIATE_TEST_SUITE_P(Profile, RefusedWriteTest,
                         testing::Values(RefusedCase{"LineBreakInValue", "main", "top", "1\n[x]"},
                                         RefusedCase{"LineBreakInSection", "ma\rin", "top", "1"},
                                         RefusedCase{"EqualsInKey", "main", "top=", "1"},
                                         RefusedCase{"NoValue", "main", "top", nullptr}),
                         kCaseName);

// `text` as UTF-16 code units, little or big endian, without any mark of its own.
std::string Utf16(std::u16string_view text, bool big_endian = false) {
  std::string out;
  for (char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += big_endian ? high : low;
    out += big_endian ? low : high;
  }
  return out;
}

// Each row reads [main] top, then writes top=5.
struct EncodingCase {
  const char* name;
  std::string bytes;
  std::string read;
  std::optional<std::string> written;  // nullopt: refused, the file stays as it was
  const char* unreadable;              // what CheckProfileFile says, "" when readable
};
class EncodingTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingTest, ReadsWritesOrRefusesWhole) {
  const EncodingCase& c = GetParam();
  TempFolder folder;
  const std::string file = folder / "korvi.ini";
  WriteBytes(file, c.bytes);
  EXPECT_EQ(ReadTop(file), c.read);
  EXPECT_EQ(platform::WritePrivateProfileStringA("main", "top", "5", file.c_str()),
            c.written.has_value());
  EXPECT_EQ(ReadBytes(file), c.written.value_or(c.bytes));
  EXPECT_NE(platform::CheckProfileFile(file.c_str()).unreadable.find(c.unreadable),
            std::string::npos);
  EXPECT_EQ(platform::CheckProfileFile(file.c_str()).unreadable.empty(), !*c.unreadable);
}

const std::u16string kNotepad = u"\uFEFF; caf\u00E9 \U0001F600\r\n[main]\r\ntop=1\r\nleft=2\r\n";
const std::u16string kNotepadSaved =
    u"\uFEFF; caf\u00E9 \U0001F600\r\n[main]\r\ntop=5\r\nleft=2\r\n";

INSTANTIATE_TEST_SUITE_P(
    Profile, EncodingTest,
    testing::Values(
        EncodingCase{"Utf16LeWithMark", Utf16(kNotepad), "1", Utf16(kNotepadSaved), ""},
        EncodingCase{"Utf16BeWithMark", Utf16(kNotepad, true), "1", Utf16(kNotepadSaved, true), ""},
        // A lone surrogate and an odd last byte come back as they were.
        EncodingCase{"Utf16LoneSurrogateOddByte", Utf16(u"\uFEFF[main]\ntop=\xD800\n\xDC00") + "x",
                     "\xED\xA0\x80", Utf16(u"\uFEFF[main]\ntop=5\n\xDC00") + "x", ""},
        EncodingCase{"Utf16NewSection", Utf16(u"\uFEFF[x]\r\n"), "dflt",
                     Utf16(u"\uFEFF[x]\r\n[main]\r\ntop=5\r\n"), ""},
        EncodingCase{"Utf16WithoutMark", Utf16(u"[main]\r\ntop=1\r\n"), "dflt", std::nullopt,
                     "UTF-16 without a byte-order mark"},
        EncodingCase{"Utf16BeWithoutMark", Utf16(u"[main]\ntop=1\n", true), "dflt", std::nullopt,
                     "UTF-16 without a byte-order mark"},
        EncodingCase{"Utf32WithMark", "\xFF\xFE\0\0[\0\0\0"s, "dflt", std::nullopt, "UTF-32"},
        EncodingCase{"Utf32WithoutMark", "[\0\0\0m\0\0\0"s, "dflt", std::nullopt, "UTF-32"}),
    kCaseName);

}  // namespace
