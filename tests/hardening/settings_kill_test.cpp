// The settings file is never lost: a writer killed with SIGKILL at any moment of its write, or
// two writers at the same moment, leave one whole version of the file, and what a killed
// writer left behind goes with the next write.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/writer_process.h"
#include "tests/support/files.h"

namespace {

using korvi_test::WriterProcess;
using Clock = std::chrono::steady_clock;

// A settings file big enough that writing it takes a while, so that kills land inside.
std::string Settings(const std::string& top, const std::string& left = "3000") {
  std::string comments;
  for (int i = 0; i < 4000; ++i)
    comments += "; the settings of korvi, line " + std::to_string(i) + "\r\n";
  return comments + "[main]\r\ntop=" + top + "\r\nleft=" + left +
         "\r\nicon1=korvi-up.ico\r\n[setting]\r\ntimer=10000\r\nipaddress=127.0.0.1\r\n";
}

// Every name in the folder but korvi.ini.
std::vector<std::string> Others(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename() != "korvi.ini") names.push_back(entry.path().filename());
  }
  return names;
}

bool IsTemporaryOf(const std::string& name, const std::set<pid_t>& killed) {
  static const std::regex pattern(R"(\.korvi\.ini\.tmp\.(\d+)\.[0-9a-z]{6})");
  std::smatch match;
  return std::regex_match(name, match, pattern) && killed.count(std::stoi(match[1])) == 1;
}

TEST(SettingsKill, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
  TempFolder folder;
  const std::string file = folder / "korvi.ini";
  const std::string tops[2] = {"1500", "-123456.7"};
  const std::string versions[2] = {Settings(tops[0]), Settings(tops[1])};
  WriteBytes(file, versions[0]);
  int current = 0;

  // How long a write takes here, from its start to the writer's end: kills spread over that.
  std::vector<double> spans;
  for (int i = 0; i < 9; ++i) {
    current = 1 - current;
    WriterProcess writer({file, "main", "top=" + tops[current]}, false);
    ASSERT_TRUE(writer.AwaitStart());
    const auto started = Clock::now();
    ASSERT_EQ(writer.Wait(), 0);
    spans.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
  }
  std::nth_element(spans.begin(), spans.begin() + 4, spans.end());
  const double window_us = 1.25 * spans[4];

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed) + ", kills within " + std::to_string(window_us) +
               " us of the write's start");
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> delay(0, window_us);
  std::set<pid_t> killed;
  int kept = 0, replaced = 0, left_behind = 0;
  for (int round = 0; round < 1200; ++round) {
    const int next = 1 - current;
    {
      WriterProcess writer({file, "main", "top=" + tops[next]}, false);
      ASSERT_TRUE(writer.AwaitStart()) << "round " << round;
      std::this_thread::sleep_for(std::chrono::duration<double, std::micro>(delay(random)));
      writer.Kill();
      writer.Wait();
      killed.insert(writer.pid());
    }
    const std::optional<std::string> now = ReadBytes(file);
    ASSERT_TRUE(now == versions[current] || now == versions[next])
        << "round " << round << ": korvi.ini is neither the old nor the new version ("
        << (now ? std::to_string(now->size()) + " bytes" : "missing") << ")";
    const std::vector<std::string> others = Others(folder.path);
    if (now == versions[next]) {
      ++replaced;
      current = next;
      // A write that got through cleared what the killed writers before it left.
      ASSERT_EQ(others, std::vector<std::string>{}) << "round " << round;
    } else {
      ++kept;
    }
    for (const std::string& name : others) {
      ASSERT_TRUE(IsTemporaryOf(name, killed)) << "round " << round << ": stray file " << name;
    }
    left_behind += !others.empty();
  }
  // Otherwise the kills missed the write, and the rounds proved nothing.
  EXPECT_GT(kept, 0);
  EXPECT_GT(replaced, 0);
  EXPECT_GT(left_behind, 0) << "no kill landed between the temporary file and the rename";
  RecordProperty("kept", kept);
  RecordProperty("replaced", replaced);
  RecordProperty("left_behind", left_behind);

  WriterProcess last({file, "main", "top=" + tops[1 - current]}, false);
  ASSERT_EQ(last.Wait(), 0);
  EXPECT_EQ(ReadBytes(file), versions[1 - current]);
  EXPECT_EQ(Others(folder.path), std::vector<std::string>{});
}

// Two writers that each set one value at the same moment.
struct RaceCase {
  const char* name;
  std::vector<std::string> a, b;   // KEY=VALUE written by each, in [main]
  std::vector<std::string> whole;  // the versions the file may end as
};
class SettingsRace : public testing::TestWithParam<RaceCase> {};

TEST_P(SettingsRace, EndsAsOneWholeVersion) {
  const RaceCase& c = GetParam();
  TempFolder folder;
  const std::string file = folder / "korvi.ini";
  std::vector<std::string> whole;
  for (const std::string& version : c.whole) {
    whole.push_back(
        Settings(version.substr(0, version.find(',')), version.substr(version.find(',') + 1)));
  }
  std::set<std::string> seen;
  for (int round = 0; round < 150; ++round) {
    WriteBytes(file, Settings("0", "0"));
    std::vector<std::string> a = {file, "main"}, b = {file, "main"};
    a.insert(a.end(), c.a.begin(), c.a.end());
    b.insert(b.end(), c.b.begin(), c.b.end());
    WriterProcess first(a, true), second(b, true);
    first.Go();
    second.Go();
    ASSERT_EQ(first.Wait(), 0);
    ASSERT_EQ(second.Wait(), 0);
    const std::string now = ReadBytes(file).value_or("<missing>");
    const auto found = std::find(whole.begin(), whole.end(), now);
    ASSERT_NE(found, whole.end()) << "round " << round << ": not one of the whole versions";
    seen.insert(c.whole[found - whole.begin()]);
    ASSERT_EQ(Others(folder.path), std::vector<std::string>{}) << "round " << round;
  }
  RecordProperty("versions_seen", std::to_string(seen.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Hardening, SettingsRace,
    testing::Values(
        // "top,left" of each whole version.
        RaceCase{"SameKey", {"top=1"}, {"top=2"}, {"1,0", "2,0"}},
        RaceCase{"OtherKeys", {"top=1"}, {"left=2"}, {"1,2"}},  // neither write is lost
        // As a close writes: both values of one writer, never one of each.
        RaceCase{"TwoValuesEach", {"top=1", "left=1"}, {"top=2", "left=2"}, {"1,1", "2,2"}}),
    kCaseName);

}  // namespace
