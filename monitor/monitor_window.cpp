#include "monitor/monitor_window.h"

#include <functional>
#include <string>
#include <utility>

#include "monitor/conversions.h"
#include "monitor/log_text.h"
#include "platform/ansi.h"
#include "platform/report.h"
#include "probe/send_echo.h"
#include "settings/ini.h"
#include "tray/task_icon.h"

namespace {

using conversions::Failure;

// Settings text can be anything, binary junk included.
std::string Quoted(const std::wstring& value) {
  return platform::Quoted(platform::MessageText(value));
}

[[noreturn]] void SettingFault(const std::wstring& section, const std::wstring& key,
                               const std::wstring& value, const std::string& what) {
  throw platform::RuntimeError(platform::MessageText(ini::IniFile) + ", [" +
                               platform::MessageText(section) + "] " + platform::MessageText(key) +
                               " = " + Quoted(value) + " " + what);
}

std::string Describe(Failure failure, const char* range) {
  return failure == Failure::kOverflow ? std::string("is out of range (") + range + ")"
                                       : std::string("is not a number");
}

float RequireSingle(const std::wstring& section, const std::wstring& key) {
  const std::wstring text = ini::ReadIni(section, key);
  const auto number = conversions::StrictSingle(text);
  if (!number.ok()) {
    // A file that is missing or cannot be read gives every key as empty; say so instead.
    if (std::string problem = ini::FileProblem(); !problem.empty()) {
      throw platform::RuntimeError(problem);
    }
    SettingFault(section, key, text, Describe(number.failure, "overflow"));
  }
  return number.value;
}

std::int16_t LenientColour(const std::wstring& key) {
  const std::wstring text = ini::ReadIni(L"main", key);
  const auto number = conversions::LenientInteger(text);
  if (!number.ok()) {
    SettingFault(L"main", key, text, Describe(number.failure, "-32768 to 32767"));
  }
  return number.value;
}

// Places the window; a position that the screen cannot hold is the setting's fault.
template <typename Set>
void Place(const std::wstring& key, Set set) {
  const float twips = RequireSingle(L"main", key);
  try {
    set(twips);
  } catch (const platform::RuntimeError& e) {
    SettingFault(L"main", key, ini::ReadIni(L"main", key), std::string(": ") + e.what());
  }
}

// Loads the icon that `key` names, so that a bad name shows at once, not when the watched host
// first goes down.
void LoadIcon(const std::wstring& key, const std::wstring& file,
              const std::function<void(const std::wstring&)>& load) {
  try {
    load(file);
  } catch (const platform::RuntimeError& e) {
    SettingFault(L"main", key, file, std::string(": ") + e.what());
  }
}

}  // namespace

platform::FormDesign Form1::Design() {
  platform::FormDesign design;
  design.caption = L"B";
  design.client_width = 1560;
  design.client_height = 1335;
  // Both boxes are a little wider than the client area, and the log box overlaps the
  // address box by 30 twips: the window's look depends on it.
  design.text1 = {.left = 0, .top = 0, .width = 1575, .height = 270, .tab_index = 0};
  design.text2 = {.left = 0,
                  .top = 240,
                  .width = 1575,
                  .height = 1095,
                  .tab_index = 1,
                  .multi_line = true,
                  .vertical_scroll_bar = true};
  design.timer_interval = 10000;
  design.timer_enabled = true;
  return design;
}

Form1::Form1(platform::Form& window) : Form1(window, &Module1::SendEcho) {}

Form1::Form1(platform::Form& window, Probe probe) : me_(window), probe_(std::move(probe)) {}

void Form1::Form_Load() {
  AppDir = platform::AppPath();
  if (AppDir.empty() || AppDir.back() != platform::PathSeparator()) {
    AppDir += platform::PathSeparator();
  }
  ini::IniFile = AppDir + L"korvi.ini";

  Place(L"top", [this](float twips) { me_.SetTop(twips); });
  Place(L"left", [this](float twips) { me_.SetLeft(twips); });

  if (const std::wstring timer = ini::ReadIni(L"setting", L"timer"); !timer.empty()) {
    const auto interval = conversions::StrictLong(timer);
    if (!interval.ok()) {
      SettingFault(L"setting", L"timer", timer,
                   Describe(interval.failure, "-2147483648 to 2147483647"));
    }
    try {
      me_.Timer1().SetInterval(interval.value);
    } catch (const platform::RuntimeError& e) {
      SettingFault(L"setting", L"timer", timer, std::string(": ") + e.what());
    }
  }

  const std::wstring notify = ini::ReadIni(L"setting", L"notify");
  if (!notify.empty() && notify != L"0" && notify != L"1") {
    SettingFault(L"setting", L"notify", notify, "is neither 1 (notify) nor 0 (do not)");
  }
  int misses = 1;
  if (const std::wstring text = ini::ReadIni(L"setting", L"misses"); !text.empty()) {
    const bool digits =
        text.size() <= 3 && text.find_first_not_of(L"0123456789") == std::wstring::npos;
    misses = digits ? std::stoi(text) : 0;
    if (misses < 1 || misses > 100) {
      SettingFault(L"setting", L"misses", text, "is not a whole number from 1 to 100");
    }
  }
  rules_ = change_rules::Rules(misses, notify == L"1");

  Icon1File = ini::ReadIni(L"main", L"icon1");
  Red1 = LenientColour(L"r1");
  Green1 = LenientColour(L"g1");
  Blue1 = LenientColour(L"b1");
  Icon2File = ini::ReadIni(L"main", L"icon2");
  Red2 = LenientColour(L"r2");
  Green2 = LenientColour(L"g2");
  Blue2 = LenientColour(L"b2");
  const auto check = [this](const std::wstring& file) { platform::CheckIconFile(AppDir + file); };
  LoadIcon(L"icon1", Icon1File, check);
  LoadIcon(L"icon2", Icon2File, check);

  me_.Text1().SetText(ini::ReadIni(L"setting", L"ipaddress"));
  TaskIcon::SetTrayIcon(L"ADD", me_);
}

void Form1::Form_Unload(std::int16_t& /*cancel*/) {
  // After a failed first write the second is not tried: the file keeps one whole position.
  const bool saved = ini::WriteIni(L"main", L"top", conversions::SingleToText(me_.Top())) != 0 &&
                     ini::WriteIni(L"main", L"left", conversions::SingleToText(me_.Left())) != 0;
  TaskIcon::SetTrayIcon(L"DELETE", me_);
  // A position that was not saved is a failure the user must hear of, not a quiet success.
  if (!saved) throw platform::RuntimeError(ini::LastWriteFailure());
}

void Form1::Timer1_Timer() {
  EchoReply reply;
  const std::wstring address = me_.Text1().Text();
  const std::int32_t status = probe_(address, L"kuy", reply);
  const auto verdict = rules_.Probed(LastReply, reply.Data, status, change_rules::Clock::now());
  if (!verdict.show) return;
  LastReply = reply.Data;

  const std::wstring line =
      log_text::TimeText(platform::CurrentTimeOfDay()) + L" : " + log_text::StatusText(status);
  me_.Text2().SetText(log_text::KeepNewestLines(line + L"\r\n" + me_.Text2().Text(), kLogLimit));

  const auto set = [this](const std::wstring& file) { me_.SetIconFromFile(AppDir + file); };
  if (LastReply.starts_with(L"kuy")) {
    me_.Text2().SetBackColor(log_text::Rgb(Red1, Green1, Blue1));
    LoadIcon(L"icon1", Icon1File, set);
  } else {
    me_.Text2().SetBackColor(log_text::Rgb(Red2, Green2, Blue2));
    LoadIcon(L"icon2", Icon2File, set);
  }
  TaskIcon::SetTrayIcon(L"MODIFY", me_);

  if (const auto& notice = verdict.notice) {
    TaskIcon::Notify(address + (notice->answered ? L" answers" : L" does not answer"),
                     notice->after.empty() ? line : line + L", after " + notice->after, me_);
  }
}

void Form1::Form_MouseMove(std::int16_t /*button*/, std::int16_t /*shift*/, float x, float /*y*/) {
  // The tray entry's left-button release (514) in twips, fixed whatever the display's
  // resolution.
  if (x == 7710.0f) me_.Show();
}
