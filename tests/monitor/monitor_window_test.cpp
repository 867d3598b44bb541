// The window's handlers on the real window of the platform (an X server in the test run) and
// real settings files. The handlers read korvi.ini beside the executable, so this binary runs
// alone in its own folder.
#include "monitor/monitor_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ansi.h"
#include "platform/window.h"
#include "settings/ini.h"
#include "tests/support/files.h"
#include "tray/task_icon.h"

namespace {

namespace fs = std::filesystem;

fs::path Folder() {
  return fs::path(platform::AppPath());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  WriteBytes(path.string(), bytes);
}

std::string ReadFile(const fs::path& path) {
  return ReadBytes(path.string()).value_or("");
}

std::string Settings(const std::string& top = "1500", const std::string& left = "3000",
                     const std::string& timer = "", const std::string& colours = "") {
  return "[main]\r\ntop=" + top + "\r\nleft=" + left +
         "\r\nicon1=korvi-up.ico\r\nicon2=korvi-down.ico\r\n" + colours +
         "[setting]\r\ntimer=" + timer + "\r\nipaddress=127.0.0.1\r\n";
}

// The settings with one icon line changed.
std::string Icons(const std::string& line, const std::string& changed) {
  std::string settings = Settings();
  return settings.replace(settings.find(line), line.size(), changed);
}

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove(Folder() / "korvi.ini");
    TaskIcon::nid = {};
    window_ = platform::CreateForm(Form1::Design());
  }
  void TearDown() override { fs::remove(Folder() / "korvi.ini"); }

  std::unique_ptr<platform::Form> window_;
};

TEST_F(Form1Test, LoadTurnsTheSettingsIntoTheRunningConfiguration) {
  WriteFile(Folder() / "korvi.ini",
            Settings("1500", "3000", "2500.5", "r1=12abc\r\ng1=abc\r\nb1=2.5\r\nb2=3.5\r\n"));
  Form1 form(*window_);
  form.Form_Load();

  EXPECT_EQ(form.AppDir.back(), platform::PathSeparator());
  EXPECT_EQ(fs::path(ini::IniFile), Folder() / "korvi.ini");
  EXPECT_EQ(window_->Top(), 1500.0f);
  EXPECT_EQ(window_->Left(), 3000.0f);
  EXPECT_EQ(window_->Timer1().Interval(), 2500);
  EXPECT_EQ(window_->Text1().Text(), L"127.0.0.1");
  EXPECT_EQ(form.Icon1File, L"korvi-up.ico");
  EXPECT_EQ(form.Icon2File, L"korvi-down.ico");
  EXPECT_EQ(form.Red1, 12);
  EXPECT_EQ(form.Green1, 0);
  EXPECT_EQ(form.Blue1, 2);
  EXPECT_EQ(form.Blue2, 4);
  // The tray entry is added with the window's caption, handle and icon.
  EXPECT_EQ(TaskIcon::nid.cbSize, 88u);
  EXPECT_EQ(TaskIcon::nid.hWnd, window_->Hwnd());
  EXPECT_EQ(TaskIcon::nid.hIcon, window_->Icon());
  EXPECT_STREQ(TaskIcon::nid.szTip, "B");
}

TEST_F(Form1Test, TimerSettingSetsTheInterval) {
  const struct {
    std::string text;
    std::int32_t interval;
  } cases[] = {{"", 10000}, {"2500.5", 2500}, {"2501.5", 2502}, {" 200 ", 200}, {"0", 0}};
  for (const auto& c : cases) {
    window_ = platform::CreateForm(Form1::Design());
    WriteFile(Folder() / "korvi.ini", Settings("0", "0", c.text));
    Form1 form(*window_);
    form.Form_Load();
    EXPECT_EQ(window_->Timer1().Interval(), c.interval) << "timer=" << c.text;
  }
}

TEST_F(Form1Test, BadSettingsStopStartUpNamingFileKeyAndValue) {
  const struct {
    std::string file;  // empty: no file at all
    std::string message;
  } cases[] = {
      {"", "the settings file is missing: korvi looked for "},
      {std::string("[\0m\0a\0i\0n\0]\0", 12), "UTF-16 without a byte-order mark"},
      {Icons("icon1=korvi-up.ico", "icon1=korvi-dwon.ico"), "[main] icon1 = \"korvi-dwon.ico\""},
      {Icons("icon2=korvi-down.ico", "icon2="), "[main] icon2 = \"\""},
      {Settings("abc"), "[main] top = \"abc\" is not a number"},
      {Settings("1500", "12px"), "[main] left = \"12px\" is not a number"},
      {Settings("1e39"), "[main] top = \"1e39\" is out of range"},
      {Settings("1e9"), "[main] top = \"1e9\""},  // beyond any screen
      {Settings("0", "0", "ten"), "[setting] timer = \"ten\" is not a number"},
      {Settings("0", "0", "3e9"), "[setting] timer = \"3e9\" is out of range"},
      {Settings("0", "0", "-5"), "[setting] timer = \"-5\""},
      {Settings("0", "0", "", "g2=40000\r\n"), "[main] g2 = \"40000\" is out of range"},
      {Settings("\x01\x02"), "[main] top = \"\\x01\\x02\" is not a number"},
      // The timer's value ends its line; the setting after it is the one under test.
      {Settings("0", "0", "\r\nnotify=yes"), "[setting] notify = \"yes\" is neither 1"},
      {Settings("0", "0", "\r\nmisses=0"), "[setting] misses = \"0\" is not a whole number"},
      {Settings("0", "0", "\r\nmisses=2.5"), "[setting] misses = \"2.5\" is not a whole"},
      {Settings("0", "0", "\r\nmisses=101"), "[setting] misses = \"101\" is not a whole"},
  };
  for (const auto& c : cases) {
    fs::remove(Folder() / "korvi.ini");
    if (!c.file.empty()) WriteFile(Folder() / "korvi.ini", c.file);
    TaskIcon::nid = {};
    window_ = platform::CreateForm(Form1::Design());
    Form1 form(*window_);
    try {
      form.Form_Load();
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const platform::RuntimeError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(platform::ToAnsi(ini::IniFile)), std::string::npos) << what;
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
    }
    EXPECT_EQ(TaskIcon::nid.cbSize, 0u) << "tray entry added despite " << c.message;
  }
}

TEST_F(Form1Test, UnloadWritesThePositionAndNothingElse) {
  const std::string before =
      "; my settings\n[main]\ntop = 1500\nleft=3000\r\nicon1=korvi-up.ico\nicon2=korvi-up.ico\n"
      "[setting]\n"
      "timer=\nipaddress=127.0.0.1";
  WriteFile(Folder() / "korvi.ini", before);
  Form1 form(*window_);
  form.Form_Load();
  window_->SetTop(4320);
  window_->SetLeft(-1200);
  std::int16_t cancel = 0;
  form.Form_Unload(cancel);

  EXPECT_EQ(cancel, 0);
  EXPECT_EQ(
      ReadFile(Folder() / "korvi.ini"),
      "; my settings\n[main]\ntop = 4320\nleft=-1200\r\nicon1=korvi-up.ico\nicon2=korvi-up.ico\n"
      "[setting]\n"
      "timer=\nipaddress=127.0.0.1");
}

// The status part of each log line, newest first.
std::vector<std::wstring> Statuses(const std::wstring& log) {
  std::vector<std::wstring> statuses;
  std::size_t start = 0;
  while (start < log.size()) {
    const std::size_t end = log.find(L"\r\n", start);
    EXPECT_NE(end, std::wstring::npos) << "log line without CR LF";
    if (end == std::wstring::npos) break;
    const std::wstring line = log.substr(start, end - start);
    EXPECT_EQ(line.substr(8, 3), L" : ") << "log line " << platform::ToAnsi(line);
    statuses.push_back(line.substr(11));
    start = end + 2;
  }
  return statuses;
}

class TickTest : public Form1Test {
 protected:
  void Load(Form1& form) {
    WriteFile(Folder() / "korvi.ini", Settings("0", "0", "", "r1=1\r\nr2=2\r\n"));
    form.Form_Load();
  }
};

TEST_F(TickTest, OnlyAChangedReplyWritesALine) {
  const struct {
    std::vector<std::wstring> addresses;  // one tick each
    std::vector<std::wstring> statuses;   // newest first
    bool answered;
  } cases[] = {
      {{L"127.0.0.1", L"127.0.0.1", L"127.1"}, {L" 0"}, true},
      {{L"127.0.0.1", L"no.such.host", L"127.0.0.1"}, {L" 0", L"-1", L" 0"}, true},
      {{L"no.such.host", L"999.1.1.1", L"255.255.255.255"}, {L"-1"}, false},
      {{L"", L"127.0.0.1"}, {L" 0", L"-1"}, true},
  };
  for (const auto& c : cases) {
    window_ = platform::CreateForm(Form1::Design());
    Form1 form(*window_);
    Load(form);
    const std::uint32_t neutral = window_->Icon();
    for (const auto& address : c.addresses) {
      window_->Text1().SetText(address);
      form.Timer1_Timer();
    }
    EXPECT_EQ(Statuses(window_->Text2().Text()), c.statuses);
    EXPECT_EQ(form.LastReply.starts_with(L"kuy"), c.answered);
    EXPECT_EQ(form.LastReply.size(), 250u);
    EXPECT_NE(window_->Icon(), neutral);
    EXPECT_EQ(TaskIcon::nid.hIcon, window_->Icon()) << "tray entry not refreshed";
  }
}

TEST_F(TickTest, AnsweredAndNotAnsweredShowDifferentIcons) {
  Form1 form(*window_);
  Load(form);
  window_->Text1().SetText(L"127.0.0.1");
  form.Timer1_Timer();
  const std::uint32_t up = window_->Icon();
  window_->Text1().SetText(L"not an address");
  form.Timer1_Timer();
  EXPECT_NE(window_->Icon(), up);
  EXPECT_EQ(TaskIcon::nid.hIcon, window_->Icon());
}

// No real host answers with other data than it was sent, so the probe result is injected.
TEST_F(TickTest, DifferentDataInTheSameStateStillWritesALine) {
  int tick = 0;
  Form1 form(*window_, [&tick](const std::wstring&, const std::wstring&, EchoReply& reply) {
    reply.Data.replace(0, 4, ++tick % 2 ? L"kuyA" : L"kuyB");
    return 0;
  });
  Load(form);
  form.Timer1_Timer();
  form.Timer1_Timer();
  EXPECT_EQ(Statuses(window_->Text2().Text()), (std::vector<std::wstring>{L" 0", L" 0"}));
}

TEST_F(TickTest, TheLogKeepsTheNewestWholeLines) {
  int tick = 0;
  Form1 form(*window_, [&tick](const std::wstring&, const std::wstring&, EchoReply& reply) {
    ++tick;
    reply.Data[0] = static_cast<wchar_t>(tick % 2 ? 'k' : 'x');
    return tick;
  });
  Load(form);
  for (int i = 0; i < 300; ++i) form.Timer1_Timer();
  const std::wstring log = window_->Text2().Text();
  EXPECT_LE(log.size(), Form1::kLogLimit);
  const auto statuses = Statuses(log);
  ASSERT_GT(statuses.size(), 40u);
  EXPECT_EQ(statuses.front(), L" 300");
  EXPECT_EQ(statuses.back(), L" " + std::to_wstring(300 - statuses.size() + 1));
}

// Both icons loaded at start-up; a file deleted later still ends the run at the change of
// appearance that needs it, naming the key.
TEST_F(TickTest, AnIconDeletedWhileRunningEndsTheRunAfterTheLogLine) {
  for (const char* name : {"gone-up.ico", "gone-down.ico"}) {
    fs::copy_file(Folder() / "korvi-up.ico", Folder() / name, fs::copy_options::overwrite_existing);
  }
  WriteFile(Folder() / "korvi.ini",
            "[main]\ntop=0\nleft=0\nicon1=gone-up.ico\nicon2=gone-down.ico\n"
            "[setting]\nipaddress=127.0.0.1\n");
  Form1 form(*window_);
  form.Form_Load();
  for (const auto& [address, key, file] :
       {std::tuple{L"127.0.0.1", "icon1", "gone-up.ico"}, {L"x", "icon2", "gone-down.ico"}}) {
    fs::remove(Folder() / file);
    window_->Text1().SetText(address);
    try {
      form.Timer1_Timer();
      ADD_FAILURE() << "no error for icon \"" << file << "\"";
    } catch (const platform::RuntimeError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("[main] ") + key + " = \"" + file),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(Statuses(window_->Text2().Text()), (std::vector<std::wstring>{L"-1", L" 0"}));
}

}  // namespace
