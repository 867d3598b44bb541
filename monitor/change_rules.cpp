#include "monitor/change_rules.h"

#include <algorithm>
#include <utility>

namespace change_rules {

bool Misses::Admit(bool shown_answered, bool answered, std::int32_t status) {
  if (!shown_answered || answered || status == -1) {
    run_ = 0;
    return true;
  }
  if (++run_ < needed_) return false;
  run_ = 0;
  return true;
}

std::optional<Notices::Notice> Notices::Probed(bool shown, bool answered, std::int32_t status,
                                               Clock::time_point when) {
  if (status == -1) {
    // Typing: the outage clock stops, and the state the user knows of stays.
    if (since_) outage_ += when - *std::exchange(since_, std::nullopt);
    return std::nullopt;
  }
  if (told_ == false && !answered && !since_) since_ = when;  // typed an address that is down
  if (!shown) return std::nullopt;
  if (answered) {
    if (std::exchange(told_, true) != false) return std::nullopt;  // the first, or after typing
    if (since_) outage_ += when - *std::exchange(since_, std::nullopt);
    return Notice{true, Duration(std::exchange(outage_, {}))};
  }
  if (told_ == false) return std::nullopt;
  told_ = false;
  outage_ = {};
  since_ = when;
  return Notice{false, {}};
}

Rules::Verdict Rules::Probed(const std::wstring& shown, const std::wstring& data,
                             std::int32_t status, Clock::time_point when) {
  const bool answered = data.starts_with(L"kuy");
  const bool show = misses_.Admit(shown.starts_with(L"kuy"), answered, status) && data != shown;
  return {show, notify_ ? notices_.Probed(show, answered, status, when) : std::nullopt};
}

std::wstring Duration(Clock::duration length) {
  struct Unit {
    long long seconds;
    const wchar_t* name;
  };
  constexpr Unit kUnits[] = {{86400, L" d"}, {3600, L" h"}, {60, L" min"}, {1, L" s"}};
  const long long total =
      std::max<long long>(0, std::chrono::round<std::chrono::seconds>(length).count());
  for (std::size_t i = 0;; ++i) {
    const Unit& unit = kUnits[i];
    if (total < unit.seconds && unit.seconds > 1) continue;
    std::wstring text = std::to_wstring(total / unit.seconds) + unit.name;
    if (unit.seconds == 1) return text;
    const Unit& next = kUnits[i + 1];
    if (const long long more = total % unit.seconds / next.seconds; more > 0) {
      text += L' ' + std::to_wstring(more) + next.name;
    }
    return text;
  }
}

}  // namespace change_rules
