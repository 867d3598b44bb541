#pragma once
// Two rules the probe cycle follows when korvi.ini asks for them: a guard against single lost
// replies, and what to tell the desktop of a change. Kept apart from the window, so that one
// table holds them to their word.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace change_rules {

using Clock = std::chrono::steady_clock;

// A change from answered to not answered shows only once `needed` probes in a row got no
// answer; an answer starts the count again. A probe of no address (-1: the user is typing)
// is no lost reply, and shows at once.
class Misses {
 public:
  explicit Misses(int needed = 1) : needed_(needed) {}
  // Called for every probe, before its data is compared with what is shown: false holds the
  // probe back, as if its data were what is shown.
  bool Admit(bool shown_answered, bool answered, std::int32_t status);

 private:
  int needed_;
  int run_ = 0;
};

// What to tell the desktop of a change the window shows. Not the first result after start-up
// when it is an answer (nothing to report), and nothing while the box holds no address (-1),
// whose time counts as no outage whether the window shows it or not.
class Notices {
 public:
  struct Notice {
    bool answered;
    // How long the host had not answered, as "2 min 30 s"; empty unless it answers again.
    std::wstring after;
  };
  // For every probe; `shown`: the window shows its result as a change.
  std::optional<Notice> Probed(bool shown, bool answered, std::int32_t status,
                               Clock::time_point when);

 private:
  std::optional<bool> told_;  // the state the user knows of
  Clock::duration outage_{};  // not answering, up to `since_`
  std::optional<Clock::time_point> since_;
};

// Both rules, as each probe meets them.
class Rules {
 public:
  explicit Rules(int misses = 1, bool notify = false) : misses_(misses), notify_(notify) {}
  struct Verdict {
    bool show = false;                      // the window shows this probe's result
    std::optional<Notices::Notice> notice;  // and tells the desktop of it
  };
  // `shown`: the reply data the window shows; `data` and `status`: this probe's.
  Verdict Probed(const std::wstring& shown, const std::wstring& data, std::int32_t status,
                 Clock::time_point when);

 private:
  Misses misses_;
  bool notify_;
  Notices notices_;
};

// "45 s", "2 min 30 s", "1 h 5 min", "3 d 2 h": the two largest units, in whole seconds.
std::wstring Duration(Clock::duration length);

}  // namespace change_rules
