// The two opt-in rules of the probe cycle, probe by probe: which results the window shows, which
// of those it tells the desktop of, and how long an outage it reports.
#include "monitor/change_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using change_rules::Clock;
using change_rules::Rules;

struct Probe {
  int at;               // seconds after the first probe
  std::int32_t status;  // 0: answered; -1: no address (typing); else no answer
};

struct Row {
  const char* name;
  int misses;
  bool notify;
  std::vector<Probe> probes;
  std::vector<std::string> shown;  // "at: status", and what the desktop is told
};

TEST(ChangeRules, ShowAndTellOnlyWhatTheSettingsAsk) {
  // clang-format off
  const Row rows[] = {
      {"an answer first is nothing to report; the outage runs from the tick shown", 1, true,
       {{0, 0}, {10, 0}, {20, 11010}, {30, 11010}, {170, 0}},
       {"0: 0", "20: 11010, told it does not answer", "170: 0, told it answers after 2 min 30 s"}},
      {"no answer first is reported", 1, true, {{0, 11010}, {3907, 0}},
       {"0: 11010, told it does not answer", "3907: 0, told it answers after 1 h 5 min"}},
      {"a run of misses that completes shows its last probe", 3, true,
       {{0, 0}, {10, 11010}, {20, 11010}, {30, 11010}, {40, 11010}, {100, 0}},
       {"0: 0", "30: 11010, told it does not answer", "100: 0, told it answers after 1 min 10 s"}},
      {"an answer breaks the run", 3, true,
       {{0, 0}, {10, 11010}, {20, 11010}, {30, 0}, {40, 11010}, {50, 11010}, {60, 0}}, {"0: 0"}},
      // The box's -1 after a failure shows nothing (the data is the same), yet stops the clock.
      {"typing is not told, and its time is no outage", 1, true,
       {{0, 0}, {10, 11010}, {70, -1}, {100, 11010}, {130, 0}, {140, -1}, {150, 0}},
       {"0: 0", "10: 11010, told it does not answer", "130: 0, told it answers after 1 min 30 s",
        "140: -1", "150: 0"}},
      {"typing shows at once, whatever the misses", 3, true, {{0, 0}, {10, -1}},
       {"0: 0", "10: -1"}},
      {"without notify, the window alone shows", 2, false,
       {{0, 11010}, {10, 0}, {20, 11010}, {30, 11010}}, {"0: 11010", "10: 0", "30: 11010"}},
  };
  // clang-format on
  for (const Row& row : rows) {
    Rules rules(row.misses, row.notify);
    std::wstring shown;
    std::vector<std::string> seen;
    const Clock::time_point start = Clock::now();
    for (const Probe& probe : row.probes) {
      const std::wstring data = probe.status == 0 ? L"kuy" : std::wstring(1, L'\0');
      const auto verdict =
          rules.Probed(shown, data, probe.status, start + std::chrono::seconds(probe.at));
      if (!verdict.show) continue;
      shown = data;
      std::string line = std::to_string(probe.at) + ": " + std::to_string(probe.status);
      if (const auto& notice = verdict.notice) {
        const std::wstring& after = notice->after;  // digits and unit names
        line += notice->answered
                    ? ", told it answers after " + std::string(after.begin(), after.end())
                    : ", told it does not answer";
      }
      seen.push_back(line);
    }
    EXPECT_EQ(seen, row.shown) << row.name;
  }
}

}  // namespace
